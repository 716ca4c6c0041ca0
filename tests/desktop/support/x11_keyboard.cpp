// The X11 lane's keyboard: hardware keys pressed through XTEST, as a keyboard sends them.
//
// The X server applies its own keymap, layout group and options to these keys as it does to a
// real keyboard's. (xdotool's `key` locks the first group around every key it presses, even one
// given by keycode, so it cannot press a key under a layout other than the first.)
//
//   lorvane_x11_keyboard [--group N] [CHORD...]
//
// --group locks layout group N first. A CHORD is X keycodes joined by '+' (64+50+55 is Alt,
// Shift and V on a pc105 keyboard): its keys go down in order and up in reverse order.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A person's keys are some milliseconds apart; the app must not see them in one burst.
void pause(long ms) {
    timespec gap{0, ms * 1000000};
    nanosleep(&gap, nullptr);
}

void send(Display* display, unsigned keycode, bool down) {
    XTestFakeKeyEvent(display, keycode, down ? True : False, CurrentTime);
    XSync(display, False);
    pause(15);
}

}  // namespace

int main(int argc, char** argv) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "cannot open the display\n");
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--group" && i + 1 < argc) {
            XkbLockGroup(display, XkbUseCoreKbd, static_cast<unsigned>(std::atoi(argv[++i])));
            XSync(display, False);
            continue;
        }
        std::vector<unsigned> keys;
        std::stringstream parts(argument);
        std::string part;
        while (std::getline(parts, part, '+')) {
            const unsigned long code = std::strtoul(part.c_str(), nullptr, 10);
            if (code < 8 || code > 255) {
                std::fprintf(stderr, "\"%s\" is not an X keycode\n", part.c_str());
                return 2;
            }
            keys.push_back(static_cast<unsigned>(code));
        }
        for (unsigned key : keys) send(display, key, true);
        for (auto key = keys.rbegin(); key != keys.rend(); ++key) send(display, *key, false);
        pause(60);
    }
    XCloseDisplay(display);
    return 0;
}
