// Which menu shortcut a key press names, whatever keyboard layout is active: pure rules over the
// keymap's entries, free of toolkit headers so the unit tests can check them without a display.
//
// A shortcut belongs to a physical key, named by the Latin letter it carries: with a Russian
// layout active, Ctrl+Q is still the key labelled Q, and on a French keyboard it is the key that
// carries Q there. Matching the keysym a key produces
// in the active layout (what GTK's accelerators do) misses both once no Latin keysym is there.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string_view>

#include "platform/menu.h"

namespace lorvane::gtk {

// A key with the modifiers held, as both a menu item and a key press come down to it.
struct KeyChord {
    char key = 0;  // a lower-case Latin letter, a digit or ASCII punctuation
    bool control = false;
    bool alt = false;
    bool shift = false;
    friend bool operator==(const KeyChord&, const KeyChord&) = default;
};

// The chord of `item`'s key equivalent, or absent when it has none. Primary is Control here, and
// an upper-case letter means Shift with the lower-case key.
inline std::optional<KeyChord> chordFor(const MenuItem& item) {
    if (item.isSeparator() || item.keyEquivalent.size() != 1) return std::nullopt;
    char key = item.keyEquivalent[0];
    if (key <= ' ' || key > '~') return std::nullopt;
    const bool upper = key >= 'A' && key <= 'Z';
    if (upper) key = static_cast<char>(key - 'A' + 'a');
    return KeyChord{key, item.modifiers.has(KeyModifier::Primary), item.modifiers.has(KeyModifier::Alt),
                    upper || item.modifiers.has(KeyModifier::Shift)};
}

// One entry of the keymap for a hardware key: the keysym (X11 and GDK share the values) it
// produces in a layout group at a shift level.
struct KeymapEntry {
    int group = 0;
    int level = 0;
    std::uint32_t keysym = 0;
};

namespace detail {

// Keysyms from 0x21 to 0x7e are the ASCII characters themselves.
inline std::optional<char> asciiOf(std::uint32_t keysym) {
    if (keysym < 0x21 || keysym > 0x7e) return std::nullopt;
    const char c = static_cast<char>(keysym);
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The main block of a US keyboard by X keycode (the evdev code plus 8, on X11 and Wayland
// alike): each row's characters from the keycode of its first key.
inline std::optional<char> usCharacterAt(std::uint32_t keycode) {
    static constexpr std::pair<std::uint32_t, std::string_view> kRows[] = {
        {10, "1234567890-="}, {24, "qwertyuiop[]"}, {38, "asdfghjkl;'`"}, {51, "\\zxcvbnm,./"},
    };
    for (const auto& [first, row] : kRows) {
        if (keycode >= first && keycode < first + row.size()) return row[keycode - first];
    }
    return std::nullopt;
}

}  // namespace detail

// What the key types unshifted in layout group `group`, or 0 where the keymap has nothing there.
inline std::uint32_t unshiftedKeysym(std::span<const KeymapEntry> entries, int group) {
    for (const KeymapEntry& entry : entries) {
        if (entry.group == group && entry.level == 0) return entry.keysym;
    }
    return 0;
}

// The character that names the key `keycode` for shortcuts: what it types unshifted in the
// active group if that is ASCII, else in the first group of the keymap where it is, else what
// it carries on a US keyboard (a keymap without any Latin layout, such as `ru` alone).
inline std::optional<char> shortcutKeyFor(std::uint32_t keycode, int activeGroup,
                                          std::span<const KeymapEntry> entries) {
    auto unshifted = [&](int group) { return detail::asciiOf(unshiftedKeysym(entries, group)); };
    if (auto active = unshifted(activeGroup)) return active;
    int lastGroup = -1;
    for (const KeymapEntry& entry : entries) lastGroup = std::max(lastGroup, entry.group);
    for (int group = 0; group <= lastGroup; ++group) {
        if (auto found = unshifted(group)) return found;
    }
    return detail::usCharacterAt(keycode);
}

// The modifier a key stands for by what it produces unshifted (Shift_L, Control_R, Alt_L ...);
// Control is the primary modifier here.
inline std::optional<KeyModifier> modifierNamedBy(std::uint32_t keysym) {
    switch (keysym) {
        case 0xffe1: case 0xffe2: return KeyModifier::Shift;    // Shift_L, Shift_R
        case 0xffe3: case 0xffe4: return KeyModifier::Primary;  // Control_L, Control_R
        case 0xffe7: case 0xffe8:                               // Meta_L, Meta_R
        case 0xffe9: case 0xffea: return KeyModifier::Alt;      // Alt_L, Alt_R
        default: return std::nullopt;
    }
}

// Modifier keys held down that did not apply their modifier. A layout-switching option such as
// grp:alt_shift_toggle makes Shift pressed after Alt produce ISO_Next_Group, so a person holding
// Alt+Shift and pressing V sends V with Alt alone; these keys stand for the missing modifier.
class HeldModifierKeys {
public:
    // A key went down: `unshifted` is what it produces at level 0 of its group, `produced` what
    // it produced now. A modifier key that produced its own modifier needs no help.
    void pressed(std::uint32_t keycode, std::uint32_t unshifted, std::uint32_t produced) {
        const auto named = modifierNamedBy(unshifted);
        if (named && modifierNamedBy(produced) != named) held_[keycode] = *named;
    }
    void released(std::uint32_t keycode) { held_.erase(keycode); }
    // The window lost the keyboard: its releases go elsewhere from now on.
    void clear() { held_.clear(); }

    KeyModifiers modifiers() const {
        KeyModifiers all;
        for (const auto& entry : held_) all |= entry.second;
        return all;
    }

private:
    std::map<std::uint32_t, KeyModifier> held_;
};

// The menu item whose shortcut is `chord`, or null.
inline const MenuItem* itemForChord(std::span<const MenuItem> items, const KeyChord& chord) {
    for (const MenuItem& item : items) {
        if (chordFor(item) == chord) return &item;
    }
    return nullptr;
}

}  // namespace lorvane::gtk
