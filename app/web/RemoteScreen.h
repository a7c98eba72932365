#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/toolkit/WidgetFactory.h"

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
// Refused input (unreadable, too long, unknown action, value out of range, disabled control)
// changes nothing and gets an error text meant for the one page that sent it.
// Thread safety: none; everything runs on the main thread, as the widgets' owner does.
class RemoteScreen : public WidgetFactory {
public:
    // The longest page message taken; pages send a few dozen bytes.
    static constexpr size_t maxMessageSize = 4096;

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

    // One text message from a page.
    Reply handleClientText(std::string_view text);
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
        "Sc\u00e8ne indisponible : la vitrine est \u00e9teinte.";
    static constexpr std::string_view faderUnavailable =
        "Intensit\u00e9 indisponible : la vitrine est \u00e9teinte.";
    static constexpr std::string_view badFaderValue = "Valeur d'intensit\u00e9 invalide.";
    static constexpr std::string_view badSwitchState = "\u00c9tat d'interrupteur invalide.";
    static constexpr std::string_view unknownActionPrefix = "Action inconnue : ";

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
};

}  // namespace vitrine
