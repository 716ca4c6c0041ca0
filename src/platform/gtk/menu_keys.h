// Pure translation of the portable menu's key equivalents and actions into GTK's textual forms.
// Header-only and free of toolkit headers, so the unit tests can check it without a display.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/menu.h"

namespace lorvane::gtk {

// The GTK accelerator for `item` ("<Control>q", "<Control><Shift>z", "<Alt><Shift>v"), or absent
// when the item has no shortcut or its key has no name we know. Command and Control both become
// <Control> (Linux has no separate Command key), Option becomes <Alt>, and an upper-case letter
// means Shift plus the lower-case key, as on the platform the menu model comes from.
inline std::optional<std::string> acceleratorFor(const MenuItem& item) {
    if (item.isSeparator() || item.keyEquivalent.empty()) return std::nullopt;
    bool control = item.modifiers.has(KeyModifier::Command) || item.modifiers.has(KeyModifier::Control);
    bool alt = item.modifiers.has(KeyModifier::Option);
    bool shift = item.modifiers.has(KeyModifier::Shift);

    std::string key;
    if (item.keyEquivalent.size() == 1) {
        const char c = item.keyEquivalent[0];
        if (c >= 'A' && c <= 'Z') {
            shift = true;
            key = std::string(1, static_cast<char>(c - 'A' + 'a'));
        } else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
            key = std::string(1, c);
        } else {
            // Punctuation goes by its X keysym name, which is what GTK's accelerator parser reads.
            static constexpr std::pair<char, std::string_view> kNames[] = {
                {',', "comma"},     {'.', "period"},       {'/', "slash"},        {'-', "minus"},
                {'=', "equal"},     {';', "semicolon"},    {'\'', "apostrophe"},  {'[', "bracketleft"},
                {']', "bracketright"}, {'\\', "backslash"}, {'`', "grave"},        {' ', "space"},
            };
            for (const auto& [character, name] : kNames) {
                if (character == c) key = name;
            }
        }
    }
    if (key.empty()) return std::nullopt;

    std::string accelerator;
    if (control) accelerator += "<Control>";
    if (alt) accelerator += "<Alt>";
    if (shift) accelerator += "<Shift>";
    return accelerator + key;
}

// The action's part of a GAction name (letters, digits and '-' only, as GAction names must be).
inline std::string_view actionIdFor(MenuAction action) {
    switch (action) {
        case MenuAction::About: return "about";
        case MenuAction::CheckForUpdates: return "check-for-updates";
        case MenuAction::Hide: return "hide";
        case MenuAction::Quit: return "quit";
        case MenuAction::Undo: return "undo";
        case MenuAction::Redo: return "redo";
        case MenuAction::Cut: return "cut";
        case MenuAction::Copy: return "copy";
        case MenuAction::Paste: return "paste";
        case MenuAction::SelectAll: return "select-all";
        case MenuAction::OpenVoiceNotes: return "open-voice-notes";
        case MenuAction::Minimize: return "minimize";
        case MenuAction::Zoom: return "zoom";
    }
    return "unknown";  // not reached: the switch names every action
}

// The GAction name of a menu item, distinct for the two targets so an app command can never
// collide with a standard action of the same kind: "std-copy" for copy sent down the responder
// chain, "app-open-voice-notes" for the delegate's command. Separators have none.
inline std::string actionNameFor(const MenuItem& item) {
    if (item.isSeparator()) return {};
    const std::string_view prefix = item.target == MenuTarget::AppDelegate ? "app-" : "std-";
    return std::string(prefix) + std::string(actionIdFor(*item.action));
}

}  // namespace lorvane::gtk
