// How the desktop matches the menu's key equivalents to the keys a person presses.
#include <gtest/gtest.h>

#include <tuple>

#include "app/main_menu.h"
#include "platform/gtk/key_chords.h"

namespace lorvane::gtk {

// The modifiers must match exactly: Ctrl+Shift+V is not paste, Alt+V is not the voice notes.
TEST(MenuKeys, AChordNamesTheItemWithExactlyItsModifiers) {
    std::vector<MenuItem> items;
    for (const Menu& menu : buildMainMenu().menus) items.insert(items.end(), menu.items.begin(), menu.items.end());
    const std::pair<KeyChord, std::optional<MenuAction>> rows[] = {
        {{'v', true}, StandardAction::Paste},      {{'v', false, true, true}, AppCommand::OpenVoiceNotes},
        {{'v', true, false, true}, std::nullopt}, {{'v', false, true}, std::nullopt},
        {{'z', true, true}, std::nullopt},        {{'q'}, std::nullopt},
    };
    for (const auto& [chord, expected] : rows) {
        const MenuItem* item = itemForChord(items, chord);
        EXPECT_EQ(item ? item->action : std::nullopt, expected) << chord.key;
    }
}

// The layouts a desktop test switches to show the common cases; these are the rest of the rule.
TEST(MenuKeys, AKeyIsNamedByTheFirstLatinLetterItTypes) {
    constexpr std::uint32_t kShortI = 0x6ca, kTab = 0xff09;
    // What the row shows, the key, the active layout, what the key types in each layout and level,
    // and the letter that names it.
    const std::tuple<const char*, std::uint32_t, int, std::vector<KeymapEntry>, std::optional<char>> rows[] = {
        {"fr,ru with ru active: the French letter, not the US one", 24, 1, {{0, 0, 'a'}, {1, 0, kShortI}}, 'a'},
        {"a Latin letter on the shift level does not name the key", 38, 0, {{0, 0, kShortI}, {0, 1, 'Q'}}, 'a'},
        {"a key without a character", 23, 0, {{0, 0, kTab}}, std::nullopt},
    };
    for (const auto& [name, keycode, group, entries, expected] : rows) {
        EXPECT_EQ(shortcutKeyFor(keycode, group, entries), expected) << name;
    }
}

// With grp:alt_shift_toggle the second of Alt and Shift switches the layout instead of applying
// its modifier; the key still stands for that modifier while it is held, and no longer after.
TEST(MenuKeys, ModifierKeysThatSwitchedTheLayoutCountWhileHeld) {
    constexpr std::uint32_t kShiftL = 0xffe1, kAltL = 0xffe9, kPrevGroup = 0xfe0a;
    HeldModifierKeys held;
    held.pressed(50, kShiftL, kShiftL);
    held.pressed(64, kAltL, kPrevGroup);
    EXPECT_EQ(held.modifiers(), KeyModifiers(KeyModifier::Alt));
    held.released(64);
    EXPECT_EQ(held.modifiers(), KeyModifiers{});
    held.pressed(64, kAltL, kPrevGroup);
    held.clear();  // the window lost the keyboard, and with it the key's release
    EXPECT_EQ(held.modifiers(), KeyModifiers{});
}

}  // namespace lorvane::gtk
