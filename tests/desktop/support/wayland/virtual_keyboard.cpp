// The Wayland lane's keyboard: physical keys pressed under a given layout, as a person presses them.
//
// A virtual keyboard sends key codes together with a keymap of its own. To press keys the way a
// person at a keyboard does, this one uploads the keymap compiled from the same rules, model,
// layout, variant and options as the compositor's, and tracks its own xkb state so that the
// modifier and group state it reports after each key is what that keymap yields (a group switch
// by grp:alt_shift_toggle included), as a compositor does for a real keyboard. The state lasts
// for the life of the process, like a keyboard's.
//
//   lorvane_wayland_keyboard [--rules R] [--model M] [--layout L] [--variant V] [--options O] [--group G]
//
// --group locks layout group G (from 0) from the start, as a layout switcher does.
// Reads one command per line on stdin and answers each with "ok" or "error <why>" once the
// compositor has taken every event:
//   press CHORD...  CHORD is keys joined by '+', each an X keycode (the evdev code plus 8, such
//                   as 55) or a keysym name (alt, shift, ctrl, super, v, F10, Return), looked up
//                   in the layout now in effect. Keys of a chord go down in order and up in
//                   reverse order.
//   state           answers "state <depressed> <latched> <locked> <group>" instead of "ok".
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "virtual-keyboard-unstable-v1-client-protocol.h"

namespace {

struct Globals {
    wl_seat* seat = nullptr;
    zwp_virtual_keyboard_manager_v1* manager = nullptr;
};

void onGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t) {
    auto* globals = static_cast<Globals*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !globals->seat) {
        globals->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
        globals->manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    }
}

void onGlobalRemove(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener kRegistryListener = {onGlobal, onGlobalRemove};

std::uint32_t milliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

// The names xdotool accepts for the modifiers, so that one chord reads the same on both lanes.
std::string keysymNameFor(const std::string& name) {
    if (name == "alt") return "Alt_L";
    if (name == "shift") return "Shift_L";
    if (name == "ctrl" || name == "control") return "Control_L";
    if (name == "super") return "Super_L";
    if (name == "meta") return "Meta_L";
    return name;
}

class Keyboard {
public:
    Keyboard(wl_display* display, zwp_virtual_keyboard_v1* keyboard, xkb_keymap* keymap)
        : display_(display), keyboard_(keyboard), keymap_(keymap), state_(xkb_state_new(keymap)) {}

    ~Keyboard() { xkb_state_unref(state_); }

    Keyboard(const Keyboard&) = delete;
    Keyboard& operator=(const Keyboard&) = delete;

    void lockGroup(xkb_layout_index_t group) { xkb_state_update_mask(state_, 0, 0, 0, 0, 0, group); }

    // Sends the keymap and the modifier state, as a compositor does when a keyboard appears.
    bool upload() {
        char* text = xkb_keymap_get_as_string(keymap_, XKB_KEYMAP_FORMAT_TEXT_V1);
        if (!text) return false;
        const std::size_t size = std::strlen(text) + 1;
        const int fd = memfd_create("lorvane-keymap", MFD_CLOEXEC);
        const bool written = fd >= 0 && write(fd, text, size) == static_cast<ssize_t>(size);
        std::free(text);
        if (!written) return false;
        zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, static_cast<std::uint32_t>(size));
        close(fd);
        sendModifiers();
        return wl_display_roundtrip(display_) >= 0;
    }

    // Presses every chord of the line; returns what went wrong, or nothing.
    std::optional<std::string> press(std::istringstream& chords) {
        std::string chord;
        while (chords >> chord) {
            std::vector<xkb_keycode_t> keys;
            std::stringstream parts(chord);
            std::string part;
            while (std::getline(parts, part, '+')) {
                const auto key = resolve(part);
                if (!key) return "no key for \"" + part + "\" in the layout in effect";
                keys.insert(keys.end(), key->begin(), key->end());
            }
            for (const xkb_keycode_t key : keys) send(key, XKB_KEY_DOWN);
            for (auto key = keys.rbegin(); key != keys.rend(); ++key) send(*key, XKB_KEY_UP);
            pause(60);
        }
        if (wl_display_roundtrip(display_) < 0) return std::string("the compositor went away");
        return std::nullopt;
    }

    std::string state() const {
        std::ostringstream out;
        out << "state " << xkb_state_serialize_mods(state_, XKB_STATE_MODS_DEPRESSED) << ' '
            << xkb_state_serialize_mods(state_, XKB_STATE_MODS_LATCHED) << ' '
            << xkb_state_serialize_mods(state_, XKB_STATE_MODS_LOCKED) << ' '
            << xkb_state_serialize_layout(state_, XKB_STATE_LAYOUT_EFFECTIVE);
        return out.str();
    }

private:
    // A keycode stands for itself; a keysym is looked up in the layout now in effect, first on a
    // key's first level, then on its second with Shift pressed first, as xdotool does.
    std::optional<std::vector<xkb_keycode_t>> resolve(const std::string& token) const {
        const std::string name = keysymNameFor(token);
        xkb_keysym_t wanted = xkb_keysym_from_name(name.c_str(), XKB_KEYSYM_NO_FLAGS);
        if (wanted == XKB_KEY_NoSymbol) wanted = xkb_keysym_from_name(name.c_str(), XKB_KEYSYM_CASE_INSENSITIVE);
        if (wanted == XKB_KEY_NoSymbol) {
            const bool number = !token.empty() && token.find_first_not_of("0123456789") == std::string::npos;
            if (!number) return std::nullopt;
            const auto code = static_cast<xkb_keycode_t>(std::stoul(token));
            if (code < xkb_keymap_min_keycode(keymap_) || code > xkb_keymap_max_keycode(keymap_)) return std::nullopt;
            return std::vector<xkb_keycode_t>{code};
        }
        for (xkb_level_index_t level = 0; level < 2; ++level) {
            for (xkb_keycode_t code = xkb_keymap_min_keycode(keymap_); code <= xkb_keymap_max_keycode(keymap_); ++code) {
                const xkb_layout_index_t layout = xkb_state_key_get_layout(state_, code);
                if (layout == XKB_LAYOUT_INVALID) continue;
                const xkb_keysym_t* syms = nullptr;
                const int count = xkb_keymap_key_get_syms_by_level(keymap_, code, layout, level, &syms);
                if (count != 1 || syms[0] != wanted) continue;
                if (level == 0) return std::vector<xkb_keycode_t>{code};
                const auto shift = resolve("shift");
                if (!shift) return std::nullopt;
                return std::vector<xkb_keycode_t>{shift->front(), code};
            }
        }
        return std::nullopt;
    }

    // One key event, then the modifier state it led to when that changed, as a compositor tells
    // a client about its own keyboard.
    void send(xkb_keycode_t key, xkb_key_direction direction) {
        const std::uint32_t pressed = direction == XKB_KEY_DOWN ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED;
        zwp_virtual_keyboard_v1_key(keyboard_, milliseconds(), key - 8, pressed);
        if (xkb_state_update_key(state_, key, direction) != 0) sendModifiers();
        pause(12);
    }

    void sendModifiers() {
        zwp_virtual_keyboard_v1_modifiers(keyboard_, xkb_state_serialize_mods(state_, XKB_STATE_MODS_DEPRESSED),
                                          xkb_state_serialize_mods(state_, XKB_STATE_MODS_LATCHED),
                                          xkb_state_serialize_mods(state_, XKB_STATE_MODS_LOCKED),
                                          xkb_state_serialize_layout(state_, XKB_STATE_LAYOUT_EFFECTIVE));
    }

    // A person's keys are some milliseconds apart; events sent in one burst can reach the client
    // in one read, which is not what a keyboard produces.
    void pause(long ms) {
        wl_display_flush(display_);
        timespec gap{0, ms * 1000000};
        nanosleep(&gap, nullptr);
    }

    wl_display* display_;
    zwp_virtual_keyboard_v1* keyboard_;
    xkb_keymap* keymap_;
    xkb_state* state_;
};

}  // namespace

