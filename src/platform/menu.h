// The main menu as plain data; each backend translates it to its native menu bar.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/flags.h"

namespace lorvane {

// The app's own commands: the app delegate carries them out (ApplicationDelegate::performCommand).
enum class AppCommand {
    About,            // the about window
    CheckForUpdates,  // an update check that reports whatever it finds
    Quit,             // the platform's quit path, which ends in the app's shutdown
    OpenVoiceNotes,   // the web app's voice view
};

// The standard actions: the backend carries them out on the focused web view (the edit actions)
// or the front window, and the app never sees them.
enum class StandardAction {
    Hide,  // the app out of sight
    Undo,
    Redo,
    Cut,
    Copy,
    Paste,
    SelectAll,
    Minimize,  // the front window
    Zoom,      // the front window, between its own size and the screen's
};

// What a menu item does, and so who does it.
using MenuAction = std::variant<AppCommand, StandardAction>;

// The keys held with an item's key equivalent. Primary is the menu shortcut key of the desktop
// (Control on Linux, the command key elsewhere).
enum class KeyModifier : std::uint8_t {
    Shift = 1 << 0,
    Alt = 1 << 1,
    Primary = 1 << 2,
};
template <>
inline constexpr bool kIsFlagEnum<KeyModifier> = true;
using KeyModifiers = Flags<KeyModifier>;

struct MenuItem {
    std::optional<MenuAction> action;  // absent: a separator, which has nothing else either
    std::string title;
    std::string keyEquivalent;  // empty: no shortcut; an upper-case letter adds Shift
    KeyModifiers modifiers = KeyModifier::Primary;

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
