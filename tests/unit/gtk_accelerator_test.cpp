// The desktop's translation of menu key equivalents into GTK accelerators and action names.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "app/main_menu.h"
#include "platform/gtk/menu_keys.h"

namespace lorvane::gtk {
namespace {

MenuItem keyed(std::string key, KeyModifiers modifiers = KeyModifier::Command) {
    MenuItem item;
    item.action = MenuAction::About;
    item.title = "x";
    item.keyEquivalent = std::move(key);
    item.modifiers = modifiers;
    return item;
}

TEST(GtkAccelerator, TranslatesKeysAndMasks) {
    struct Case {
        const char* name;
        MenuItem item;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"Command is Control", keyed("q"), "<Control>q"},
        {"upper-case letter adds Shift", keyed("Z"), "<Control><Shift>z"},
        {"Option+Shift without Command", keyed("v", KeyModifier::Option | KeyModifier::Shift), "<Alt><Shift>v"},
        {"Option+Shift with an upper-case key adds Shift once", keyed("V", KeyModifier::Option | KeyModifier::Shift),
         "<Alt><Shift>v"},
        {"Command+Option", keyed("i", KeyModifier::Command | KeyModifier::Option), "<Control><Alt>i"},
        {"Control and Command collapse into one Control", keyed("k", KeyModifier::Command | KeyModifier::Control),
         "<Control>k"},
        {"no modifiers", keyed("m", {}), "m"},
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
    separator.action = std::nullopt;
    EXPECT_EQ(acceleratorFor(separator), std::nullopt);
}

TEST(GtkAccelerator, ActionNamesKeepTheTargetsApart) {
    MenuItem copy = keyed("c");
    copy.action = MenuAction::Copy;
    MenuItem delegateCopy = copy;
    delegateCopy.target = MenuTarget::AppDelegate;
    EXPECT_EQ(actionNameFor(copy), "std-copy");
    EXPECT_EQ(actionNameFor(delegateCopy), "app-copy");
}

// Every item of the real menu bar gets a distinct action, and the shortcuts people rely on come
// out as GTK spells them.
TEST(GtkAccelerator, TheMainMenuTranslatesWithoutClashes) {
    std::map<MenuAction, std::string> acceleratorByAction;
    std::set<std::string> actions;
    for (const Menu& menu : buildMainMenu().menus) {
        for (const MenuItem& item : menu.items) {
            if (item.isSeparator()) continue;
            EXPECT_TRUE(actions.insert(actionNameFor(item)).second) << item.title;
            if (auto accelerator = acceleratorFor(item)) acceleratorByAction[*item.action] = *accelerator;
        }
    }
    const std::map<MenuAction, std::string> expected = {
        {MenuAction::Hide, "<Control>h"},      {MenuAction::Quit, "<Control>q"},
        {MenuAction::Undo, "<Control>z"},      {MenuAction::Redo, "<Control><Shift>z"},
        {MenuAction::Cut, "<Control>x"},       {MenuAction::Copy, "<Control>c"},
        {MenuAction::Paste, "<Control>v"},     {MenuAction::SelectAll, "<Control>a"},
        {MenuAction::OpenVoiceNotes, "<Alt><Shift>v"}, {MenuAction::Minimize, "<Control>m"},
    };
    EXPECT_EQ(acceleratorByAction, expected);
}

}  // namespace
}  // namespace lorvane::gtk
