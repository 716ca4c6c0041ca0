// A plain Wayland window for the desktop tests: something to cover the app with, and the source of
// the activation token a launcher hands to the program it starts.
//
//   lorvane_wayland_window --title T --app-id A --size WxH --colour RRGGBB
//
// Shows one window of one colour and prints "focused" each time it gets the keyboard. Reads
// commands on stdin, one a line:
//   token   asks the compositor for an activation token tied to this window and the last input
//           it received (as a launcher does when the user starts a program from it), and prints
//           "token <token>"
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "xdg-activation-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace {

struct Window {
    wl_display* display = nullptr;
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    wl_seat* seat = nullptr;
    wl_keyboard* keyboard = nullptr;
    xdg_wm_base* wmBase = nullptr;
    xdg_activation_v1* activation = nullptr;
    wl_surface* surface = nullptr;
    xdg_surface* shellSurface = nullptr;
    xdg_toplevel* toplevel = nullptr;
    wl_buffer* buffer = nullptr;
    int width = 400;
    int height = 300;
    std::uint32_t colour = 0x336699;
    std::uint32_t lastSerial = 0;
    bool quit = false;
};

void onGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t) {
    auto* w = static_cast<Window*>(data);
    auto bind = [&](const wl_interface* kind, std::uint32_t version) { return wl_registry_bind(registry, name, kind, version); };
    if (std::strcmp(interface, wl_compositor_interface.name) == 0) {
        w->compositor = static_cast<wl_compositor*>(bind(&wl_compositor_interface, 4));
    } else if (std::strcmp(interface, wl_shm_interface.name) == 0) {
        w->shm = static_cast<wl_shm*>(bind(&wl_shm_interface, 1));
    } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !w->seat) {
        w->seat = static_cast<wl_seat*>(bind(&wl_seat_interface, 5));
    } else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0) {
        w->wmBase = static_cast<xdg_wm_base*>(bind(&xdg_wm_base_interface, 1));
    } else if (std::strcmp(interface, xdg_activation_v1_interface.name) == 0) {
        w->activation = static_cast<xdg_activation_v1*>(bind(&xdg_activation_v1_interface, 1));
    }
}

void onGlobalRemove(void*, wl_registry*, std::uint32_t) {}
const wl_registry_listener kRegistryListener = {onGlobal, onGlobalRemove};

void onPing(void*, xdg_wm_base* base, std::uint32_t serial) { xdg_wm_base_pong(base, serial); }
const xdg_wm_base_listener kWmBaseListener = {onPing};

// One buffer of the window's colour, in shared memory.
wl_buffer* paint(Window* w) {
    const int stride = w->width * 4;
    const std::size_t size = static_cast<std::size_t>(stride) * static_cast<std::size_t>(w->height);
    const int fd = memfd_create("lorvane-window", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) return nullptr;
    void* pixels = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels == MAP_FAILED) return nullptr;
    auto* words = static_cast<std::uint32_t*>(pixels);
    for (std::size_t i = 0; i < size / 4; ++i) words[i] = 0xff000000u | w->colour;
    munmap(pixels, size);
    wl_shm_pool* pool = wl_shm_create_pool(w->shm, fd, static_cast<std::int32_t>(size));
    wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, w->width, w->height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    return buffer;
}

void onShellConfigure(void* data, xdg_surface* shellSurface, std::uint32_t serial) {
    auto* w = static_cast<Window*>(data);
    xdg_surface_ack_configure(shellSurface, serial);
    if (!w->buffer) w->buffer = paint(w);
    wl_surface_attach(w->surface, w->buffer, 0, 0);
    wl_surface_damage(w->surface, 0, 0, w->width, w->height);
    wl_surface_commit(w->surface);
}
const xdg_surface_listener kShellSurfaceListener = {onShellConfigure};

// The window keeps the size it was started with, whatever the compositor suggests.
void onToplevelConfigure(void*, xdg_toplevel*, std::int32_t, std::int32_t, wl_array*) {}
void onToplevelClose(void* data, xdg_toplevel*) { static_cast<Window*>(data)->quit = true; }
void onToplevelBounds(void*, xdg_toplevel*, std::int32_t, std::int32_t) {}
void onToplevelCapabilities(void*, xdg_toplevel*, wl_array*) {}
const xdg_toplevel_listener kToplevelListener = {onToplevelConfigure, onToplevelClose, onToplevelBounds,
                                                 onToplevelCapabilities};

