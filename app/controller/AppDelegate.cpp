#include "app/controller/AppDelegate.h"

namespace vitrine {

bool AppDelegate::didFinishLaunchingWithOptions(const LaunchOptions&) {
    return true;
}

}  // namespace vitrine
