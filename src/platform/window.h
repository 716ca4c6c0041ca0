// The main window holding the web view.
#pragma once

#include <cstdint>
#include <string>

#include "platform/flags.h"

namespace lorvane {

// What the window's frame offers. A backend applies what its window system can and says which
// it cannot.
enum class WindowStyle : std::uint8_t {
    Titled = 1 << 0,
    Closable = 1 << 1,
    Miniaturizable = 1 << 2,
    Resizable = 1 << 3,
    FullSizeContentView = 1 << 4,  // the content reaches under the title bar
};
template <>
inline constexpr bool kIsFlagEnum<WindowStyle> = true;
using WindowStyles = Flags<WindowStyle>;

struct WindowSpec {
    int contentWidth = 0;
    int contentHeight = 0;
    int minWidth = 0;
    int minHeight = 0;
    std::string title;
    WindowStyles style;  // empty: the window system's default frame
    bool titlebarTransparent = false;
};

class Window {
public:
    virtual ~Window() = default;
    // Main thread. Centres the window on its screen.
    virtual void center() = 0;
    // Main thread. Shows the window in front of the others and gives it the keyboard focus.
    virtual void makeKeyAndOrderFront() = 0;
};

}  // namespace lorvane
