// The main menu as plain data; each backend translates it to its native menu bar.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lorvane {

namespace ModifierMask {
inline constexpr std::uint64_t Shift = 131072;
inline constexpr std::uint64_t Control = 262144;
inline constexpr std::uint64_t Option = 524288;
inline constexpr std::uint64_t Command = 1048576;
}  // namespace ModifierMask

// Who receives an item's action.
enum class MenuTarget {
    FirstResponder,  // standard actions: the application, the focused web view or the key window
    AppDelegate,     // the app's own commands
};

struct MenuItem {
    bool separator = false;
    std::string title;
    std::string action;       // selector name, e.g. "copy:" or "openVoiceNotes:"
    std::string keyEquivalent;  // empty: no shortcut; an upper-case letter adds Shift
    std::optional<std::uint64_t> modifierMask;  // absent: the platform default (Command)
    MenuTarget target = MenuTarget::FirstResponder;
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
