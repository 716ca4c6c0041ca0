// The media-capture policy and the delegate's answer to the web view's capture requests.
#include "web/media_capture.h"

#include "app/app_delegate.h"

namespace lorvane {

namespace {

// Exact comparison on purpose: a host the web view reports in another spelling ("LOCALHOST",
// "127.0.0.2") is not the local web application as far as this policy knows.
bool isLocalHost(std::string_view host) {
    return host == "127.0.0.1" || host == "localhost";
}

}  // namespace

PermissionDecision decideMediaCapture(std::string_view host, MediaCaptureType type) {
    // No default: a new capture type must be decided here explicitly, or the compiler says so.
    switch (type) {
        case MediaCaptureType::Microphone:
        case MediaCaptureType::CameraAndMicrophone:
            return isLocalHost(host) ? PermissionDecision::Grant : PermissionDecision::Deny;
        case MediaCaptureType::Camera:
            // The local app only needs the microphone; the camera stays off even for it.
            return PermissionDecision::Deny;
    }
    // A value outside the enum, passed through by a backend that knows more types than we do.
    return PermissionDecision::Deny;
}

PermissionDecision AppDelegate::onMediaCapturePermissionRequest(const std::string& host, MediaCaptureType type) {
    return decideMediaCapture(host, type);
}

}  // namespace lorvane
