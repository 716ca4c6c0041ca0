// The main window holding the web view.
#pragma once

#include <cstdint>
#include <string>

namespace lorvane {

// Window style bits as the native window system names them.
namespace WindowStyle {
inline constexpr std::uint64_t Titled = 1;
inline constexpr std::uint64_t Closable = 2;
inline constexpr std::uint64_t Miniaturizable = 4;
inline constexpr std::uint64_t Resizable = 8;
inline constexpr std::uint64_t FullSizeContentView = 32768;
}  // namespace WindowStyle

struct WindowSpec {
    int contentWidth = 0;
    int contentHeight = 0;
    int minWidth = 0;
    int minHeight = 0;
    std::string title;
    std::uint64_t styleMask = 0;
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
