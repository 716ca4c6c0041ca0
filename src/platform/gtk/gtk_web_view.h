// The single WebKitGTK web view behind the WebView seam, with its data store and permission glue.
#pragma once

#include <webkit/webkit.h>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>

#include "platform/gtk/gobject_ptr.h"
#include "platform/gtk/web_process_recovery.h"
#include "platform/web_view.h"

namespace lorvane::gtk {

// Where and how the web view keeps its data; chosen by the desktop, not by the core.
struct WebViewEnvironment {
    std::string dataDirectory;   // cookies, local storage, IndexedDB
    std::string cacheDirectory;  // the HTTP disk cache
    bool mockCaptureDevices = false;  // test shells only: fake camera and microphone
};

// Owns one WebKitWebView (a strong reference; the window adds its own when it takes the view).
// Media-capture requests are mapped to the core's types and decided by the UI delegate, which is
// held weakly: once it is gone every request is denied. The hosts put to it are those of the
// committed page and of every document its frames have loaded, since WebKitGTK does not tell which
// of them asks. When the web process ends under the view, what it showed is loaded again (see
// onWebProcessTerminated). Everything here runs on the main thread.
class GtkWebView final : public WebView {
public:
    GtkWebView(const WebViewSpec& spec, std::weak_ptr<WebViewUIDelegate> uiDelegate,
               const WebViewEnvironment& environment);
    ~GtkWebView() override;
    GtkWebView(const GtkWebView&) = delete;
    GtkWebView& operator=(const GtkWebView&) = delete;

    void loadHtml(const std::string& html) override;
    // WebKit has no per-request time-out: a timer stops the load if the page has not started to
    // arrive (load not yet committed) within `timeoutSeconds`, which is when a request would have
    // timed out. A later load cancels the timer of the earlier one. A load that fails or is stopped
    // leaves the current page in place; WebKit's own error page is never shown.
    void loadRequest(const WebRequest& request) override;
    void evaluateJavaScript(const std::string& script, std::function<void(Result<void>)> done) override;

    // Runs one of WebKit's editing commands (WEBKIT_EDITING_COMMAND_COPY, ...) on the focused frame.
    void executeEditingCommand(const char* command);
    GtkWidget* widget() const { return GTK_WIDGET(view_.get()); }

private:
    static gboolean onPermissionRequest(WebKitWebView* view, WebKitPermissionRequest* request, gpointer self);
    static void onLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self);
    static gboolean onLoadFailed(WebKitWebView* view, WebKitLoadEvent event, gchar* uri, GError* error, gpointer self);
    static gboolean onLoadTimeout(gpointer self);
    void cancelLoadTimeout();
    static gboolean onDecidePolicy(WebKitWebView* view, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                   gpointer self);
    bool decideUserMedia(WebKitUserMediaPermissionRequest* request);
    static void onWebProcessTerminated(WebKitWebView* view, WebKitWebProcessTerminationReason reason, gpointer self);
    static void onReloadMessage(WebKitUserContentManager* manager, JSCValue* message, gpointer self);
    void showAgain();

    GObjectPtr<WebKitWebView> view_;
    std::weak_ptr<WebViewUIDelegate> uiDelegate_;
    guint loadTimeoutSource_ = 0;
    std::string committedHost_;          // of the top-level document in the view
    std::set<std::string> frameHosts_;   // of the documents its frames have loaded since it committed
    // What the core last had the view show, as it can be shown again: a page's HTML, or a request
    // whose address follows the document once one has committed (the page may have moved on).
    std::optional<std::variant<std::string, WebRequest>> shown_;
    bool requestCommitted_ = false;
    bool showingStoppedPage_ = false;
    ReloadBudget reloads_;
};

}  // namespace lorvane::gtk
