// libsoup 3 transfers on a network thread: send, read the body up to the cap, deliver on the main thread.
#include "platform/gtk/soup_http_client.h"

#include <libsoup/soup.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <thread>
#include <utility>

#include "platform/gtk/gobject_ptr.h"

namespace lorvane::gtk {

// The network thread and the sessions that live on it. libsoup binds a session to the main context
// that was the thread default when it was made, so the sessions are made, used and dropped there.
struct SoupHttpClient::Session {
    GMainContext* context = nullptr;
    GMainLoop* loop = nullptr;
    std::thread thread;
    std::optional<std::string> trustedCaFile;
    GObjectPtr<SoupSession> soup;      // everything else: system proxy settings apply
    GObjectPtr<SoupSession> loopback;  // this machine's own services: never through a proxy
};

namespace {

constexpr gsize kReadChunkBytes = 64 * 1024;

// One request in flight, touched only on the network thread. It owns everything it needs and
// deletes itself once its outcome has been handed to the main thread.
struct Transfer {
    GObjectPtr<SoupSession> session;
    GObjectPtr<SoupMessage> message;
    GObjectPtr<GCancellable> cancellable;
    GObjectPtr<GInputStream> body;
    HttpClient::Completion done;
    std::string received;
    GSource* timeout = nullptr;
    bool startedOverHttps = false;
};

struct Delivery {
    HttpClient::Completion done;
    std::optional<HttpResponse> response;
};

gboolean deliverOnMainThread(gpointer data) {
    std::unique_ptr<Delivery> delivery(static_cast<Delivery*>(data));
    delivery->done(std::move(delivery->response));
    return G_SOURCE_REMOVE;
}

void finish(Transfer* transfer, std::optional<HttpResponse> response) {
    if (transfer->timeout) {
        g_source_destroy(transfer->timeout);
        g_source_unref(transfer->timeout);
    }
    if (transfer->message) g_signal_handlers_disconnect_by_data(transfer->message.get(), transfer);
    // The global default context is the one the main thread runs.
    g_idle_add_full(G_PRIORITY_DEFAULT, deliverOnMainThread, new Delivery{std::move(transfer->done), std::move(response)},
                    nullptr);
    delete transfer;
}

bool isHttpsUri(GUri* uri) { return uri && g_ascii_strcasecmp(g_uri_get_scheme(uri), "https") == 0; }

// Loopback addresses never go through a proxy. Asking the system's proxy resolver anyway costs
// its first lookup (settings to load, sometimes a desktop service to start), which can exceed a
// one-second readiness probe on its own.
bool isLoopbackUri(GUri* uri) {
    const char* host = uri ? g_uri_get_host(uri) : nullptr;
    if (!host) return false;
    if (g_ascii_strcasecmp(host, "localhost") == 0 || g_str_equal(host, "::1")) return true;
    GInetAddress* address = g_inet_address_new_from_string(host);
    if (!address) return false;
    const bool loopback = g_inet_address_get_is_loopback(address);
    g_object_unref(address);
    return loopback;
}

// An https request must never continue in clear text, whatever a redirect says.
bool isDowngraded(const Transfer* transfer) {
    return transfer->startedOverHttps && !isHttpsUri(soup_message_get_uri(transfer->message.get()));
}

// Emitted before libsoup re-sends the message to a redirect target: stop a downgrade before any
// byte goes out in clear text.
void onRestarted(SoupMessage*, gpointer data) {
    auto* transfer = static_cast<Transfer*>(data);
    if (isDowngraded(transfer)) g_cancellable_cancel(transfer->cancellable.get());
}

gboolean onTimeout(gpointer data) {
    g_cancellable_cancel(static_cast<Transfer*>(data)->cancellable.get());
    return G_SOURCE_REMOVE;
}

void readMore(Transfer* transfer);

void onRead(GObject* source, GAsyncResult* result, gpointer data) {
    auto* transfer = static_cast<Transfer*>(data);
    GErrorHolder error;
    GBytes* chunk = g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, error.out());
    if (!chunk) return finish(transfer, std::nullopt);
    gsize size = 0;
    const auto* bytes = static_cast<const char*>(g_bytes_get_data(chunk, &size));
    if (size == 0) {
        g_bytes_unref(chunk);
        const int status = static_cast<int>(soup_message_get_status(transfer->message.get()));
        return finish(transfer, HttpResponse{status, std::move(transfer->received)});
    }
    transfer->received.append(bytes, size);
    g_bytes_unref(chunk);
    if (transfer->received.size() > kMaxHttpBodyBytes) return finish(transfer, std::nullopt);
    readMore(transfer);
}

void readMore(Transfer* transfer) {
    g_input_stream_read_bytes_async(transfer->body.get(), kReadChunkBytes, G_PRIORITY_DEFAULT,
                                    transfer->cancellable.get(), onRead, transfer);
}

void onSent(GObject* source, GAsyncResult* result, gpointer data) {
    auto* transfer = static_cast<Transfer*>(data);
    GErrorHolder error;
    GInputStream* stream = soup_session_send_finish(SOUP_SESSION(source), result, error.out());
    if (!stream) return finish(transfer, std::nullopt);
    transfer->body = GObjectPtr<GInputStream>::adopt(stream);
    if (isDowngraded(transfer)) return finish(transfer, std::nullopt);
    const goffset declared =
        soup_message_headers_get_content_length(soup_message_get_response_headers(transfer->message.get()));
    if (declared > static_cast<goffset>(kMaxHttpBodyBytes)) return finish(transfer, std::nullopt);
    readMore(transfer);
}

struct Start {
    SoupHttpClient::Session* session;
    HttpRequest request;
    HttpClient::Completion done;
};

// Runs on the network thread: the time-out starts counting here, independent of how busy the
// main thread is.
gboolean startOnNetworkThread(gpointer data);

}  // namespace

