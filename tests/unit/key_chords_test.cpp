// Which menu shortcut a key press names: the physical key's Latin letter under any layout.
#include <gtest/gtest.h>

#include <vector>

#include "app/main_menu.h"
#include "platform/gtk/key_chords.h"

namespace lorvane::gtk {
namespace {

// Keysyms as X11 and GDK number them.
constexpr std::uint32_t kShortI = 0x6ca, kShortICapital = 0x6ea, kEm = 0x6cd, kTab = 0xff09;
constexpr std::uint32_t kShiftL = 0xffe1, kAltL = 0xffe9, kNextGroup = 0xfe08, kPrevGroup = 0xfe0a;

TEST(KeyChords, AKeyIsNamedByItsLatinLetterUnderAnyLayout) {
    struct Case {
        const char* layout;
        std::uint32_t keycode;
        int activeGroup;
        std::vector<KeymapEntry> entries;
        std::optional<char> expected;
    };
    const Case cases[] = {
        {"us", 24, 0, {{0, 0, 'q'}, {0, 1, 'Q'}}, 'q'},
        {"ru,us with ru active: the us group", 24, 0, {{0, 0, kShortI}, {0, 1, kShortICapital}, {1, 0, 'q'}}, 'q'},
        {"us,ru with ru active: the us group", 24, 1, {{0, 0, 'q'}, {0, 1, 'Q'}, {1, 0, kShortI}}, 'q'},
        {"ru alone: the key's place on a US keyboard", 24, 0, {{0, 0, kShortI}, {0, 1, kShortICapital}}, 'q'},
        {"ru alone, the bottom row", 55, 0, {{0, 0, kEm}}, 'v'},
        {"fr: the key that carries Q there", 38, 0, {{0, 0, 'q'}, {0, 1, 'Q'}}, 'q'},
        {"fr,ru with ru active: the French letter, not the US one", 24, 1, {{0, 0, 'a'}, {1, 0, kShortI}}, 'a'},
        {"a shifted Latin letter does not name the key", 38, 0, {{0, 0, kShortI}, {0, 1, 'Q'}}, 'a'},
        {"punctuation of the active layout", 61, 0, {{0, 0, '.'}, {0, 1, ','}}, '.'},
        {"a key without a character", 23, 0, {{0, 0, kTab}}, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(shortcutKeyFor(c.keycode, c.activeGroup, c.entries), c.expected) << c.layout;
    }
}

// The modifiers must match exactly: Ctrl+Shift+V is not paste, Alt+V is not the voice notes.
TEST(KeyChords, TheMainMenuItemsByChord) {
    std::vector<MenuItem> items;
    for (const Menu& menu : buildMainMenu().menus) items.insert(items.end(), menu.items.begin(), menu.items.end());
    struct Case {
        KeyChord chord;
        std::optional<MenuAction> expected;
    };
    const Case cases[] = {
        {{'q', true}, MenuAction::Quit},
        {{'z', true}, MenuAction::Undo},
        {{'z', true, false, true}, MenuAction::Redo},
        {{'v', true}, MenuAction::Paste},
        {{'v', false, true, true}, MenuAction::OpenVoiceNotes},
        {{'v', true, false, true}, std::nullopt},
        {{'v', false, true}, std::nullopt},
        {{'q'}, std::nullopt},
    };
    for (const Case& c : cases) {
        const MenuItem* item = itemForChord(items, c.chord);
        EXPECT_EQ(item ? item->action : std::nullopt, c.expected) << c.chord.key;
    }
}

// With grp:alt_shift_toggle the second of Alt and Shift switches the layout instead of applying
// its modifier; the key still stands for that modifier while it is held.
TEST(KeyChords, ModifierKeysThatSwitchedTheLayoutStillCount) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> pressed;  // (unshifted, produced) of keycodes 50, 51, ...
        std::vector<std::uint32_t> released;
        KeyModifiers expected;
    };
    const Case cases[] = {
        {"Alt, then Shift switching the layout", {{kAltL, kAltL}, {kShiftL, kNextGroup}}, {}, KeyModifier::Shift},
        {"Shift, then Alt switching the layout", {{kShiftL, kShiftL}, {kAltL, kPrevGroup}}, {}, KeyModifier::Option},
        {"modifiers that applied themselves", {{kAltL, kAltL}, {kShiftL, kShiftL}}, {}, {}},
        {"released again", {{kAltL, kAltL}, {kShiftL, kNextGroup}}, {51}, {}},
        {"a letter key", {{'v', kEm}}, {}, {}},
    };
    for (const Case& c : cases) {
        HeldModifierKeys held;
        std::uint32_t keycode = 50;
        for (const auto& [unshifted, produced] : c.pressed) held.pressed(keycode++, unshifted, produced);
        for (std::uint32_t code : c.released) held.released(code);
        EXPECT_EQ(held.modifiers(), c.expected) << c.name;
    }
    HeldModifierKeys held;
    held.pressed(50, kShiftL, kNextGroup);
    held.clear();
    EXPECT_EQ(held.modifiers(), KeyModifiers{}) << "the window lost the keyboard";
}

}  // namespace
}  // namespace lorvane::gtk
