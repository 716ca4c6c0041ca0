// The single web view and the questions it asks the app (media capture).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/http_client.h"
#include "platform/result.h"

namespace lorvane {

// What a page asks to capture. Values match the ones pages and the native APIs use; a backend
// may pass values it does not know, which the decision treats as unknown.
enum class MediaCaptureType : int {
    Camera = 0,
    Microphone = 1,
    CameraAndMicrophone = 2,
};

enum class PermissionDecision : int {
    Prompt = 0,
    Grant = 1,
    Deny = 2,
};

// A navigation request for the web view.
struct WebRequest {
    std::string url;
    CachePolicy cachePolicy = CachePolicy::UseProtocolDefault;
    double timeoutSeconds = 60.0;
};

class WebView {
public:
    virtual ~WebView() = default;
    // Main thread. Shows `html` (UTF-8) with no base URL, replacing the current page.
    virtual void loadHtml(const std::string& html) = 0;
    // Main thread. Starts loading `request`, replacing the current page once its answer arrives.
    // Load failures are not reported: a load that fails leaves the current page, with no message.
    virtual void loadRequest(const WebRequest& request) = 0;
    // Main thread. Runs `script` in the main frame; `done` is called once, on the main thread, with
    // a failure if the script failed to run or threw (a result that cannot be converted is none).
    virtual void evaluateJavaScript(const std::string& script, std::function<void(Result<void>)> done) = 0;
};

// Implemented by the app; the web view asks it on the main thread.
class WebViewUIDelegate {
public:
    virtual ~WebViewUIDelegate() = default;
    // A document whose origin has `host` asks for capture devices: the answer is returned. A
    // backend that cannot tell which of several documents asks puts each of their hosts in turn,
    // and allows capture only when every answer grants it.
    virtual PermissionDecision onMediaCapturePermissionRequest(const std::string& host, MediaCaptureType type) = 0;
};

// Where the web view keeps cookies and site storage.
enum class WebsiteDataStore {
    PersistentDefault,  // the platform's default store, kept across runs
    Ephemeral,          // in memory, gone when the app ends
};

// How the web view is configured when it is created.
struct WebViewSpec {
    std::string applicationNameForUserAgent;  // appended to the user agent as "<name>"
    WebsiteDataStore dataStore = WebsiteDataStore::PersistentDefault;
};

}  // namespace lorvane
