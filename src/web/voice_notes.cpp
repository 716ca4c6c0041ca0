// The voice-notes menu command: raise the window and switch the page to its voice view.
#include "web/voice_notes.h"

#include <string>

#include "app/app_delegate.h"
#include "app/local_origin.h"

namespace lorvane {

WebRequest voiceViewRequest(std::int64_t appPort) {
    return {localOrigin(appPort) + "/?view=voice", CachePolicy::ReloadIgnoringLocalCache, 60.0};
}

void AppDelegate::openVoiceNotes() {
    // Before the web application is loaded the loading or launch-error page is showing, and it
    // knows nothing of a voice view.
    if (!state_.appLoaded) return;
    // The launch sequence creates both before readiness polling can set appLoaded, so this never
    // happens; if it somehow did, the command does nothing rather than raise a window whose page
    // cannot be switched.
    if (!state_.window || !state_.webView) return;

    state_.window->present();
    platform_.application.activate();
    // The script switches the view without a reload, keeping whatever the page holds in memory.
    state_.webView->evaluateJavaScript(std::string(kVoiceViewScript),
                                       [weak = weak_from_this()](Result<void> ran) {
                                           if (ran) return;
                                           const auto self = weak.lock();
                                           if (!self) return;
                                           // The page refused (or has no history API): reload it
                                           // straight onto the voice view instead.
                                           self->state_.webView->loadRequest(
                                               voiceViewRequest(self->state_.appPort));
                                       });
}

}  // namespace lorvane
