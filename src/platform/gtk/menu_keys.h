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
    if (item.separator || item.keyEquivalent.empty()) return std::nullopt;
    const std::uint64_t mask = item.modifierMask.value_or(ModifierMask::Command);
    bool control = (mask & (ModifierMask::Command | ModifierMask::Control)) != 0;
    bool alt = (mask & ModifierMask::Option) != 0;
    bool shift = (mask & ModifierMask::Shift) != 0;

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

// A GAction name for a menu action (valid characters only: letters, digits and '-'), distinct for
// the two targets so an app command can never collide with a standard action of the same name:
// "std-copy" for "copy:" sent to the first responder, "app-openVoiceNotes" for the delegate's.
inline std::string actionNameFor(const MenuItem& item) {
    std::string name = item.target == MenuTarget::AppDelegate ? "app-" : "std-";
    for (const char c : item.action) {
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (alnum) {
            name += c;
        } else if (c != ':') {
            name += '-';
        }
    }
    return name;
}

}  // namespace lorvane::gtk
