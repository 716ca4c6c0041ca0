// The renderer choice: what counts as a GPU, and that a user's own choice is left alone.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/gtk/startup_environment.h"

namespace lorvane::gtk {
namespace {

namespace fs = std::filesystem;

struct DeviceCase {
    const char* name;
    std::vector<std::pair<const char*, const char*>> renderNodes;  // node name, its driver ("" none)
    bool nvidia;
    std::optional<std::string> forcedSoftwareGl;
    bool expected;
};

// A /dev and a /sys/class/drm laid out in a scratch folder as the kernel lays them out.
GraphicsDevices layOut(const fs::path& root, const DeviceCase& c) {
    fs::create_directories(root / "dev/dri");
    fs::create_directories(root / "sys/class/drm");
    std::ofstream(root / "dev/dri/card0").put('\n');
    if (c.nvidia) std::ofstream(root / "dev/nvidiactl").put('\n');
    for (const auto& [node, driver] : c.renderNodes) {
        std::ofstream(root / "dev/dri" / node).put('\n');
        const fs::path device = root / "sys/class/drm" / node / "device";
        fs::create_directories(device);
        if (*driver) fs::create_directory_symlink(root / "sys/bus/pci/drivers" / driver, device / "driver");
    }
    return GraphicsDevices{(root / "dev").string(), (root / "sys/class/drm").string(), c.forcedSoftwareGl};
}

TEST(RendererChoiceTest, OnlyARealDevicesRenderNodeOrNvidiasDriverCountsAsAGpu) {
    const DeviceCase cases[] = {
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
        SCOPED_TRACE(c.name);
        const fs::path root = fs::temp_directory_path() / ("lorvane-gpu-" + std::to_string(::getpid()));
        fs::remove_all(root);
        EXPECT_EQ(machineOffersHardwareGl(layOut(root, c)), c.expected);
        fs::remove_all(root);
    }
    EXPECT_FALSE(machineOffersHardwareGl(GraphicsDevices{"/nonexistent/dev", "/nonexistent/sys", std::nullopt}));
}

TEST(RendererChoiceTest, WithoutAGpuBothRenderersPaintOnTheCpuUnlessTheUserChoseOne) {
    ::setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
    ::setenv("GSK_RENDERER", "ngl", 1);
    ::unsetenv("WEBKIT_SKIA_ENABLE_CPU_RENDERING");
    const auto set = chooseRenderersForThisMachine();
    EXPECT_EQ(set, std::vector<std::string>{"WEBKIT_SKIA_ENABLE_CPU_RENDERING"});
    EXPECT_STREQ(std::getenv("GSK_RENDERER"), "ngl");
    EXPECT_STREQ(std::getenv("WEBKIT_SKIA_ENABLE_CPU_RENDERING"), "1");

    ::unsetenv("GSK_RENDERER");
    ::unsetenv("WEBKIT_SKIA_ENABLE_CPU_RENDERING");
    const std::vector<std::string> both{"GSK_RENDERER", "WEBKIT_SKIA_ENABLE_CPU_RENDERING"};
    EXPECT_EQ(chooseRenderersForThisMachine(), both);
    EXPECT_STREQ(std::getenv("GSK_RENDERER"), "cairo");
    ::unsetenv("GSK_RENDERER");
    ::unsetenv("WEBKIT_SKIA_ENABLE_CPU_RENDERING");
    ::unsetenv("LIBGL_ALWAYS_SOFTWARE");
}

}  // namespace
}  // namespace lorvane::gtk
