// Builds the menu bar and routes the two commands aimed at the delegate.
#include "app/main_menu.h"

#include "app/app_delegate.h"

namespace lorvane {

namespace {

MenuItem item(std::string title, MenuAction action, std::string key) {
    MenuItem made;
    made.action = action;
    made.title = std::move(title);
    made.keyEquivalent = std::move(key);
    return made;
}

MenuItem command(std::string title, MenuAction action, std::string key) {
    MenuItem made = item(std::move(title), action, std::move(key));
    made.target = MenuTarget::AppDelegate;
    return made;
}

MenuItem separator() { return MenuItem{}; }

}  // namespace

MenuBar buildMainMenu() {
    MenuBar bar;

    Menu app{"", {}};
    app.items.push_back(item("Об Lorvane", MenuAction::About, ""));
    app.items.push_back(command("Проверить обновления…", MenuAction::CheckForUpdates, ""));
    app.items.push_back(separator());
    app.items.push_back(item("Скрыть Lorvane", MenuAction::Hide, "h"));
    app.items.push_back(separator());
    app.items.push_back(item("Завершить Lorvane", MenuAction::Quit, "q"));
    bar.menus.push_back(app);

    Menu edit{"Правка", {}};
    edit.items.push_back(item("Отменить", MenuAction::Undo, "z"));
    edit.items.push_back(item("Повторить", MenuAction::Redo, "Z"));
    edit.items.push_back(separator());
    edit.items.push_back(item("Вырезать", MenuAction::Cut, "x"));
    edit.items.push_back(item("Копировать", MenuAction::Copy, "c"));
    edit.items.push_back(item("Вставить", MenuAction::Paste, "v"));
    edit.items.push_back(item("Выбрать всё", MenuAction::SelectAll, "a"));
    bar.menus.push_back(edit);

    // Option-Shift-V, without Command, so that Command-V stays paste.
    Menu recording{"Запись", {}};
    MenuItem voice = command("Открыть голосовые заметки", MenuAction::OpenVoiceNotes, "v");
    voice.modifiers = KeyModifier::Shift | KeyModifier::Option;
    recording.items.push_back(voice);
    bar.menus.push_back(recording);

    Menu window{"Окно", {}};
    window.items.push_back(item("Свернуть", MenuAction::Minimize, "m"));
    window.items.push_back(item("Масштаб", MenuAction::Zoom, ""));
    bar.menus.push_back(window);
    bar.windowsMenuIndex = 3;
    return bar;
}

void AppDelegate::performMenuAction(MenuAction action) {
    switch (action) {
        case MenuAction::OpenVoiceNotes:
            openVoiceNotes();
            return;
        case MenuAction::CheckForUpdates:
            checkForUpdatesFromMenu();
            return;
        // The standard actions belong to the application, the focused web view and the window;
        // one that reaches the delegate found nobody to take it, which is not the delegate's job.
        case MenuAction::About:
        case MenuAction::Hide:
        case MenuAction::Quit:
        case MenuAction::Undo:
        case MenuAction::Redo:
        case MenuAction::Cut:
        case MenuAction::Copy:
        case MenuAction::Paste:
        case MenuAction::SelectAll:
        case MenuAction::Minimize:
        case MenuAction::Zoom:
            return;
    }
}

}  // namespace lorvane
