#include "osc/OSCColor.h"

#include "basics/Log.h"

namespace vitrine {

std::string OSCColor::description() const {
    return stringWithFormat("OSCColor(%.3f %.3f %.3f %.3f)", red, green, blue, alpha);
}

}  // namespace vitrine
