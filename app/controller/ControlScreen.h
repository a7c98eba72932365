#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "app/controller/SceneControl.h"
#include "app/controller/ShowcaseDefaults.h"
#include "basics/Date.h"
#include "basics/MainLoopTimer.h"
#include "osc/OSCColor.h"
#include "osc/OSCManager.h"
#include "osc/OSCManagerDelegate.h"

namespace vitrine {

// The control screen as both hosts share it: the scenes of SceneControl, plus the connection
// monitor and the set-up steps that ViewController and MyView run in their own order. Once a
// second the monitor shows whether the showcase answered "/connected" 1 since the last tick, then
// asks again with "/is". When the indicator turns from disconnected to connected, the showcase
// is sent the state the screen holds (sendHeldState), since a showcase that was restarted or
// out of reach has lost or missed it.
//
// Hosts are created with std::make_shared: the set-up hands the manager a weak reference to the
// screen, and the timer keeps the screen alive for as long as it runs.
// Thread safety: everything runs on the main thread (MainLoop::current()) except
// receivedOSCMessage, which the manager calls on a receiving thread and which touches only `flag`.
class ControlScreen : public SceneControl,
                      public OSCManagerDelegate,
                      public std::enable_shared_from_this<ControlScreen> {
public:
    static constexpr std::chrono::duration<double> tickInterval{1.0};
    static constexpr std::string_view connectedTitle = "Connect\u00e9";
    static constexpr std::string_view unconnectedTitle = "D\u00e9connect\u00e9";
    // Half-transparent green and red.
    static constexpr OSCColor connectedComponents{0.0, 0.8, 0.0, 0.5};
    static constexpr OSCColor unconnectedComponents{1.0, 0.0, 0.0, 0.5};

    ~ControlScreen() override;

    // Where the ports of the next set-up point; change before the set-up runs.
    ShowcaseEndpoints endpoints;

    // Owns both ports for the life of the screen; empty before set-up.
    std::shared_ptr<OSCManager> manager;
    // 1 once "/connected" 1 has arrived since the last tick.
    std::atomic<int32_t> flag{0};
    // What the last tick showed; the screen starts out not having heard the showcase.
    bool showcaseAnswered = false;
    OSCColor connectedColor;
    OSCColor unconnectedColor;
    // The main loop owns the timer.
    std::weak_ptr<MainLoopTimer> repeatingTimer;
    // What userInfo gave when the timer was scheduled.
    std::map<std::string, Date> timerUserInfo;

    // One tick of the monitor.
    void targetMethod(const std::shared_ptr<MainLoopTimer>& timer);
    // Receiving thread: notes a "/connected" whose first value is the 32-bit integer 1.
    void receivedOSCMessage(const std::shared_ptr<OSCMessage>& message) override;
    void connect();
    void unConnect();
    // The timer's user information: "StartDate", the moment it is asked for.
    std::map<std::string, Date> userInfo() const;

    // Binds a widget of a loaded layout to the outlet of that name. False, with nothing bound,
    // for an unknown outlet or a widget of the wrong kind.
    bool bindOutlet(std::string_view name, const std::shared_ptr<Widget>& widget) override;
    std::weak_ptr<LayoutOwner> weakOwner() override { return weak_from_this(); }

    // Stops the timer and closes both ports, so that the screen can go away before the process
    // does (at shutdown, and between tests). The screen stays usable but deaf and mute.
    void tearDown();

protected:
    ControlScreen() = default;

    // Set-up steps, in the names the hosts' set-ups are written in.
    // Makes the process-wide address space, before anything can make a node.
    void ensureAddressSpaceExists();
    void createColours();
    // Stands the dimmer upright; MyView keeps its frame, ViewController lets it follow the turn.
    void rotateFader(bool keepFrame);
    void openPorts();
    void scheduleTimer();
};

}  // namespace vitrine
