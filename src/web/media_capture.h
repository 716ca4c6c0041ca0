// Who may use the microphone and camera: the policy the web view's capture requests get.
#pragma once

#include <string_view>

#include "platform/web_view.h"

namespace lorvane {

// Grants requests that include the microphone when they come from the local web application,
// whose host is exactly "127.0.0.1" or "localhost" (case-sensitive; port and scheme are not
// looked at). Everything else is denied: other hosts, the empty host, camera-only requests and
// type values this build does not know. Never answers Prompt: the user is never asked.
PermissionDecision decideMediaCapture(std::string_view host, MediaCaptureType type);

}  // namespace lorvane
