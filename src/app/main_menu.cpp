// Builds the menu bar and carries out the app's own commands.
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

MenuItem separator() { return MenuItem{}; }

}  // namespace

MenuBar buildMainMenu() {
    MenuBar bar;

    Menu app{"", {}};
    app.items.push_back(item("Об Lorvane", AppCommand::About, ""));
    app.items.push_back(item("Проверить обновления…", AppCommand::CheckForUpdates, ""));
    app.items.push_back(separator());
    app.items.push_back(item("Скрыть Lorvane", StandardAction::Hide, "h"));
    app.items.push_back(separator());
    app.items.push_back(item("Завершить Lorvane", AppCommand::Quit, "q"));
    bar.menus.push_back(app);

    Menu edit{"Правка", {}};
    edit.items.push_back(item("Отменить", StandardAction::Undo, "z"));
    edit.items.push_back(item("Повторить", StandardAction::Redo, "Z"));
    edit.items.push_back(separator());
    edit.items.push_back(item("Вырезать", StandardAction::Cut, "x"));
    edit.items.push_back(item("Копировать", StandardAction::Copy, "c"));
    edit.items.push_back(item("Вставить", StandardAction::Paste, "v"));
    edit.items.push_back(item("Выбрать всё", StandardAction::SelectAll, "a"));
    bar.menus.push_back(edit);

    // Alt-Shift-V, without the primary modifier, so that Primary-V stays paste.
    Menu recording{"Запись", {}};
    MenuItem voice = item("Открыть голосовые заметки", AppCommand::OpenVoiceNotes, "v");
    voice.modifiers = KeyModifier::Shift | KeyModifier::Alt;
    recording.items.push_back(voice);
    bar.menus.push_back(recording);

    Menu window{"Окно", {}};
    window.items.push_back(item("Свернуть", StandardAction::Minimize, "m"));
    window.items.push_back(item("Масштаб", StandardAction::Zoom, ""));
    bar.menus.push_back(window);
    bar.windowsMenuIndex = 3;
    return bar;
}

void AppDelegate::performCommand(AppCommand command) {
    switch (command) {
        case AppCommand::About:
            platform_.application.showAbout(platform_.places.installedVersion().value_or(kUnknownInstalledVersion));
            return;
        case AppCommand::CheckForUpdates:
            checkForUpdatesFromMenu();
            return;
        case AppCommand::Quit:
            platform_.application.quit();
            return;
        case AppCommand::OpenVoiceNotes:
            openVoiceNotes();
            return;
    }
}

}  // namespace lorvane
