// Process entry: one platform, one delegate held for the whole run, then the platform's event loop.
#include <memory>

#include "app/app_delegate.h"
#include "build_config.h"
#include "platform/desktop.h"

int main(int argc, char** argv) {
    auto desktop = lorvane::createDesktopPlatform(argc, argv);
    auto delegate = std::make_shared<lorvane::AppDelegate>(
        desktop->platform(),
        lorvane::UpdateEndpoints{LORVANE_UPDATE_ORIGIN "/releases/latest.json", LORVANE_UPDATE_ORIGIN "/#downloads"});
    return desktop->run(delegate);
}
