#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vitrine {

// One widget of a layout file, as the loader read it: what to make, in which initial state, which
// outlets to bind it to and which action it triggers. Fields that its kind does not use keep
// their defaults.
struct LayoutWidget {
    enum class Kind { pictureView, button, slider, switchWidget, barItem, view };

    Kind kind = Kind::view;
    std::string outlet;
    std::vector<std::string> aliases;
    std::optional<std::string> action;
    std::string label;                   // button
    bool enabled = true;                 // button, slider
    bool on = false;                     // switch
    double minimum = 0.0;                // slider
    double maximum = 1.0;                // slider
    double value = 0.0;                  // slider
    std::optional<std::string> picture;  // pictureView
    std::string title;                   // barItem
};

}  // namespace vitrine
