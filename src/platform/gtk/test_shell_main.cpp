// Entry of the end-to-end test shell: the app as shipped, with its network and devices made testable.
// LORVANE_TEST_UPDATE_ORIGIN replaces the update server's origin, LORVANE_TEST_CA_FILE (an absolute
// path) is the only CA the HTTP client trusts, and LORVANE_TEST_MOCK_CAPTURE=1 gives the web view
// WebKit's fake camera and microphone in place of the machine's (a test of the camera policy needs
// a camera; one that records sound uses a real sound server instead).
#include <cstdlib>
#include <memory>
#include <string>

#include "app/app_delegate.h"
#include "build_config.h"
#include "platform/gtk/gtk_desktop.h"

namespace {

std::string environmentOr(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

}  // namespace

int main() {
    lorvane::GtkDesktopOptions options;
    if (const char* caFile = std::getenv("LORVANE_TEST_CA_FILE"); caFile && *caFile) options.trustedCaFile = caFile;
    options.mockCaptureDevices = environmentOr("LORVANE_TEST_MOCK_CAPTURE", "") == "1";
    const std::string origin = environmentOr("LORVANE_TEST_UPDATE_ORIGIN", LORVANE_UPDATE_ORIGIN);

    auto desktop = lorvane::createGtkDesktopPlatform(options);
    auto delegate = std::make_shared<lorvane::AppDelegate>(
        desktop->platform(), lorvane::UpdateEndpoints{origin + "/releases/latest.json", origin + "/#downloads"});
    return desktop->run(delegate);
}
