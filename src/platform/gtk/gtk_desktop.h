// Building the GTK desktop platform, with the switches that only the end-to-end test shell sets.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/desktop.h"

namespace lorvane {

// The shipped app uses the defaults; the test shell changes them so tests can stand in for the
// network and the hardware without touching the shipped binary's behaviour.
struct GtkDesktopOptions {
    // Absent: HTTPS is checked against the system trust store. Present: absolute path of a PEM
    // file whose certificates the HTTP client trusts instead.
    std::optional<std::string> trustedCaFile;
    // Fake camera and microphone in the web view, for machines without capture hardware.
    bool mockCaptureDevices = false;
};

// Main thread, once per process. The platform runs a single-instance GtkApplication: when another
// instance already runs, run() asks it to raise its window and returns without launching anything.
std::unique_ptr<DesktopPlatform> createGtkDesktopPlatform(const GtkDesktopOptions& options);

}  // namespace lorvane
