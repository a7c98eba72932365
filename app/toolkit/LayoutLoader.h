#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/toolkit/LayoutWidget.h"

namespace vitrine {

class LayoutOwner;
class WidgetFactory;

// Reads the layout files built into the program ("Main", "myViewXib") and binds their widgets to
// an owner's outlets by name, the way a screen's layout is loaded with an owner.
// Thread safety: stateless; loading touches the owner and the front end, so it runs on the main
// thread like them.
class LayoutLoader {
public:
    struct Layout {
        std::string name;
        std::string host;
        std::optional<LayoutWidget> root;
        std::vector<LayoutWidget> widgets;
    };

    // Makes every widget of the named layout with the front end and binds it (and its aliases)
    // to the owner's outlets; the root first. False, with a log line, when the layout is missing
    // or malformed (nothing is made then) or when a widget could not be made or bound (the
    // others are).
    static bool loadNibNamed(std::string_view name, LayoutOwner& owner, WidgetFactory& frontEnd);

    // The layout file's text, parsed and checked; nothing, with a log line naming the fault,
    // when it is not a "vitrine-layout/1" file of known widget kinds.
    static std::optional<Layout> parse(std::string_view text);
    // The text of a built-in layout, or nothing.
    static std::optional<std::string_view> layoutText(std::string_view name);
};

}  // namespace vitrine
