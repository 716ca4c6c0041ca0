// The renderer choice: what counts as a GPU, what the shell sets where there is none, and that a
// user's own choice is left alone.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/gtk/startup_environment.h"

namespace lorvane::gtk {
namespace {

namespace fs = std::filesystem;

// A /dev and a /sys/class/drm laid out in a scratch folder as the kernel lays them out: a card
// node (never a render node), NVIDIA's control device or not, and render nodes with their drivers.
GraphicsDevices layOut(const fs::path& root, bool nvidia, const std::vector<std::pair<const char*, const char*>>& nodes,
                       std::optional<std::string> forcedSoftwareGl = std::nullopt) {
    fs::remove_all(root);
    fs::create_directories(root / "dev/dri");
    std::ofstream(root / "dev/dri/card0").put('\n');
    if (nvidia) std::ofstream(root / "dev/nvidiactl").put('\n');
    for (const auto& [node, driver] : nodes) {
        std::ofstream(root / "dev/dri" / node).put('\n');
        const fs::path device = root / "sys/class/drm" / node / "device";
        fs::create_directories(device);
        if (*driver) fs::create_directory_symlink(root / "sys/bus/pci/drivers" / driver, device / "driver");
    }
    return GraphicsDevices{(root / "dev").string(), (root / "sys/class/drm").string(), forcedSoftwareGl};
}

const fs::path kRoot = fs::temp_directory_path() / ("lorvane-gpu-" + std::to_string(::getpid()));

TEST(RendererChoiceTest, OnlyARealDevicesRenderNodeOrNvidiasDriverCountsAsAGpu) {
    const struct {
        const char* name;
        std::vector<std::pair<const char*, const char*>> renderNodes;  // node name, its driver ("" none)
        bool nvidia;
        std::optional<std::string> forcedSoftwareGl;
        bool expected;
    } cases[] = {
        {"no render node at all", {}, false, std::nullopt, false},
        {"a real device's render node", {{"renderD128", "i915"}}, false, std::nullopt, true},
        {"a render node whose driver is unknown", {{"renderD128", ""}}, false, std::nullopt, true},
        {"virtual devices only", {{"renderD128", "vgem"}, {"renderD129", "vkms"}}, false, std::nullopt, false},
        {"a virtual and a real device", {{"renderD128", "vgem"}, {"renderD129", "amdgpu"}}, false, std::nullopt, true},
        {"NVIDIA's driver", {}, true, std::nullopt, true},
        {"software GL forced", {{"renderD128", "i915"}}, true, "1", false},
        {"software GL explicitly not forced", {{"renderD128", "i915"}}, false, "0", true},
        {"software GL variable empty", {{"renderD128", "i915"}}, false, "", true},
    };
    for (const auto& c : cases) {
        const GraphicsDevices devices = layOut(kRoot, c.nvidia, c.renderNodes, c.forcedSoftwareGl);
        EXPECT_EQ(machineOffersHardwareGl(devices), c.expected) << c.name;
    }
    fs::remove_all(kRoot);
    EXPECT_FALSE(machineOffersHardwareGl(GraphicsDevices{"/nonexistent/dev", "/nonexistent/sys", std::nullopt}));
}

// "NAME=value;OTHER" as variables: OTHER, without a value, is unset.
ShellOnlyVariables parsed(const std::string& text) {
    ShellOnlyVariables variables;
    std::istringstream in(text);
    for (std::string item; std::getline(in, item, ';');) {
        const auto equals = item.find('=');
        if (equals != std::string::npos) {
            variables[item.substr(0, equals)] = item.substr(equals + 1);
        } else if (!item.empty()) {
            variables[item] = std::nullopt;
        }
    }
    return variables;
}

TEST(RendererChoiceTest, WithoutAGpuGtkAndWebKitStayOffGlUnlessTheUserChoseOtherwise) {
    const std::string cpu = ";GSK_RENDERER=cairo;WEBKIT_SKIA_ENABLE_CPU_RENDERING=1";
    const std::string cpuKept = ";GSK_RENDERER;WEBKIT_SKIA_ENABLE_CPU_RENDERING";
    const struct {
        const char* name;
        bool gpu;
        unsigned gtkMinorVersion;
        std::string userSet;
        std::string expected;  // the shell's environment afterwards
        std::string kept;      // what the choice hands back: the changed variables as they were
    } cases[] = {
        {"a GPU: nothing changes", true, 8, "GDK_DEBUG=portals", "GDK_DEBUG=portals", ""},
        {"GTK 4.8, nothing set", false, 8, "", "GDK_DEBUG=gl-disable" + cpu, "GDK_DEBUG" + cpuKept},
        {"GTK 4.8, the user's GDK_DEBUG is added to", false, 8, "GDK_DEBUG=portals",
         "GDK_DEBUG=portals,gl-disable" + cpu, "GDK_DEBUG=portals" + cpuKept},
        {"GTK 4.8, an empty GDK_DEBUG", false, 8, "GDK_DEBUG=", "GDK_DEBUG=gl-disable" + cpu, "GDK_DEBUG=" + cpuKept},
        {"GTK 4.8, GL already off in the user's GDK_DEBUG", false, 8, "GDK_DEBUG=portals:GL-DISABLE",
         "GDK_DEBUG=portals:GL-DISABLE" + cpu, cpuKept},
        {"GTK 4.8, every GDK_DEBUG item", false, 8, "GDK_DEBUG=all", "GDK_DEBUG=all" + cpu, cpuKept},
        {"GTK 4.8, an item that only starts like it", false, 8, "GDK_DEBUG=gl-disable-gles",
         "GDK_DEBUG=gl-disable-gles,gl-disable" + cpu, "GDK_DEBUG=gl-disable-gles" + cpuKept},
        {"GTK 4.14 still reads GDK_DEBUG", false, 14, "GDK_DISABLE=vulkan",
         "GDK_DEBUG=gl-disable;GDK_DISABLE=vulkan" + cpu, "GDK_DEBUG" + cpuKept},
        {"GTK 4.16 reads GDK_DISABLE, and adds to the user's", false, 16, "GDK_DEBUG=portals;GDK_DISABLE=vulkan",
         "GDK_DEBUG=portals;GDK_DISABLE=vulkan,gl" + cpu, "GDK_DISABLE=vulkan" + cpuKept},
        {"the user chose GTK's GL renderer", false, 8, "GSK_RENDERER=ngl",
         "GSK_RENDERER=ngl;WEBKIT_SKIA_ENABLE_CPU_RENDERING=1", "WEBKIT_SKIA_ENABLE_CPU_RENDERING"},
        {"the user chose WebKit's GPU painting", false, 8, "WEBKIT_SKIA_ENABLE_CPU_RENDERING=0",
         "GSK_RENDERER=cairo;WEBKIT_SKIA_ENABLE_CPU_RENDERING=0", "GSK_RENDERER"},
        {"the user chose the CPU renderers themselves", false, 8, cpu, "GDK_DEBUG=gl-disable" + cpu, "GDK_DEBUG"},
    };
    // The variables the choice reads or writes.
    const char* const variables[] = {"GSK_RENDERER", "WEBKIT_SKIA_ENABLE_CPU_RENDERING", "GDK_DEBUG", "GDK_DISABLE"};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* name : variables) ::unsetenv(name);
        for (const auto& [name, value] : parsed(c.userSet)) ::setenv(name.c_str(), value->c_str(), 1);
        const GraphicsDevices machine = layOut(kRoot, /* NVIDIA's driver as the GPU */ c.gpu, {});
        EXPECT_EQ(chooseRenderers(machine, c.gtkMinorVersion), parsed(c.kept));
        ShellOnlyVariables now;
        for (const char* name : variables) {
            if (const char* value = std::getenv(name)) now.emplace(name, value);
        }
        EXPECT_EQ(now, parsed(c.expected));
    }
    fs::remove_all(kRoot);
    for (const char* name : variables) ::unsetenv(name);
}

}  // namespace
}  // namespace lorvane::gtk
