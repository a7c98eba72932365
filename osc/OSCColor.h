#pragma once

#include <string>

namespace vitrine {

// The colour record of the OSC library: four components in 0.0 to 1.0. Other layers convert
// their own colour types to and from it.
// Thread safety: a plain value; distinct objects safe, shared objects safe for reading.
struct OSCColor {
    double red = 0.0;
    double green = 0.0;
    double blue = 0.0;
    double alpha = 1.0;

    // "OSCColor(r g b a)" with three decimals per component.
    std::string description() const;

    friend bool operator==(const OSCColor&, const OSCColor&) = default;
};

}  // namespace vitrine
