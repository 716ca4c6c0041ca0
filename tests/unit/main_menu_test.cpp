// The menu bar compared item by item with the product's menu table.
#include <gtest/gtest.h>

#include "app/main_menu.h"

namespace lorvane {
namespace {

constexpr std::uint64_t kOptionShift = 655360;

struct Row {
    std::string title;  // "-" for a separator
    std::string action;
    std::string key;
    std::optional<std::uint64_t> mask;
    MenuTarget target;
};

Row sep() { return {"-", "", "", std::nullopt, MenuTarget::FirstResponder}; }
Row std_(std::string t, std::string a, std::string k) { return {t, a, k, std::nullopt, MenuTarget::FirstResponder}; }

void expectMenu(const Menu& menu, const std::string& title, const std::vector<Row>& rows) {
    EXPECT_EQ(menu.title, title);
    ASSERT_EQ(menu.items.size(), rows.size()) << "menu '" << title << "' has extra or missing items";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const MenuItem& item = menu.items[i];
        const Row& row = rows[i];
        SCOPED_TRACE(title + " #" + std::to_string(i + 1) + " " + row.title);
        EXPECT_EQ(item.separator, row.title == "-");
        if (row.title == "-") continue;
        EXPECT_EQ(item.title, row.title);
        EXPECT_EQ(item.action, row.action);
        EXPECT_EQ(item.keyEquivalent, row.key);
        EXPECT_EQ(item.modifierMask, row.mask);
        EXPECT_EQ(item.target, row.target);
    }
}

TEST(MainMenu, MatchesTheMenuTableItemByItem) {
    const MenuBar bar = buildMainMenu();
    ASSERT_EQ(bar.menus.size(), 4u);
    expectMenu(bar.menus[0], "",
               {std_("Об Lorvane", "orderFrontStandardAboutPanel:", ""),
                {"Проверить обновления\u2026", "checkForUpdatesFromMenu:", "", std::nullopt, MenuTarget::AppDelegate},
                sep(), std_("Скрыть Lorvane", "hide:", "h"), sep(), std_("Завершить Lorvane", "terminate:", "q")});
    expectMenu(bar.menus[1], "Правка",
               {std_("Отменить", "undo:", "z"), std_("Повторить", "redo:", "Z"), sep(), std_("Вырезать", "cut:", "x"),
                std_("Копировать", "copy:", "c"), std_("Вставить", "paste:", "v"),
                std_("Выбрать всё", "selectAll:", "a")});
    expectMenu(bar.menus[2], "Запись",
               {{"Открыть голосовые заметки", "openVoiceNotes:", "v", kOptionShift, MenuTarget::AppDelegate}});
    expectMenu(bar.menus[3], "Окно", {std_("Свернуть", "performMiniaturize:", "m"), std_("Масштаб", "performZoom:", "")});
    EXPECT_EQ(bar.windowsMenuIndex, 3u);
}

TEST(MainMenu, TitlesUseTheEllipsisCharacterAndTheLetterYo) {
    const MenuBar bar = buildMainMenu();
    EXPECT_EQ(bar.menus[0].items[1].title, "Проверить обновления\xE2\x80\xA6");
    EXPECT_EQ(bar.menus[1].items[6].title, "Выбрать вс\xD1\x91");
}

}  // namespace
}  // namespace lorvane
