// The main menu as plain data; each backend translates it to its native menu bar.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/flags.h"

namespace lorvane {

// Everything a menu item can do. Backends and the app dispatch on it with exhaustive switches,
// so a new action does not compile until every one of them has said what it does with it.
enum class MenuAction {
    About,            // the standard about panel
    CheckForUpdates,  // the app's own: an update check that reports whatever it finds
    Hide,             // hide the app
    Quit,             // the platform's quit path, which ends in the app's shutdown
    Undo,
    Redo,
    Cut,
    Copy,
    Paste,
    SelectAll,
    OpenVoiceNotes,   // the app's own: the web app's voice view
    Minimize,         // the front window
    Zoom,             // the front window, between its own size and the screen's
};

// The keys held with an item's key equivalent. Command is the menu shortcut key of the platform
// the menu model comes from; a backend maps it to its own (Control on Linux desktops).
enum class KeyModifier : std::uint8_t {
    Shift = 1 << 0,
    Control = 1 << 1,
    Option = 1 << 2,
    Command = 1 << 3,
};
template <>
inline constexpr bool kIsFlagEnum<KeyModifier> = true;
using KeyModifiers = Flags<KeyModifier>;

// Who receives an item's action.
enum class MenuTarget {
    FirstResponder,  // standard actions: the application, the focused web view or the key window
    AppDelegate,     // the app's own commands
};

struct MenuItem {
    std::optional<MenuAction> action;  // absent: a separator, which has nothing else either
    std::string title;
    std::string keyEquivalent;  // empty: no shortcut; an upper-case letter adds Shift
    KeyModifiers modifiers = KeyModifier::Command;
    MenuTarget target = MenuTarget::FirstResponder;

    bool isSeparator() const { return !action; }
};

struct Menu {
    std::string title;
    std::vector<MenuItem> items;
};

struct MenuBar {
    std::vector<Menu> menus;  // left to right; the first is the application menu
    std::size_t windowsMenuIndex = 0;
};

}  // namespace lorvane
