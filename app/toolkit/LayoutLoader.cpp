#include "app/toolkit/LayoutLoader.h"

#include <nlohmann/json.hpp>

#include <algorithm>

#include "app/toolkit/EmbeddedFile.h"
#include "app/toolkit/LayoutOwner.h"
#include "app/toolkit/WidgetFactory.h"
#include "basics/Log.h"

namespace vitrine {

namespace {

using nlohmann::json;
using Kind = LayoutWidget::Kind;

constexpr std::string_view layoutFormat = "vitrine-layout/1";

std::optional<Kind> kindNamed(const std::string& name) {
    if (name == "pictureView") return Kind::pictureView;
    if (name == "button") return Kind::button;
    if (name == "slider") return Kind::slider;
    if (name == "switch") return Kind::switchWidget;
    if (name == "barItem") return Kind::barItem;
    if (name == "view") return Kind::view;
    return std::nullopt;
}

// Reads one optional member of the expected JSON type; a member of another type is a fault.
template <typename T>
bool readMember(const json& object, const char* key, T& into) {
    const auto found = object.find(key);
    if (found == object.end()) return true;
    if constexpr (std::is_same_v<T, bool>) {
        if (!found->is_boolean()) return false;
    } else if constexpr (std::is_same_v<T, double>) {
        if (!found->is_number()) return false;
    } else {
        if (!found->is_string()) return false;
    }
    into = found->get<T>();
    return true;
}

// One widget entry, or the reason it is refused.
std::optional<LayoutWidget> readWidget(const json& entry, std::string& fault) {
    if (!entry.is_object()) {
        fault = "a widget is not an object";
        return std::nullopt;
    }
    const auto kind = entry.find("kind");
    const auto outlet = entry.find("outlet");
    if (kind == entry.end() || !kind->is_string() || outlet == entry.end() ||
        !outlet->is_string() || outlet->get<std::string>().empty()) {
        fault = "a widget has no kind or outlet";
        return std::nullopt;
    }
    LayoutWidget widget;
    widget.outlet = outlet->get<std::string>();
    const auto known = kindNamed(kind->get<std::string>());
    if (!known) {
        fault = "widget " + widget.outlet + " is of an unknown kind";
        return std::nullopt;
    }
    widget.kind = *known;
    std::string action;
    const bool membersOk =
        readMember(entry, "action", action) && readMember(entry, "label", widget.label) &&
        readMember(entry, "enabled", widget.enabled) && readMember(entry, "on", widget.on) &&
        readMember(entry, "min", widget.minimum) && readMember(entry, "max", widget.maximum) &&
        readMember(entry, "value", widget.value) && readMember(entry, "title", widget.title);
    if (!membersOk) {
        fault = "widget " + widget.outlet + " has a member of the wrong type";
        return std::nullopt;
    }
    if (entry.contains("action")) widget.action = action;
    if (const auto picture = entry.find("picture"); picture != entry.end()) {
        if (picture->is_string())
            widget.picture = picture->get<std::string>();
        else if (!picture->is_null()) {
            fault = "widget " + widget.outlet + " has a picture that is not a name";
            return std::nullopt;
        }
    }
    if (const auto aliases = entry.find("aliases"); aliases != entry.end()) {
        if (!aliases->is_array()) {
            fault = "widget " + widget.outlet + " has aliases that are not a list";
            return std::nullopt;
        }
        for (const auto& alias : *aliases) {
            if (!alias.is_string()) {
                fault = "widget " + widget.outlet + " has an alias that is not a name";
                return std::nullopt;
            }
            widget.aliases.push_back(alias.get<std::string>());
        }
    }
    return widget;
}

bool makeAndBind(const LayoutWidget& layoutEntry, LayoutOwner& owner, WidgetFactory& frontEnd,
                 const std::string& layoutName) {
    const auto widget = frontEnd.makeWidget(layoutEntry, owner.weakOwner());
    if (!widget) {
        Log::write("\t\terr: layout %s: no widget could be made for %s", layoutName.c_str(),
                   layoutEntry.outlet.c_str());
        return false;
    }
    bool bound = true;
    std::vector<std::string> outlets{layoutEntry.outlet};
    outlets.insert(outlets.end(), layoutEntry.aliases.begin(), layoutEntry.aliases.end());
    for (const auto& outlet : outlets) {
        if (owner.bindOutlet(outlet, widget)) continue;
        Log::write("\t\terr: layout %s: outlet %s cannot take its widget", layoutName.c_str(),
                   outlet.c_str());
        bound = false;
    }
    return bound;
}

}  // namespace

std::optional<LayoutLoader::Layout> LayoutLoader::parse(std::string_view text) {
    const json document = json::parse(text, nullptr, false);
    std::string fault;
    Layout layout;
    if (document.is_discarded() || !document.is_object()) {
        fault = "not a JSON object";
    } else if (!document.contains("format") || document["format"] != layoutFormat) {
        fault = "not a vitrine-layout/1 file";
    } else if (!document.contains("name") || !document["name"].is_string() ||
               !document.contains("widgets") || !document["widgets"].is_array()) {
        fault = "no name or no widget list";
    } else {
        layout.name = document["name"].get<std::string>();
        if (document.contains("host") && document["host"].is_string())
            layout.host = document["host"].get<std::string>();
        if (document.contains("root")) {
            layout.root = readWidget(document["root"], fault);
            if (layout.root && layout.root->kind != Kind::view) {
                layout.root.reset();
                fault = "its root is not a view";
            }
        }
        for (const auto& entry : document["widgets"]) {
            if (!fault.empty()) break;
            if (auto widget = readWidget(entry, fault))
                layout.widgets.push_back(std::move(*widget));
        }
    }
    if (fault.empty()) return layout;
    Log::write("\t\terr: layout refused: %s", fault.c_str());
    return std::nullopt;
}

std::optional<std::string_view> LayoutLoader::layoutText(std::string_view name) {
    const std::string fileName = std::string(name) + ".layout.json";
    const auto files = embeddedLayouts();
    const auto found = std::find_if(files.begin(), files.end(), [&](const EmbeddedFile& file) {
        return file.name == fileName;
    });
    if (found == files.end()) return std::nullopt;
    return found->bytes;
}

bool LayoutLoader::loadNibNamed(std::string_view name, LayoutOwner& owner,
                                WidgetFactory& frontEnd) {
    const std::string layoutName(name);
    const auto text = layoutText(name);
    if (!text) {
        Log::write("\t\terr: layout %s not found", layoutName.c_str());
        return false;
    }
    const auto layout = parse(*text);
    if (!layout) return false;
    bool complete = true;
    if (layout->root) complete = makeAndBind(*layout->root, owner, frontEnd, layoutName);
    for (const auto& widget : layout->widgets)
        complete = makeAndBind(widget, owner, frontEnd, layoutName) && complete;
    return complete;
}

}  // namespace vitrine
