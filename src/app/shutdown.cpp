// The last pass before the process ends: stop polling, ask both services to stop, close the logs.
#include "app/app_delegate.h"

namespace lorvane {

bool AppDelegate::applicationShouldTerminateAfterLastWindowClosed() {
    return true;  // one window: closing it ends the app
}

// Never waits: the services finish on their own, and their own descriptors keep their last words
// flowing into the logs after ours are closed. What the platform does afterwards with a service
// that does not finish (a bounded grace, then a forced end) is its own affair, out of sight.
void AppDelegate::applicationWillTerminate() {
    if (state_.readinessTimer) state_.readinessTimer->invalidate();
    if (state_.serverProcess && state_.serverProcess->isRunning()) state_.serverProcess->terminate();
    if (state_.voiceProcess && state_.voiceProcess->isRunning()) state_.voiceProcess->terminate();
    if (state_.serverLogHandle) (void)state_.serverLogHandle->close();
    if (state_.voiceLogHandle) (void)state_.voiceLogHandle->close();
}

}  // namespace lorvane
