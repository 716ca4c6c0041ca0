// The Russian menu bar as portable data.
#pragma once

#include "platform/menu.h"

namespace lorvane {

// The four menus: application, "Правка", "Запись" and "Окно" (also the windows menu).
MenuBar buildMainMenu();

}  // namespace lorvane
