// Polls the local server until it answers, then shows the web application in the web view.
#include "readiness/readiness.h"

#include "app/app_delegate.h"
#include "app/local_origin.h"

namespace lorvane {

void AppDelegate::checkServerReadiness() {
    if (state_.appLoaded) return;
    // One probe at a time; the time limit waits for the outstanding answer, so a server that
    // answers just as the limit passes still gets loaded.
    if (state_.readinessCheckInFlight) return;
    if (platform_.clock.now() - state_.readinessStartedAt > readiness::kTimeLimitSeconds) {
        if (state_.readinessTimer) state_.readinessTimer->invalidate();
        showLaunchError();
        return;
    }

    // The port is read on every tick; the address built from it is always a well-formed URL.
    const std::string probeURL = localOrigin(state_.appPort) + "/";
    state_.readinessCheckInFlight = true;
    // Ready is a status arriving in time: how long "/" is, or how slowly it streams, does not matter.
    platform_.http.get(
        HttpRequest{probeURL, readiness::kProbeTimeoutSeconds, CachePolicy::ReloadIgnoringLocalCache,
                    HttpAnswerNeeded::StatusOnly},
        [weak = weak_from_this(), probeURL](Result<HttpResponse> response) {
            if (auto self = weak.lock()) self->onReadinessProbeOutcome(response ? response->status : 0, probeURL);
        });
}

void AppDelegate::onReadinessProbeOutcome(int status, const std::string& probeURL) {
    state_.readinessCheckInFlight = false;
    if (!readiness::isReadyStatus(status)) return;
    if (state_.appLoaded) return;
    state_.appLoaded = true;
    if (state_.readinessTimer) state_.readinessTimer->invalidate();
    if (!state_.webView) return;
    state_.webView->loadRequest(
        WebRequest{probeURL, CachePolicy::ReloadIgnoringLocalCache, readiness::kAppRequestTimeoutSeconds});
}

}  // namespace lorvane
