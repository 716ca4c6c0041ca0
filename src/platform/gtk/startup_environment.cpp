// Renderer choice and usable user folders, settled before GTK and WebKit read either.
#include "platform/gtk/startup_environment.h"

#include <glib.h>
#include <gtk/gtk.h>

#include <cstring>
#include <filesystem>
#include <utility>

namespace lorvane::gtk {

bool machineOffersHardwareGl(const GraphicsDevices& devices) {
    const auto& forced = devices.forcedSoftwareGl;
    if (forced && !forced->empty() && *forced != "0") return false;
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::exists(fs::path(devices.devices) / "nvidiactl", error)) return true;
    for (const auto& entry : fs::directory_iterator(fs::path(devices.devices) / "dri", error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("renderD", 0) != 0) continue;
        // Virtual devices without a GL driver of their own (vgem, vkms) do not count.
        std::error_code linkError;
        const auto driver = fs::read_symlink(fs::path(devices.drmClass) / name / "device/driver", linkError);
        const std::string driverName = linkError ? std::string() : driver.filename().string();
        if (driverName != "vgem" && driverName != "vkms") return true;
    }
    return false;
}

namespace {

// Whether `list`, in GDK's syntax for GDK_DEBUG and GDK_DISABLE (items separated by ":;, " or a
// tab; "all" for every item), already holds `item`.
bool gdkListHolds(const char* list, const char* item) {
    gchar** items = g_strsplit_set(list, ":;, \t", -1);
    bool holds = false;
    for (gchar** entry = items; *entry && !holds; ++entry) {
        holds = g_ascii_strcasecmp(*entry, item) == 0 || g_ascii_strcasecmp(*entry, "all") == 0;
    }
    g_strfreev(items);
    return holds;
}

}  // namespace

// With GL on the CPU, GTK's GL renderer and WebKit's GPU painting emulate a GPU in software:
// slower to the first frame and heavier than painting with the CPU directly, for the same pixels.
// Turning GL off in GDK goes further: WebKit then finds no GL in GTK and keeps its web process off
// hardware acceleration altogether (no GL contexts, no GPU painting threads). The web process reads
// the switch too, so it stays in the environment WebKit's processes inherit. A user who chose a GL
// renderer for GTK or GPU painting for WebKit keeps GL. A machine with a GPU keeps all on it.
ShellOnlyVariables chooseRenderers(const GraphicsDevices& devices, unsigned gtkMinorVersion) {
    if (machineOffersHardwareGl(devices)) return {};
    ShellOnlyVariables changed;
    const char* userRenderer = g_getenv("GSK_RENDERER");
    const char* userPainting = g_getenv("WEBKIT_SKIA_ENABLE_CPU_RENDERING");
    const bool userWantsGl = (userRenderer && std::strcmp(userRenderer, "cairo") != 0) ||
                             (userPainting && std::strcmp(userPainting, "0") == 0);
    constexpr std::pair<const char*, const char*> kCpuPainting[] = {{"GSK_RENDERER", "cairo"},
                                                                    {"WEBKIT_SKIA_ENABLE_CPU_RENDERING", "1"}};
    for (const auto& [name, value] : kCpuPainting) {
        if (g_getenv(name)) continue;  // the user's choice stands, and is passed on as it was
        g_setenv(name, value, TRUE);
        changed.emplace(name, std::nullopt);
    }
    if (userWantsGl) return changed;
    // GTK 4.16 moved the switch from GDK_DEBUG to GDK_DISABLE. Items the user listed stay.
    const auto [name, item] =
        gtkMinorVersion >= 16 ? std::pair{"GDK_DISABLE", "gl"} : std::pair{"GDK_DEBUG", "gl-disable"};
    const char* listed = g_getenv(name);
    if (listed && gdkListHolds(listed, item)) return changed;
    const std::string list = listed && *listed ? std::string(listed) + "," + item : item;
    changed.emplace(name, listed ? std::optional<std::string>(listed) : std::nullopt);
    g_setenv(name, list.c_str(), TRUE);
    return changed;
}

ShellOnlyVariables chooseRenderersForThisMachine() {
    GraphicsDevices devices;
    if (const char* forced = g_getenv("LIBGL_ALWAYS_SOFTWARE")) devices.forcedSoftwareGl = forced;
    return chooseRenderers(devices, gtk_get_minor_version());
}

namespace {

// Where a folder cannot be made, GLib latches a private one instead, for this process only: the
// variable is put back at once, so the services still inherit the environment the app was
// started with.
void latchUsableUserFolder(const char* variable, const char* fallbackUnderHome, const gchar* (*latch)()) {
    const char* configured = g_getenv(variable);
    const bool absolute = configured && g_path_is_absolute(configured);
    const char* home = g_getenv("HOME");
    gchar* folder = absolute ? g_strdup(configured)
                             : g_build_filename(home ? home : g_get_home_dir(), fallbackUnderHome, nullptr);
    const bool usable = g_mkdir_with_parents(folder, 0700) == 0;
    g_free(folder);
    if (usable) return;
    gchar* original = configured ? g_strdup(configured) : nullptr;
    gchar* standIn = g_dir_make_tmp("lorvane-XXXXXX", nullptr);
    if (standIn) {
        g_setenv(variable, standIn, TRUE);
        latch();
        // GLib's runtime folder falls back to the cache folder, and is latched apart.
        if (std::strcmp(variable, "XDG_CACHE_HOME") == 0) g_get_user_runtime_dir();
    }
    if (original) {
        g_setenv(variable, original, TRUE);
    } else {
        g_unsetenv(variable);
    }
    g_free(standIn);
    g_free(original);
}

}  // namespace

// GLib latches the user folders on first use, and WebKit's sandbox binds folders under them into
// its helper processes, aborting the app when such a path exists but is not a folder (a file
// named like XDG_CACHE_HOME, a HOME that is a file).
void latchUsableUserFolders() {
    // A HOME that is a file is only ever replaced: it is not a folder GLib could create.
    if (const char* home = g_getenv("HOME"); home && *home && g_file_test(home, G_FILE_TEST_EXISTS) &&
                                             !g_file_test(home, G_FILE_TEST_IS_DIR)) {
        latchUsableUserFolder("HOME", "", g_get_home_dir);
    }
    latchUsableUserFolder("XDG_CACHE_HOME", ".cache", g_get_user_cache_dir);
    latchUsableUserFolder("XDG_CONFIG_HOME", ".config", g_get_user_config_dir);
    latchUsableUserFolder("XDG_DATA_HOME", ".local/share", g_get_user_data_dir);
}

}  // namespace lorvane::gtk
