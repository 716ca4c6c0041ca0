// WebKitGTK web view: persistent data store, user agent, loads, scripts and media permissions.
#include "platform/gtk/gtk_web_view.h"

#include <algorithm>
#include <optional>
#include <set>
#include <utility>

#include "platform/gtk/glib_time.h"
#include "platform/gtk/spell_checking.h"

namespace lorvane::gtk {

namespace {

// The page background while nothing is drawn yet, the colour of the loading page, so the window
// never flashes white between pages.
constexpr GdkRGBA kPageBackground{7 / 255.0f, 17 / 255.0f, 31 / 255.0f, 1.0f};

// WebKit paints kPageBackground only once its web process has produced a first frame; until then
// GTK draws the widget's CSS background, which is made the same colour here.
void paintBackgroundBeforeFirstFrame(GtkWidget* widget) {
    static bool installed = false;
    GdkDisplay* display = gdk_display_get_default();
    if (!installed && display) {
        g_autoptr(GtkCssProvider) provider = gtk_css_provider_new();
        gtk_css_provider_load_from_data(provider, ".lorvane-page { background-color: #07111f; }", -1);
        gtk_style_context_add_provider_for_display(display, GTK_STYLE_PROVIDER(provider),
                                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
        installed = true;
    }
    gtk_widget_add_css_class(widget, "lorvane-page");
}

// "LorvaneMac/0.1" is a product token; WebKit wants its name and version apart and appends
// "name/version" to its own user agent, which is the form pages look for.
void applyApplicationName(WebKitSettings* settings, const std::string& applicationName) {
    if (applicationName.empty()) return;
    const auto slash = applicationName.rfind('/');
    if (slash == std::string::npos) {
        webkit_settings_set_user_agent_with_application_details(settings, applicationName.c_str(), nullptr);
        return;
    }
    const std::string name = applicationName.substr(0, slash);
    const std::string version = applicationName.substr(slash + 1);
    webkit_settings_set_user_agent_with_application_details(settings, name.c_str(),
                                                            version.empty() ? nullptr : version.c_str());
}

// WebKit's sandbox binds these folders into its helper processes and aborts the whole app when one
// of them exists but is not a folder; a session it cannot keep is better kept in memory.
bool usableFolder(const std::string& path) { return !path.empty() && g_mkdir_with_parents(path.c_str(), 0700) == 0; }

GObjectPtr<WebKitNetworkSession> makeSession(const WebViewSpec& spec, const WebViewEnvironment& environment) {
    if (spec.dataStore == WebsiteDataStore::Ephemeral || !usableFolder(environment.dataDirectory) ||
        !usableFolder(environment.cacheDirectory)) {
        return GObjectPtr<WebKitNetworkSession>::adopt(webkit_network_session_new_ephemeral());
    }
    auto session = GObjectPtr<WebKitNetworkSession>::adopt(
        webkit_network_session_new(environment.dataDirectory.c_str(), environment.cacheDirectory.c_str()));
    // Local storage persists in the data directory by itself; cookies only with explicit storage.
    const std::string cookies = environment.dataDirectory + "/cookies.sqlite";
    webkit_cookie_manager_set_persistent_storage(webkit_network_session_get_cookie_manager(session.get()),
                                                 cookies.c_str(), WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
    return session;
}

// The host of the origin a document loaded from `uri` has, as WebKit reckons origins: a blob: URL
// has its creator's, a data: URL an opaque one with no host (empty here).
std::string originHost(const char* uri) {
    if (!uri) return {};
    WebKitSecurityOrigin* origin = webkit_security_origin_new_for_uri(uri);
    const char* host = origin ? webkit_security_origin_get_host(origin) : nullptr;
    std::string result = host ? host : "";
    if (origin) webkit_security_origin_unref(origin);
    return result;
}

gboolean onIdleAfterAppLoaded(gpointer) {
    enableSpellCheckingOnce();
    return G_SOURCE_REMOVE;
}

struct ScriptCompletion {
    std::function<void(Result<void>)> done;
};

void onScriptFinished(GObject* source, GAsyncResult* result, gpointer data) {
    const auto completion = adoptFromGLib<ScriptCompletion>(data);
    g_autoptr(GError) error = nullptr;
    g_autoptr(JSCValue) value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
    // 601 means the script ran but its last value (a Promise, a node, a function) cannot be
    // handed back; the caller never asked for the value, so that is a success.
    const bool unconvertibleResult =
        error && g_error_matches(error, WEBKIT_JAVASCRIPT_ERROR, WEBKIT_JAVASCRIPT_ERROR_INVALID_RESULT);
    if (error && !unconvertibleResult) return completion->done(Failure{error->message ? error->message : ""});
    completion->done({});
}

}  // namespace

GtkWebView::GtkWebView(const WebViewSpec& spec, std::weak_ptr<WebViewUIDelegate> uiDelegate,
                       const WebViewEnvironment& environment)
    : uiDelegate_(std::move(uiDelegate)) {
    auto settings = GObjectPtr<WebKitSettings>::adopt(webkit_settings_new());
    applyApplicationName(settings.get(), spec.applicationNameForUserAgent);
    webkit_settings_set_enable_media_stream(settings.get(), TRUE);
    // A page restored from the back-forward cache brings its frames back without loading them, so
    // the hosts of its frames would go unseen (see decideUserMedia).
    webkit_settings_set_enable_page_cache(settings.get(), FALSE);
    if (environment.mockCaptureDevices) webkit_settings_set_enable_mock_capture_devices(settings.get(), TRUE);
    auto session = makeSession(spec, environment);

    view_ = GObjectPtr<WebKitWebView>::retain(WEBKIT_WEB_VIEW(g_object_new(
        WEBKIT_TYPE_WEB_VIEW, "network-session", session.get(), "settings", settings.get(), nullptr)));
    webkit_web_view_set_background_color(view_.get(), &kPageBackground);
    paintBackgroundBeforeFirstFrame(widget());
    gtk_widget_set_hexpand(widget(), TRUE);
    gtk_widget_set_vexpand(widget(), TRUE);
    g_signal_connect(view_.get(), "permission-request", G_CALLBACK(onPermissionRequest), this);
    g_signal_connect(view_.get(), "load-changed", G_CALLBACK(onLoadChanged), this);
    g_signal_connect(view_.get(), "load-failed", G_CALLBACK(onLoadFailed), this);
    g_signal_connect(view_.get(), "decide-policy", G_CALLBACK(onDecidePolicy), this);
    g_signal_connect(view_.get(), "web-process-terminated", G_CALLBACK(onWebProcessTerminated), this);
    // The web process is started by the first load and takes about 0.1 s to boot. A blank page,
    // painted in the page colour before anything is shown, starts it now, while the window is
    // still being built, rather than with the loading page afterwards.
    webkit_web_view_load_html(view_.get(), "", nullptr);
    WebKitUserContentManager* scripts = webkit_web_view_get_user_content_manager(view_.get());
    webkit_user_content_manager_register_script_message_handler(scripts, kReloadMessageHandler, nullptr);
    g_signal_connect(scripts, (std::string("script-message-received::") + kReloadMessageHandler).c_str(),
                     G_CALLBACK(onReloadMessage), this);
}

GtkWebView::~GtkWebView() {
    cancelLoadTimeout();
    g_signal_handlers_disconnect_by_data(view_.get(), this);
    g_signal_handlers_disconnect_by_data(webkit_web_view_get_user_content_manager(view_.get()), this);
}

void GtkWebView::loadHtml(const std::string& html) {
    cancelLoadTimeout();
    shown_ = html;
    showingStoppedPage_ = false;
    webkit_web_view_load_html(view_.get(), html.c_str(), nullptr);
}

void GtkWebView::loadRequest(const WebRequest& request) {
    cancelLoadTimeout();
    shown_ = request;
    requestCommitted_ = false;
    showingStoppedPage_ = false;
    auto uriRequest = GObjectPtr<WebKitURIRequest>::adopt(webkit_uri_request_new(request.url.c_str()));
    if (request.cachePolicy == CachePolicy::ReloadIgnoringLocalCache) {
        // With this header WebKit revalidates instead of answering from its memory or disk cache.
        SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(uriRequest.get());
        if (headers) soup_message_headers_append(headers, "Cache-Control", "no-cache");
    }
    webkit_web_view_load_request(view_.get(), uriRequest.get());
    if (const guint ms = millisecondsFor(request.timeoutSeconds); ms > 0) {
        // Borrows the view, which removes the source before it goes (cancelLoadTimeout).
        loadTimeoutSource_ = g_timeout_add_full(G_PRIORITY_DEFAULT, ms, onLoadTimeout, this, nullptr);
    }
}

void GtkWebView::evaluateJavaScript(const std::string& script, std::function<void(Result<void>)> done) {
    auto completion = std::make_unique<ScriptCompletion>(ScriptCompletion{std::move(done)});
    // The task keeps the view alive until it completes, so the completion always runs, once.
    webkit_web_view_evaluate_javascript(view_.get(), script.data(), static_cast<gssize>(script.size()), nullptr,
                                        nullptr, nullptr, onScriptFinished, releaseToGLib(std::move(completion)));
}

void GtkWebView::executeEditingCommand(const char* command) {
    webkit_web_view_execute_editing_command(view_.get(), command);
}

void GtkWebView::cancelLoadTimeout() {
    if (loadTimeoutSource_ != 0) g_source_remove(std::exchange(loadTimeoutSource_, 0u));
}

void GtkWebView::onLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
    auto* self = static_cast<GtkWebView*>(data);
    // The web app is there to type into: its first frames have had their turn.
    if (event == WEBKIT_LOAD_FINISHED && self->requestCommitted_) {
        g_idle_add_full(G_PRIORITY_LOW, onIdleAfterAppLoaded, nullptr, nullptr);
    }
    if (event != WEBKIT_LOAD_COMMITTED) return;
    // Once the answer is being committed the request has been served; what follows is rendering.
    // Only a commit says so: the end of a load replaced by a newer one can be reported after the
    // newer one has started, and must not take its time-out away.
    self->cancelLoadTimeout();
    // The address of the document now in the view; until the next commit the view's address may be
    // that of a load still pending. The old document's frames went with it.
    self->committedHost_ = originHost(webkit_web_view_get_uri(view));
    self->frameHosts_.clear();
    if (!self->showingStoppedPage_ && self->shown_ && std::holds_alternative<WebRequest>(*self->shown_)) {
        self->requestCommitted_ = true;
    }
}

// WebKit leaves the view blank when its web process ends. What the view showed is loaded again:
// the web app where it had loaded (at the address the page had reached), else the page the core
// had shown, the loading page among them, while readiness goes on as before. Past the budget the
// stopped page says so instead; a process the app ends itself is none of this.
void GtkWebView::onWebProcessTerminated(WebKitWebView* view, WebKitWebProcessTerminationReason reason,
                                        gpointer data) {
    if (reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API) return;
    auto* self = static_cast<GtkWebView*>(data);
    auto* request = self->shown_ ? std::get_if<WebRequest>(&*self->shown_) : nullptr;
    const char* uri = webkit_web_view_get_uri(view);
    if (request && self->requestCommitted_ && !self->showingStoppedPage_ && uri) request->url = uri;
    const bool reload = !self->showingStoppedPage_ && self->reloads_.take(g_get_monotonic_time());
    g_printerr("lorvane: the page's web process %s; %s\n",
               reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ? "ended for using too much memory" : "crashed",
               reload ? "loading the page again" : "showing that the page stopped");
    if (reload) return self->showAgain();
    self->cancelLoadTimeout();
    self->showingStoppedPage_ = true;
    webkit_web_view_load_html(view, kStoppedPageHtml, nullptr);
}

// The stopped page's button: the person asks for the page again, with a fresh budget. Any other
// page posting the message changes nothing.
void GtkWebView::onReloadMessage(WebKitUserContentManager*, JSCValue*, gpointer data) {
    auto* self = static_cast<GtkWebView*>(data);
    if (!self->showingStoppedPage_) return;
    self->reloads_.reset();
    self->showAgain();
}

void GtkWebView::showAgain() {
    if (!shown_) return;
    const auto shown = *shown_;  // a copy: loading replaces it
    if (const auto* html = std::get_if<std::string>(&shown)) {
        loadHtml(*html);
    } else {
        loadRequest(std::get<WebRequest>(shown));
    }
}

gboolean GtkWebView::onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                    gpointer data) {
    if (type != WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;
    auto* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
    if (webkit_response_policy_decision_is_main_frame_main_resource(response)) return FALSE;
    // Every document a frame loads passes here before it runs, whoever put the frame in the page.
    // about:blank and about:srcdoc documents take the origin of the document that made them.
    const char* uri = webkit_uri_response_get_uri(webkit_response_policy_decision_get_response(response));
    if (uri && g_strcmp0(g_uri_peek_scheme(uri), "about") != 0) {
        static_cast<GtkWebView*>(data)->frameHosts_.insert(originHost(uri));
    }
    return FALSE;  // WebKit's own decision stands
}

gboolean GtkWebView::onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError*, gpointer) {
    // Handled, so WebKit shows no error page of its own: a load that fails before its answer
    // arrives leaves the page that was there (the loading page, the launch-error page, the app),
    // and one cut off later leaves what had arrived. A cancelled load (stopped by its time-out, or
    // replaced by a newer one) ends the same way.
    return TRUE;
}

gboolean GtkWebView::onLoadTimeout(gpointer data) {
    auto* self = static_cast<GtkWebView*>(data);
    self->loadTimeoutSource_ = 0;
    // A load that has already failed leaves nothing to stop.
    if (webkit_web_view_is_loading(self->view_.get())) webkit_web_view_stop_loading(self->view_.get());
    return G_SOURCE_REMOVE;
}

bool GtkWebView::decideUserMedia(WebKitUserMediaPermissionRequest* request) {
    // Screen sharing is not something the app ever asks the core about.
    if (webkit_user_media_permission_is_for_display_device(request)) return false;
    const bool audio = webkit_user_media_permission_is_for_audio_device(request);
    const bool video = webkit_user_media_permission_is_for_video_device(request);
    if (!audio && !video) return false;
    const MediaCaptureType type = audio && video ? MediaCaptureType::CameraAndMicrophone
                                  : audio        ? MediaCaptureType::Microphone
                                                 : MediaCaptureType::Camera;
    const auto delegate = uiDelegate_.lock();
    if (!delegate) return false;
    // WebKitGTK does not say which document asks: the committed top-level document, or any
    // document loaded into a frame of it since. (WebKit itself asks only while the view's address
    // has the asking page's top-level origin.) So every host that may have asked is put to the
    // delegate, and only what each of them would be granted is allowed.
    std::set<std::string> hosts = frameHosts_;
    hosts.insert(committedHost_);
    return std::all_of(hosts.begin(), hosts.end(), [&](const std::string& host) {
        return delegate->onMediaCapturePermissionRequest(host, type) == PermissionDecision::Grant;
    });
}

gboolean GtkWebView::onPermissionRequest(WebKitWebView*, WebKitPermissionRequest* request, gpointer data) {
    auto* self = static_cast<GtkWebView*>(data);
    bool allow = false;
    if (WEBKIT_IS_USER_MEDIA_PERMISSION_REQUEST(request)) {
        allow = self->decideUserMedia(WEBKIT_USER_MEDIA_PERMISSION_REQUEST(request));
    }
    // Everything else (device labels, geolocation, notifications, pointer lock, clipboard, storage
    // access) is refused: the app asks for none of it.
    if (allow) {
        webkit_permission_request_allow(request);
    } else {
        webkit_permission_request_deny(request);
    }
    return TRUE;
}

}  // namespace lorvane::gtk
