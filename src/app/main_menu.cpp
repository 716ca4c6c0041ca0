// Builds the menu bar and routes the two commands aimed at the delegate.
#include "app/main_menu.h"

#include "app/app_delegate.h"

namespace lorvane {

namespace {

MenuItem item(std::string title, std::string action, std::string key) {
    return MenuItem{false, std::move(title), std::move(action), std::move(key), std::nullopt, MenuTarget::FirstResponder};
}

MenuItem separator() { return MenuItem{true, "", "", "", std::nullopt, MenuTarget::FirstResponder}; }

}  // namespace

MenuBar buildMainMenu() {
    MenuBar bar;

    Menu app{"", {}};
    app.items.push_back(item("Об Lorvane", "orderFrontStandardAboutPanel:", ""));
    MenuItem updates = item("Проверить обновления…", MenuAction::CheckForUpdates, "");
    updates.target = MenuTarget::AppDelegate;
    app.items.push_back(updates);
    app.items.push_back(separator());
    app.items.push_back(item("Скрыть Lorvane", "hide:", "h"));
    app.items.push_back(separator());
    app.items.push_back(item("Завершить Lorvane", "terminate:", "q"));
    bar.menus.push_back(app);

    Menu edit{"Правка", {}};
    edit.items.push_back(item("Отменить", "undo:", "z"));
    edit.items.push_back(item("Повторить", "redo:", "Z"));
    edit.items.push_back(separator());
    edit.items.push_back(item("Вырезать", "cut:", "x"));
    edit.items.push_back(item("Копировать", "copy:", "c"));
    edit.items.push_back(item("Вставить", "paste:", "v"));
    edit.items.push_back(item("Выбрать всё", "selectAll:", "a"));
    bar.menus.push_back(edit);

    // Option-Shift-V, without Command, so that Command-V stays paste.
    Menu recording{"Запись", {}};
    MenuItem voice = item("Открыть голосовые заметки", MenuAction::OpenVoiceNotes, "v");
    voice.modifierMask = ModifierMask::Shift | ModifierMask::Option;
    voice.target = MenuTarget::AppDelegate;
    recording.items.push_back(voice);
    bar.menus.push_back(recording);

    Menu window{"Окно", {}};
    window.items.push_back(item("Свернуть", "performMiniaturize:", "m"));
    window.items.push_back(item("Масштаб", "performZoom:", ""));
    bar.menus.push_back(window);
    bar.windowsMenuIndex = 3;
    return bar;
}

void AppDelegate::performMenuAction(const std::string& action) {
    if (action == MenuAction::OpenVoiceNotes) {
        openVoiceNotes();
    } else if (action == MenuAction::CheckForUpdates) {
        checkForUpdatesFromMenu();
    }
}

}  // namespace lorvane
