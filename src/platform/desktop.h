// The desktop backend chosen at build time: it owns the platform services and runs the event loop.
#pragma once

#include <memory>

#include "platform/platform.h"

namespace lorvane {

class DesktopPlatform {
public:
    virtual ~DesktopPlatform() = default;
    // The services the delegate is built on; valid for the life of this object.
    virtual Platform& platform() = 0;
    // Runs the event loop with `delegate` as the application delegate; the delegate's launch and
    // termination callbacks are called from inside. Returns the process exit status.
    virtual int run(std::shared_ptr<ApplicationDelegate> delegate) = 0;
};

// Implemented by exactly one backend per build.
std::unique_ptr<DesktopPlatform> createDesktopPlatform(int argc, char** argv);

}  // namespace lorvane
