// The Wayland lane's keyboard: physical keys pressed under a given layout, as a person presses them.
//
// A virtual keyboard sends key codes together with a keymap of its own, and the compositor leaves
// the modifier state to it. So this one hands over the keymap compiled from the layouts given (the
// first active) and keeps its own xkb state, reporting the modifiers each key leads to.
//
//   lorvane_wayland_keyboard LAYOUTS
//
// Prints "ready", then reads a line of chords at a time and answers "ok" once the compositor has
// taken every key. A chord is X keycodes (the evdev code plus 8) joined by '+': its keys go down
// in order and up in reverse order.
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "virtual-keyboard-unstable-v1-client-protocol.h"

namespace {

wl_seat* seat = nullptr;
zwp_virtual_keyboard_manager_v1* manager = nullptr;

void onGlobal(void*, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t) {
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !seat) {
        seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
        manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    }
}

const wl_registry_listener kRegistryListener = {onGlobal, [](void*, wl_registry*, std::uint32_t) {}};

}  // namespace

int main(int argc, char** argv) {
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    const xkb_rule_names names{"evdev", "pc105", argc == 2 ? argv[1] : "us", "", ""};
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    wl_display* display = wl_display_connect(nullptr);
    if (display) wl_registry_add_listener(wl_display_get_registry(display), &kRegistryListener, nullptr);
    if (!keymap || !display || wl_display_roundtrip(display) < 0 || !seat || !manager) {
        std::cerr << "no keymap for that layout, or no Wayland display with a seat and virtual keyboards\n";
        return 2;
    }
    zwp_virtual_keyboard_v1* keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(manager, seat);
    const std::string text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
    const int fd = memfd_create("lorvane-keymap", MFD_CLOEXEC);
    if (fd < 0 || write(fd, text.c_str(), text.size() + 1) != static_cast<ssize_t>(text.size() + 1)) return 2;
    zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, static_cast<std::uint32_t>(text.size() + 1));
    xkb_state* state = xkb_state_new(keymap);
    // One key event, then the modifier state it led to, as a compositor tells a client of its own
    // keyboard. A person's keys are some milliseconds apart: events sent in one burst can reach the
    // app in one read, which no keyboard produces.
    const auto send = [&](xkb_keycode_t key, xkb_key_direction direction, long pauseMs) {
        zwp_virtual_keyboard_v1_key(keyboard, 0, key - 8, direction == XKB_KEY_DOWN ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
        xkb_state_update_key(state, key, direction);
        zwp_virtual_keyboard_v1_modifiers(keyboard, xkb_state_serialize_mods(state, XKB_STATE_MODS_DEPRESSED),
                                          xkb_state_serialize_mods(state, XKB_STATE_MODS_LATCHED),
                                          xkb_state_serialize_mods(state, XKB_STATE_MODS_LOCKED),
                                          xkb_state_serialize_layout(state, XKB_STATE_LAYOUT_EFFECTIVE));
        wl_display_flush(display);
        timespec gap{0, pauseMs * 1000000};
        nanosleep(&gap, nullptr);
    };
    wl_display_roundtrip(display);
    std::cout << "ready" << std::endl;
    for (std::string line; std::getline(std::cin, line);) {
        std::istringstream chords(line);
        for (std::string chord; chords >> chord;) {
            std::vector<xkb_keycode_t> keys;
            std::istringstream parts(chord);
            for (std::string part; std::getline(parts, part, '+');) keys.push_back(static_cast<xkb_keycode_t>(std::atoi(part.c_str())));
            for (const xkb_keycode_t key : keys) send(key, XKB_KEY_DOWN, 12);
            for (auto key = keys.rbegin(); key != keys.rend(); ++key) send(*key, XKB_KEY_UP, key + 1 == keys.rend() ? 60 : 12);
        }
        std::cout << (wl_display_roundtrip(display) < 0 ? "the compositor went away" : "ok") << std::endl;
    }
    return 0;
}
