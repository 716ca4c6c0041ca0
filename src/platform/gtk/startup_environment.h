// What the GTK backend settles in its own environment before GTK and WebKit start.
#pragma once

#include <optional>
#include <string>

#include "platform/posix/posix_environment.h"

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

// Picks GTK's and WebKit's renderers for a machine with these devices and a GTK 4 of this minor
// version (only where the user has not) and returns the variables it set or changed, which the
// shell keeps to itself.
ShellOnlyVariables chooseRenderers(const GraphicsDevices& devices, unsigned gtkMinorVersion);

// The same for this machine and the GTK the shell runs with; before GTK or WebKit start.
ShellOnlyVariables chooseRenderersForThisMachine();

// Makes sure the user folders GLib reports (HOME, the XDG cache, config and data folders) are
// folders; see the definition. Leaves the environment as it found it.
void latchUsableUserFolders();

}  // namespace lorvane::gtk
