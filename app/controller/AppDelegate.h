#pragma once

#include <memory>

#include "app/toolkit/ApplicationDelegate.h"
#include "app/toolkit/Window.h"

namespace vitrine {

// The application's delegate. Everything happens in the layouts and the control screen, so
// launching succeeds without doing anything, and going to the background or terminating changes
// nothing: the monitor's timer and the ports live on.
class AppDelegate : public ApplicationDelegate {
public:
    bool didFinishLaunchingWithOptions(const LaunchOptions& options) override;
    void applicationWillResignActive() override {}
    void applicationDidEnterBackground() override {}
    void applicationWillEnterForeground() override {}
    void applicationDidBecomeActive() override {}
    void applicationWillTerminate() override {}

    std::shared_ptr<Window> window() const override { return theWindow; }
    void setWindow(std::shared_ptr<Window> window) override { theWindow = std::move(window); }

private:
    std::shared_ptr<Window> theWindow;
};

}  // namespace vitrine