void onKeymap(void*, wl_keyboard*, std::uint32_t, int fd, std::uint32_t) { close(fd); }
void onEnter(void* data, wl_keyboard*, std::uint32_t serial, wl_surface*, wl_array*) {
    static_cast<Window*>(data)->lastSerial = serial;
    std::cout << "focused" << std::endl;
}
void onLeave(void*, wl_keyboard*, std::uint32_t, wl_surface*) {}
void onKey(void* data, wl_keyboard*, std::uint32_t serial, std::uint32_t, std::uint32_t, std::uint32_t) {
    static_cast<Window*>(data)->lastSerial = serial;
}
void onModifiers(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}
void onRepeatInfo(void*, wl_keyboard*, std::int32_t, std::int32_t) {}
const wl_keyboard_listener kKeyboardListener = {onKeymap, onEnter, onLeave, onKey, onModifiers, onRepeatInfo};

void onTokenDone(void*, xdg_activation_token_v1* token, const char* value) {
    std::cout << "token " << value << std::endl;
    xdg_activation_token_v1_destroy(token);
}
const xdg_activation_token_v1_listener kTokenListener = {onTokenDone};

void requestToken(Window* w) {
    if (!w->activation) {
        std::cout << "error the compositor offers no activation tokens" << std::endl;
        return;
    }
    xdg_activation_token_v1* token = xdg_activation_v1_get_activation_token(w->activation);
    xdg_activation_token_v1_add_listener(token, &kTokenListener, w);
    xdg_activation_token_v1_set_serial(token, w->lastSerial, w->seat);
    xdg_activation_token_v1_set_surface(token, w->surface);
    xdg_activation_token_v1_commit(token);
}

bool readCommand(Window* w) {
    std::string line;
    if (!std::getline(std::cin, line)) return false;
    if (line == "token") {
        requestToken(w);
    } else {
        std::cout << "error unknown command \"" << line << "\"" << std::endl;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Window w;
    std::string title = "window", appId = "lorvane.test.window";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        const std::string value = argv[i + 1];
        if (flag == "--title") {
            title = value;
        } else if (flag == "--app-id") {
            appId = value;
        } else if (flag == "--size") {
            std::sscanf(value.c_str(), "%dx%d", &w.width, &w.height);
        } else if (flag == "--colour") {
            w.colour = static_cast<std::uint32_t>(std::strtoul(value.c_str(), nullptr, 16));
        }
    }
    w.display = wl_display_connect(nullptr);
    if (!w.display) {
        std::fprintf(stderr, "cannot connect to the Wayland display\n");
        return 2;
    }
    wl_registry* registry = wl_display_get_registry(w.display);
    wl_registry_add_listener(registry, &kRegistryListener, &w);
    wl_display_roundtrip(w.display);
    if (!w.compositor || !w.shm || !w.wmBase || !w.seat) {
        std::fprintf(stderr, "the compositor lacks a compositor, shm, seat or xdg_wm_base global\n");
        return 2;
    }
    xdg_wm_base_add_listener(w.wmBase, &kWmBaseListener, &w);
    w.keyboard = wl_seat_get_keyboard(w.seat);
    wl_keyboard_add_listener(w.keyboard, &kKeyboardListener, &w);
    w.surface = wl_compositor_create_surface(w.compositor);
    w.shellSurface = xdg_wm_base_get_xdg_surface(w.wmBase, w.surface);
    xdg_surface_add_listener(w.shellSurface, &kShellSurfaceListener, &w);
    w.toplevel = xdg_surface_get_toplevel(w.shellSurface);
    xdg_toplevel_add_listener(w.toplevel, &kToplevelListener, &w);
    xdg_toplevel_set_title(w.toplevel, title.c_str());
    xdg_toplevel_set_app_id(w.toplevel, appId.c_str());
    wl_surface_commit(w.surface);

    bool input = true;
    while (!w.quit) {
        while (wl_display_prepare_read(w.display) != 0) wl_display_dispatch_pending(w.display);
        wl_display_flush(w.display);
        pollfd fds[2] = {{wl_display_get_fd(w.display), POLLIN, 0}, {input ? STDIN_FILENO : -1, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            wl_display_cancel_read(w.display);
            break;
        }
        if (fds[0].revents & (POLLERR | POLLHUP)) {
            wl_display_cancel_read(w.display);
            break;
        }
        if (fds[0].revents & POLLIN) {
            if (wl_display_read_events(w.display) < 0) break;
        } else {
            wl_display_cancel_read(w.display);
        }
        if (wl_display_dispatch_pending(w.display) < 0) break;
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            // Lines that arrived together wait in the stream's buffer, where poll cannot see them.
            do {
                input = readCommand(&w);
            } while (input && std::cin.rdbuf()->in_avail() > 0);
        }
    }
    wl_display_disconnect(w.display);
    return 0;
}
