#pragma once

#include <set>
#include <string>

#include "app/controller/SceneControl.h"

namespace vitrine::test {

// The pictures a screen can show, as the controller knows them.
inline std::set<std::string> allPictures() {
    std::set<std::string> names;
    for (const auto name : SceneControl::pictureNames()) names.emplace(name);
    return names;
}

}  // namespace vitrine::test
