#pragma once

#include <optional>
#include <set>
#include <string>
#include <utility>

#include "app/toolkit/Widget.h"

namespace vitrine {

// The background picture of the control screen.
class PictureView : public Widget {
public:
    explicit PictureView(std::set<std::string> knownPictures = {})
        : knownPictures(std::move(knownPictures)) {}

    // The application's picture resources, the names this view can find.
    std::set<std::string> knownPictures;

    // Shows the resource of that name; a name that is not among the resources leaves the view
    // empty rather than keeping the previous picture.
    void showPicture(const std::string& name) {
        std::optional<std::string> next;
        if (knownPictures.contains(name)) next = name;
        if (next == shown) return;
        shown = std::move(next);
        noteChange();
    }
    // The picture on show, or nothing when the view is empty.
    const std::optional<std::string>& picture() const { return shown; }

private:
    std::optional<std::string> shown;
};

}  // namespace vitrine
