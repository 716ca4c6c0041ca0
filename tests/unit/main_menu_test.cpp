// The menu bar compared item by item with the product's menu table, and where its commands go.
#include <gtest/gtest.h>

#include "app/main_menu.h"
#include "delegate_access.h"
#include "fake_platform.h"

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

// Only the two commands of the app's own do anything at the delegate; the standard actions are
// the application's, the web view's and the window's, and reach the delegate only unhandled.
TEST(MainMenu, TheDelegateActsOnItsTwoCommandsOnly) {
    struct Case {
        MenuAction action;
        std::vector<std::string> effects;
    };
    const Case cases[] = {
        {MenuAction::OpenVoiceNotes, {"window.makeKeyAndOrderFront", "app.activateIgnoringOtherApps",
                                      "webView.evaluateJavaScript"}},
        {MenuAction::CheckForUpdates, {"http.get https://updates.example.test/releases/latest.json"}},
        {MenuAction::About, {}}, {MenuAction::Hide, {}}, {MenuAction::Quit, {}}, {MenuAction::Undo, {}},
        {MenuAction::Redo, {}}, {MenuAction::Cut, {}}, {MenuAction::Copy, {}}, {MenuAction::Paste, {}},
        {MenuAction::SelectAll, {}}, {MenuAction::Minimize, {}}, {MenuAction::Zoom, {}},
    };
    for (const Case& c : cases) {
        fake::FakePlatform fake;
        auto delegate = std::make_shared<AppDelegate>(fake.platform(), testUpdateEndpoints());
        auto& state = AppDelegateTestAccess::state(*delegate);
        state.webView = fake.application.createWebView({}, delegate);
        state.window = fake.application.createWindow({}, state.webView);
        state.appLoaded = true;
        fake.events.clear();
        delegate->performMenuAction(c.action);
        EXPECT_EQ(fake.events, c.effects) << "action " << static_cast<int>(c.action);
    }
}

}  // namespace
}  // namespace lorvane
