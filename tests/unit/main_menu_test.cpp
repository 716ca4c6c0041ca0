// The menu bar compared item by item with the product's menu table.
#include <gtest/gtest.h>

#include "app/main_menu.h"

namespace lorvane {
namespace {

const KeyModifiers kCommand = KeyModifier::Command;

struct Row {
    std::string title;  // "-" for a separator
    MenuAction action;
    std::string key;
    KeyModifiers modifiers;
    MenuTarget target;
};

Row sep() { return {"-", MenuAction::About, "", {}, MenuTarget::FirstResponder}; }
Row std_(std::string t, MenuAction a, std::string k) { return {t, a, k, kCommand, MenuTarget::FirstResponder}; }

void expectMenu(const Menu& menu, const std::string& title, const std::vector<Row>& rows) {
    EXPECT_EQ(menu.title, title);
    ASSERT_EQ(menu.items.size(), rows.size()) << "menu '" << title << "' has extra or missing items";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const MenuItem& item = menu.items[i];
        const Row& row = rows[i];
        SCOPED_TRACE(title + " #" + std::to_string(i + 1) + " " + row.title);
        EXPECT_EQ(item.isSeparator(), row.title == "-");
        if (row.title == "-") continue;
        EXPECT_EQ(item.title, row.title);
        EXPECT_EQ(item.action, row.action);
        EXPECT_EQ(item.keyEquivalent, row.key);
        EXPECT_TRUE(item.modifiers == row.modifiers);
        EXPECT_EQ(item.target, row.target);
    }
}

TEST(MainMenu, MatchesTheMenuTableItemByItem) {
    const MenuBar bar = buildMainMenu();
    ASSERT_EQ(bar.menus.size(), 4u);
    expectMenu(bar.menus[0], "",
               {std_("Об Lorvane", MenuAction::About, ""),
                {"Проверить обновления\u2026", MenuAction::CheckForUpdates, "", kCommand, MenuTarget::AppDelegate},
                sep(), std_("Скрыть Lorvane", MenuAction::Hide, "h"), sep(),
                std_("Завершить Lorvane", MenuAction::Quit, "q")});
    expectMenu(bar.menus[1], "Правка",
               {std_("Отменить", MenuAction::Undo, "z"), std_("Повторить", MenuAction::Redo, "Z"), sep(),
                std_("Вырезать", MenuAction::Cut, "x"), std_("Копировать", MenuAction::Copy, "c"),
                std_("Вставить", MenuAction::Paste, "v"), std_("Выбрать всё", MenuAction::SelectAll, "a")});
    // Option-Shift without Command: Command-V stays paste.
    expectMenu(bar.menus[2], "Запись",
               {{"Открыть голосовые заметки", MenuAction::OpenVoiceNotes, "v", KeyModifier::Option | KeyModifier::Shift,
                 MenuTarget::AppDelegate}});
    expectMenu(bar.menus[3], "Окно",
               {std_("Свернуть", MenuAction::Minimize, "m"), std_("Масштаб", MenuAction::Zoom, "")});
    EXPECT_EQ(bar.windowsMenuIndex, 3u);
}

TEST(MainMenu, TitlesUseTheEllipsisCharacterAndTheLetterYo) {
    const MenuBar bar = buildMainMenu();
    EXPECT_EQ(bar.menus[0].items[1].title, "Проверить обновления\xE2\x80\xA6");
    EXPECT_EQ(bar.menus[1].items[6].title, "Выбрать вс\xD1\x91");
}

}  // namespace
}  // namespace lorvane
