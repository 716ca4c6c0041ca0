// The desktop's translation of menu key equivalents into GTK accelerators and action names.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "app/main_menu.h"
#include "platform/gtk/menu_keys.h"

namespace lorvane::gtk {
namespace {

MenuItem keyed(std::string key, std::optional<std::uint64_t> mask = std::nullopt) {
    MenuItem item;
    item.title = "x";
    item.action = "x:";
    item.keyEquivalent = std::move(key);
    item.modifierMask = mask;
    return item;
}

TEST(GtkAccelerator, TranslatesKeysAndMasks) {
    struct Case {
        const char* name;
        MenuItem item;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"default mask is Command, i.e. Control", keyed("q"), "<Control>q"},
        {"upper-case letter adds Shift", keyed("Z"), "<Control><Shift>z"},
        {"Option+Shift without Command", keyed("v", 655360), "<Alt><Shift>v"},
        {"Option+Shift with an upper-case key adds Shift once", keyed("V", 655360), "<Alt><Shift>v"},
        {"Command+Option", keyed("i", ModifierMask::Command | ModifierMask::Option), "<Control><Alt>i"},
        {"Control and Command collapse into one Control", keyed("k", ModifierMask::Command | ModifierMask::Control),
         "<Control>k"},
        {"an explicit empty mask means no modifier", keyed("m", 0), "m"},
        {"digits pass through", keyed("1"), "<Control>1"},
        {"punctuation goes by keysym name", keyed(","), "<Control>comma"},
        {"no key, no accelerator", keyed(""), std::nullopt},
        {"unnamed key, no accelerator", keyed("\x7f"), std::nullopt},
        {"multi-character key, no accelerator", keyed("ab"), std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(acceleratorFor(c.item), c.expected) << c.name;
    }
}

TEST(GtkAccelerator, SeparatorsHaveNoAccelerator) {
    MenuItem separator = keyed("q");
    separator.separator = true;
    EXPECT_EQ(acceleratorFor(separator), std::nullopt);
}

TEST(GtkAccelerator, ActionNamesAreValidAndKeepTheTargetsApart) {
    MenuItem copy = keyed("c");
    copy.action = "copy:";
    MenuItem delegateCopy = copy;
    delegateCopy.target = MenuTarget::AppDelegate;
    EXPECT_EQ(actionNameFor(copy), "std-copy");
    EXPECT_EQ(actionNameFor(delegateCopy), "app-copy");

    MenuItem odd = keyed("");
    odd.action = "do.this_now:";
    EXPECT_EQ(actionNameFor(odd), "std-do-this-now");
}

// Every item of the real menu bar gets a distinct action, and the shortcuts people rely on come
// out as GTK spells them.
TEST(GtkAccelerator, TheMainMenuTranslatesWithoutClashes) {
    std::map<std::string, std::string> acceleratorByAction;
    std::set<std::string> actions;
    for (const Menu& menu : buildMainMenu().menus) {
        for (const MenuItem& item : menu.items) {
            if (item.separator) continue;
            EXPECT_TRUE(actions.insert(actionNameFor(item)).second) << item.action;
            if (auto accelerator = acceleratorFor(item)) acceleratorByAction[item.action] = *accelerator;
        }
    }
    const std::map<std::string, std::string> expected = {
        {"hide:", "<Control>h"},      {"terminate:", "<Control>q"},          {"undo:", "<Control>z"},
        {"redo:", "<Control><Shift>z"}, {"cut:", "<Control>x"},              {"copy:", "<Control>c"},
        {"paste:", "<Control>v"},     {"selectAll:", "<Control>a"},          {"openVoiceNotes:", "<Alt><Shift>v"},
        {"performMiniaturize:", "<Control>m"},
    };
    EXPECT_EQ(acceleratorByAction, expected);
}

}  // namespace
}  // namespace lorvane::gtk
