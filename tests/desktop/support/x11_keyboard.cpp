// The X11 lane's keyboard: hardware keys pressed through XTEST, as a keyboard sends them.
//
// The X server applies its own keymap and layout group to these keys as it does to a real
// keyboard's. (xdotool locks the first layout group around every key it presses, even one given by
// keycode, so it cannot press a key under any other layout.)
//
//   lorvane_x11_keyboard CHORD...
//
// A CHORD is X keycodes joined by '+' (64+50+55 is Alt, Shift and V on a pc105 keyboard): its keys
// go down in order and up in reverse order.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <cstdlib>
#include <ctime>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A person's keys are some milliseconds apart; the app must not see them in one burst.
void send(Display* display, unsigned keycode, bool down, long pauseMs) {
    XTestFakeKeyEvent(display, keycode, down ? True : False, CurrentTime);
    XSync(display, False);
    timespec gap{0, pauseMs * 1000000};
    nanosleep(&gap, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::cerr << "cannot open the display\n";
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        std::vector<unsigned> keys;
        std::istringstream parts(argv[i]);
        for (std::string part; std::getline(parts, part, '+');) keys.push_back(static_cast<unsigned>(std::atoi(part.c_str())));
        for (const unsigned key : keys) send(display, key, true, 15);
        for (std::size_t k = keys.size(); k-- > 0;) send(display, keys[k], false, k == 0 ? 75 : 15);
    }
    XCloseDisplay(display);
    return 0;
}
