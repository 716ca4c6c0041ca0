// The update check: fetch the release manifest, decide what it says, tell the user in an alert.
#include "app/app_delegate.h"
#include "update/update_outcome.h"

namespace lorvane {

namespace {

// A slow update server must not keep a menu check hanging for the platform's minute-long default.
constexpr double kManifestTimeoutSeconds = 8.0;

}  // namespace

void AppDelegate::checkForUpdatesFromMenu() {
    checkForUpdates(UpdateCheckTrigger::FromMenu);
}

// Each call is a check of its own: nothing records that one is running or what it found, so two
// menu requests in a row send two requests and show two alerts.
void AppDelegate::checkForUpdates(UpdateCheckTrigger trigger) {
    // A cached manifest could hide a release published since; always ask the server.
    const HttpRequest request{state_.updateManifestURL, kManifestTimeoutSeconds,
                              CachePolicy::ReloadIgnoringLocalCache};
    platform_.http.get(request, [weak = weak_from_this(), trigger](Result<HttpResponse> response) {
        const auto self = weak.lock();
        if (!self) return;
        const UpdateOutcome outcome = decideUpdate(
            response, self->platform_.places.installedVersion().value_or(kUnknownInstalledVersion));
        const auto alert = alertForOutcome(outcome, trigger, self->platform_.places.packageKind());
        if (!alert) return;
        const bool offersDownload = outcome.verdict == UpdateVerdict::NewerRelease;
        // The answer holds the delegate strongly: once an alert is in front of the user, its
        // first button opens the downloads page even if nothing else holds the delegate any more.
        self->platform_.application.showAlert(*alert, [self, offersDownload](AlertAnswer answer) {
            if (offersDownload && answer == AlertAnswer::FirstButton) {
                self->platform_.application.openURL(self->state_.downloadPageURL);
            }
        });
    });
}

}  // namespace lorvane