namespace {

void runNetworkThread(SoupHttpClient::Session* session) {
    g_main_context_push_thread_default(session->context);
    session->soup = GObjectPtr<SoupSession>::adopt(soup_session_new());
    session->loopback = GObjectPtr<SoupSession>::adopt(soup_session_new());
    soup_session_set_proxy_resolver(session->loopback.get(), nullptr);
    if (session->trustedCaFile) {
        GErrorHolder error;
        GTlsDatabase* database = g_tls_file_database_new(session->trustedCaFile->c_str(), error.out());
        if (database) {
            soup_session_set_tls_database(session->soup.get(), database);
            soup_session_set_tls_database(session->loopback.get(), database);
            g_object_unref(database);
        } else {
            // Only test builds pass a CA file; say why their HTTPS requests will be rejected.
            std::fprintf(stderr, "lorvane: cannot load CA file %s: %s\n", session->trustedCaFile->c_str(),
                         error.get() ? error.get()->message : "unknown error");
        }
    }
    g_main_loop_run(session->loop);
    session->soup.reset();
    session->loopback.reset();
    g_main_context_pop_thread_default(session->context);
}

gboolean startOnNetworkThread(gpointer data) {
    std::unique_ptr<Start> start(static_cast<Start*>(data));
    auto* transfer = new Transfer;
    transfer->done = std::move(start->done);
    transfer->cancellable = GObjectPtr<GCancellable>::adopt(g_cancellable_new());

    SoupMessage* message = soup_message_new(SOUP_METHOD_GET, start->request.url.c_str());
    if (!message) {
        finish(transfer, std::nullopt);
        return G_SOURCE_REMOVE;
    }
    transfer->message = GObjectPtr<SoupMessage>::adopt(message);
    transfer->startedOverHttps = isHttpsUri(soup_message_get_uri(message));
    transfer->session = isLoopbackUri(soup_message_get_uri(message)) ? start->session->loopback : start->session->soup;
    if (start->request.cachePolicy == CachePolicy::ReloadIgnoringLocalCache) {
        // The session keeps no cache of its own; this asks caches on the way not to answer either.
        soup_message_headers_append(soup_message_get_request_headers(message), "Cache-Control", "no-cache");
    }
    g_signal_connect(message, "restarted", G_CALLBACK(onRestarted), transfer);

    const double seconds = start->request.timeoutSeconds;
    const double ms = std::isfinite(seconds) && seconds > 0 ? std::min(std::round(seconds * 1000.0), 86400000.0) : 0.0;
    transfer->timeout = g_timeout_source_new(static_cast<guint>(ms));
    g_source_set_callback(transfer->timeout, onTimeout, transfer, nullptr);
    g_source_attach(transfer->timeout, start->session->context);
    soup_session_send_async(transfer->session.get(), message, G_PRIORITY_DEFAULT, transfer->cancellable.get(), onSent,
                            transfer);
    return G_SOURCE_REMOVE;
}

gboolean quitNetworkThread(gpointer loop) {
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_REMOVE;
}

void invokeOn(GMainContext* context, GSourceFunc function, gpointer data) {
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(source, function, data, nullptr);
    g_source_attach(source, context);
    g_source_unref(source);
}

}  // namespace

SoupHttpClient::SoupHttpClient(std::optional<std::string> trustedCaFile) : session_(std::make_unique<Session>()) {
    session_->context = g_main_context_new();
    session_->loop = g_main_loop_new(session_->context, FALSE);
    session_->trustedCaFile = std::move(trustedCaFile);
    session_->thread = std::thread(runNetworkThread, session_.get());
}

SoupHttpClient::~SoupHttpClient() {
    // Requests still in flight are dropped unanswered: this happens only as the process ends.
    invokeOn(session_->context, quitNetworkThread, session_->loop);
    session_->thread.join();
    g_main_loop_unref(session_->loop);
    g_main_context_unref(session_->context);
}

void SoupHttpClient::get(const HttpRequest& request, Completion done) {
    invokeOn(session_->context, startOnNetworkThread, new Start{session_.get(), request, std::move(done)});
}

}  // namespace lorvane::gtk
