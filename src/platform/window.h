// The main window holding the web view.
#pragma once

#include <cstdint>
#include <string>

#include "platform/flags.h"

namespace lorvane {

// What the window offers its user besides its title bar. A backend honours what its window
// system lets an app decide and says, where it maps a feature to nothing, why.
enum class WindowFeature : std::uint8_t {
    Closable = 1 << 0,
    Minimizable = 1 << 1,
    Resizable = 1 << 2,
    ContentUnderTitleBar = 1 << 3,  // the content reaches under a transparent title bar
};
template <>
inline constexpr bool kIsFlagEnum<WindowFeature> = true;
using WindowFeatures = Flags<WindowFeature>;

struct WindowSpec {
    int contentWidth = 0;
    int contentHeight = 0;
    int minWidth = 0;
    int minHeight = 0;
    std::string title;
    WindowFeatures features;  // empty: the window system's defaults
};

class Window {
public:
    virtual ~Window() = default;
    // Main thread. Shows the window where the window system places a new one (centred on its
    // screen where the app decides that), in front of the others, with the keyboard focus.
    virtual void present() = 0;
};

}  // namespace lorvane
