// The Russian menu bar as portable data.
#pragma once

#include "platform/menu.h"

namespace lorvane {

namespace MenuAction {
inline constexpr const char* OpenVoiceNotes = "openVoiceNotes:";
inline constexpr const char* CheckForUpdates = "checkForUpdatesFromMenu:";
}  // namespace MenuAction

// The four menus: application, "Правка", "Запись" and "Окно" (also the windows menu).
MenuBar buildMainMenu();

}  // namespace lorvane
