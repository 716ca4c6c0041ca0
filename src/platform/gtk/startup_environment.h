// What the GTK backend settles in its own environment before GTK and WebKit start.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace lorvane::gtk {

// Where a machine's graphics devices are listed; the defaults are this machine's.
struct GraphicsDevices {
    std::string devices = "/dev";
    std::string drmClass = "/sys/class/drm";
    std::optional<std::string> forcedSoftwareGl;  // LIBGL_ALWAYS_SOFTWARE, when set
};

// Whether GL can run on a GPU here: a DRM render node of a real device, or the proprietary NVIDIA
// driver's control device. Without one, Mesa renders GL on the CPU.
bool machineOffersHardwareGl(const GraphicsDevices& devices);

// Picks GTK's and WebKit's renderers for this machine (only where the user has not) and returns
// the names of the variables it set, which the shell keeps to itself.
std::vector<std::string> chooseRenderersForThisMachine();

// Makes sure the user folders GLib reports (HOME, the XDG cache, config and data folders) are
// folders; see the definition. Leaves the environment as it found it.
void latchUsableUserFolders();

}  // namespace lorvane::gtk
