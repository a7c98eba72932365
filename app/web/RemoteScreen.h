#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "app/toolkit/WidgetFactory.h"
#include "basics/MainLoopTimer.h"

namespace vitrine {

class BarItem;
class Control;
class PictureView;
class Slider;
class Switch;

// The control screen as the web pages see it: the toolkit's widgets that a layout asks for, whose
// state every page draws, and the page protocol's input side. A page never changes the state
// itself: its touches arrive here as JSON text, are checked, and run the owner's actions exactly
// as touches would; the resulting state goes back to all pages.
//
// Refused input (unreadable, too long, unknown action, value out of range, late, disabled
// control) changes nothing and gets an error text meant for the one page that sent it. An
// accepted action that changes nothing the pages show asks for the state to go back to its
// sender, so that a page waiting for confirmation always gets one.
//
// No touch takes effect long after it was made, whatever the link did meanwhile, and without
// trusting the tablet's clock: the server issues numbered heartbeats, a page echoes the latest
// one it heard with each action, and an action whose heartbeat was issued more than
// maxActionAge ago (or never) is refused. A page that hears no heartbeat stops sending.
//
// The dimmer is bounded: a page (or anything speaking the protocol) may send values far faster
// than the showcase should get scenes. A value takes the slider at once, but the whole-room scene
// goes out at most once per faderInterval: the first at once, the later ones held and the last
// of them sent by a main-loop timer when the interval is over. A value equal to the slider's
// sends nothing, and any other action drops a held one, which it replaces.
// Thread safety: none; everything runs on the main thread, as the widgets' owner does.
class RemoteScreen : public WidgetFactory {
public:
    // The longest page message taken; pages send a few dozen bytes.
    static constexpr size_t maxMessageSize = 4096;
    // At most about 30 dimmed scenes a second reach the showcase.
    static constexpr std::chrono::duration<double> faderInterval{1.0 / 30.0};
    // The oldest heartbeat an action may echo; the server issues one about every second.
    static constexpr std::chrono::seconds maxActionAge{2};
    using Clock = std::chrono::steady_clock;

    struct Reply {
        // For the sender only, as an "error" message.
        std::optional<std::string> error;
        // The sender is behind (it asked for what already is): send it the state again.
        bool resendState = false;
    };

    // knownPictures: the picture names the pages can load; any other name clears the picture.
    explicit RemoteScreen(std::set<std::string> knownPictures);
    ~RemoteScreen() override;
    RemoteScreen(const RemoteScreen&) = delete;
    RemoteScreen& operator=(const RemoteScreen&) = delete;

    std::shared_ptr<Widget> makeWidget(const LayoutWidget& layoutEntry,
                                       const std::weak_ptr<LayoutOwner>& owner) override;

    // One text message from a page, arrived at `now`.
    Reply handleClientText(std::string_view text, Clock::time_point now = Clock::now());
    // Issues the next heartbeat at `now` and returns its "heartbeat" message.
    std::string nextHeartbeat(Clock::time_point now = Clock::now());
    // The message of the latest heartbeat still young enough to be echoed, issuing one if none
    // is: what a page that just connected is given.
    std::string latestHeartbeat(Clock::time_point now = Clock::now());
    // The "state" message: picture, switch, controls and indicator.
    std::string stateMessage() const;
    // The state as a page gets it on connecting: with "scenes", the scene buttons of the screen
    // in screen order, each with its action, outlet, label and picture.
    std::string firstStateMessage() const;
    // An "error" message carrying text.
    static std::string errorMessage(std::string_view text);

    // Called after every change of what the pages show, at the moment of the change; a handler
    // that broadcasts should defer to the end of the running action, so that an action that
    // changes several widgets (or one twice, like a tick) is sent once, in its final state.
    void setChangeHandler(std::function<void()> handler);
    // Counts the changes so far.
    uint64_t changeCount() const;

    // Error texts, as the pages show them.
    static constexpr std::string_view unreadable = "Message illisible.";
    static constexpr std::string_view tooLong = "Message trop long.";
    static constexpr std::string_view noAction = "Message sans action.";
    static constexpr std::string_view sceneUnavailable =
        "Sc\u00e8ne indisponible\u00a0: la vitrine est \u00e9teinte.";
    static constexpr std::string_view faderUnavailable =
        "Intensit\u00e9 indisponible\u00a0: la vitrine est \u00e9teinte.";
    static constexpr std::string_view badFaderValue = "Valeur d'intensit\u00e9 invalide.";
    static constexpr std::string_view badSwitchState = "\u00c9tat d'interrupteur invalide.";
    static constexpr std::string_view unknownActionPrefix = "Action inconnue\u00a0: ";
    static constexpr std::string_view lateAction =
        "Commande arriv\u00e9e trop tard, ignor\u00e9e\u00a0: le contr\u00f4leur ne r\u00e9pondait "
        "plus. Recommencez si besoin.";
    static constexpr std::string_view undatedAction =
        "Commande sans battement du contr\u00f4leur, ignor\u00e9e\u00a0: rechargez la page.";

private:
    struct Changes;
    struct Target {
        std::string action;
        std::shared_ptr<Widget> widget;
        std::weak_ptr<LayoutOwner> owner;
    };

    std::shared_ptr<Changes> changes;
    std::set<std::string> pictures;
    std::vector<std::shared_ptr<Widget>> widgets;
    std::shared_ptr<PictureView> picture;
    std::shared_ptr<Switch> masterSwitch;
    std::shared_ptr<Slider> fader;
    std::shared_ptr<BarItem> indicator;
    std::vector<std::pair<std::string, std::shared_ptr<Control>>> buttons;
    std::vector<Target> targets;

    struct Beat {
        uint64_t id;
        Clock::time_point issued;
    };
    // Why the action in `message` comes too late, if it does.
    std::optional<std::string> lateness(const nlohmann::json& message, Clock::time_point now);
    void forgetBeatsBefore(Clock::time_point oldest);
    static std::string heartbeatMessage(uint64_t id);
    // Issued and still young enough, oldest first.
    std::deque<Beat> beats;
    uint64_t lastBeatId = 0;

    void performFader(const Target& target);
    void sendHeldFader();
    void dropHeldFader();
    std::chrono::steady_clock::time_point faderSentAt{};
    // Set while a value waits for the end of the interval; its timer fires once.
    std::optional<Target> heldFader;
    std::shared_ptr<MainLoopTimer> faderTimer;
};

}  // namespace vitrine
