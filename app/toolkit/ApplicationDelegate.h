#pragma once

#include <map>
#include <memory>
#include <string>

namespace vitrine {

class Window;

// What the application loop tells the application about its life. The loop owns the delegate
// and calls it on the main thread.
class ApplicationDelegate {
public:
    using LaunchOptions = std::map<std::string, std::string>;

    virtual ~ApplicationDelegate() = default;

    virtual bool didFinishLaunchingWithOptions(const LaunchOptions& options) = 0;
    virtual void applicationWillResignActive() = 0;
    virtual void applicationDidEnterBackground() = 0;
    virtual void applicationWillEnterForeground() = 0;
    virtual void applicationDidBecomeActive() = 0;
    virtual void applicationWillTerminate() = 0;

    virtual std::shared_ptr<Window> window() const = 0;
    virtual void setWindow(std::shared_ptr<Window> window) = 0;

protected:
    ApplicationDelegate() = default;
    ApplicationDelegate(const ApplicationDelegate&) = default;
    ApplicationDelegate& operator=(const ApplicationDelegate&) = default;
};

}  // namespace vitrine
