// The update check: fetch the release manifest, decide off the main thread, alert on it.
#include "app/app_delegate.h"
#include "update/update_outcome.h"

namespace lorvane {

namespace {

// A slow update server must not keep a menu check hanging for the platform's minute-long default.
constexpr double kManifestTimeoutSeconds = 8.0;

}  // namespace

void AppDelegate::checkForUpdatesFromMenu() {
    checkForUpdates(true);
}

// Each call is a check of its own: nothing records that one is running or what it found, so two
// menu requests in a row send two requests and show two alerts.
void AppDelegate::checkForUpdates(bool showCurrentVersion) {
    // A cached manifest could hide a release published since; always ask the server.
    const HttpRequest request{state_.updateManifestURL, kManifestTimeoutSeconds,
                              CachePolicy::ReloadIgnoringLocalCache};
    platform_.http.get(request, [weak = weak_from_this(), showCurrentVersion](std::optional<HttpResponse> response) {
        // Runs on the client's thread: only the captured values, the answer and the platform's
        // (immutable) installed version are read here; the state record is left alone.
        const auto self = weak.lock();
        if (!self) return;
        const UpdateOutcome outcome = decideUpdate(
            response, self->platform_.places.installedVersion().value_or(kUnknownInstalledVersion));
        // The launch-time check keeps failures to itself.
        if (outcome.verdict == UpdateVerdict::Failed && !showCurrentVersion) return;

        // The posted closure holds the delegate strongly: once an answer is on its way to the
        // user it is shown, even if nothing else holds the delegate any more.
        self->platform_.queue.post([self, outcome, showCurrentVersion] {
            const auto alert = alertForOutcome(outcome, showCurrentVersion, self->platform_.places.packageKind());
            if (!alert) return;
            const int answer = self->platform_.application.runModalAlert(*alert);
            if (outcome.verdict == UpdateVerdict::NewerRelease && answer == kAlertFirstButtonReturn) {
                self->platform_.application.openURL(self->state_.downloadPageURL);
            }
        });
    });
}

}  // namespace lorvane
