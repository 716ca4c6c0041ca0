// Construction of the delegate and the address helper every subsystem shares.
#include "app/app_delegate.h"

#include "app/local_origin.h"

namespace lorvane {

std::string localOrigin(std::int64_t port) {
    return "http://127.0.0.1:" + std::to_string(port);
}

AppDelegate::AppDelegate(Platform& platform, UpdateEndpoints endpoints) : platform_(platform) {
    state_.updateManifestURL = std::move(endpoints.manifestURL);
    state_.downloadPageURL = std::move(endpoints.downloadPageURL);
    state_.readinessStartedAt = platform_.clock.now();
}

}  // namespace lorvane