int main(int argc, char** argv) {
    std::string rules = "evdev", model = "pc105", layout = "us", variant, options, group = "0";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        std::string* target = flag == "--rules" ? &rules : flag == "--model" ? &model : flag == "--layout" ? &layout
                              : flag == "--variant" ? &variant : flag == "--options" ? &options
                              : flag == "--group" ? &group : nullptr;
        if (!target) {
            std::fprintf(stderr, "unknown option %s\n", argv[i]);
            return 2;
        }
        *target = argv[i + 1];
    }

    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    const xkb_rule_names names{rules.c_str(), model.c_str(), layout.c_str(), variant.c_str(), options.c_str()};
    xkb_keymap* keymap = context ? xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr;
    if (!keymap) {
        std::fprintf(stderr, "cannot compile the keymap for layout \"%s\" with options \"%s\"\n", layout.c_str(), options.c_str());
        return 2;
    }
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "cannot connect to the Wayland display\n");
        return 2;
    }
    Globals globals;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, &globals);
    wl_display_roundtrip(display);
    if (!globals.seat || !globals.manager) {
        std::fprintf(stderr, "the compositor offers no seat or no virtual keyboards\n");
        return 2;
    }
    zwp_virtual_keyboard_v1* device = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(globals.manager, globals.seat);
    Keyboard keyboard(display, device, keymap);
    keyboard.lockGroup(static_cast<xkb_layout_index_t>(std::stoul(group)));
    if (!keyboard.upload()) {
        std::fprintf(stderr, "cannot hand the keymap to the compositor\n");
        return 2;
    }
    std::cout << "ready" << std::endl;

    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        if (command == "press") {
            const auto failure = keyboard.press(words);
            std::cout << (failure ? "error " + *failure : std::string("ok")) << std::endl;
        } else if (command == "state") {
            std::cout << keyboard.state() << std::endl;
        } else {
            std::cout << "error unknown command \"" << command << "\"" << std::endl;
        }
    }
    zwp_virtual_keyboard_v1_destroy(device);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    xkb_keymap_unref(keymap);
    xkb_context_unref(context);
    return 0;
}
