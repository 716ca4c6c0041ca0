// libsoup 3 transfers: send, read the body in chunks up to the cap, deliver once on the main thread.
#include "platform/gtk/soup_http_client.h"

#include <libsoup/soup.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "platform/gtk/gobject_ptr.h"

namespace lorvane::gtk {

struct SoupHttpClient::Session {
    GObjectPtr<SoupSession> soup;      // everything else: system proxy settings apply
    GObjectPtr<SoupSession> loopback;  // this machine's own services: never through a proxy
};

namespace {

constexpr gsize kReadChunkBytes = 64 * 1024;

// One request in flight. It owns everything it needs, so it may outlive the client; it deletes
// itself after calling the completion.
struct Transfer {
    GObjectPtr<SoupSession> session;
    GObjectPtr<SoupMessage> message;
    GObjectPtr<GCancellable> cancellable;
    GObjectPtr<GInputStream> body;
    HttpClient::Completion done;
    std::string received;
    guint timeoutSource = 0;
    bool startedOverHttps = false;
};

void finish(Transfer* transfer, std::optional<HttpResponse> response) {
    if (transfer->timeoutSource != 0) g_source_remove(std::exchange(transfer->timeoutSource, 0u));
    if (transfer->message) g_signal_handlers_disconnect_by_data(transfer->message.get(), transfer);
    auto done = std::move(transfer->done);
    delete transfer;
    done(std::move(response));
}

bool isHttpsUri(GUri* uri) { return uri && g_ascii_strcasecmp(g_uri_get_scheme(uri), "https") == 0; }

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
    auto* transfer = static_cast<Transfer*>(data);
    transfer->timeoutSource = 0;
    g_cancellable_cancel(transfer->cancellable.get());
    return G_SOURCE_REMOVE;
}

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

// Hands a failure over from an idle callback, so that even an unusable URL completes after get()
// has returned, as every other outcome does.
gboolean finishFailedLater(gpointer data) {
    finish(static_cast<Transfer*>(data), std::nullopt);
    return G_SOURCE_REMOVE;
}

}  // namespace

SoupHttpClient::SoupHttpClient(std::optional<std::string> trustedCaFile) : session_(std::make_unique<Session>()) {
    session_->soup = GObjectPtr<SoupSession>::adopt(soup_session_new());
    session_->loopback = GObjectPtr<SoupSession>::adopt(soup_session_new());
    soup_session_set_proxy_resolver(session_->loopback.get(), nullptr);
    if (trustedCaFile) {
        GErrorHolder error;
        GTlsDatabase* database = g_tls_file_database_new(trustedCaFile->c_str(), error.out());
        if (database) {
            soup_session_set_tls_database(session_->soup.get(), database);
            soup_session_set_tls_database(session_->loopback.get(), database);
            g_object_unref(database);
        } else {
            // Only test builds pass a CA file; say why their HTTPS requests will be rejected.
            std::fprintf(stderr, "lorvane: cannot load CA file %s: %s\n", trustedCaFile->c_str(),
                         error.get() ? error.get()->message : "unknown error");
        }
    }
}

SoupHttpClient::~SoupHttpClient() = default;

void SoupHttpClient::get(const HttpRequest& request, Completion done) {
    auto* transfer = new Transfer;
    transfer->done = std::move(done);
    transfer->cancellable = GObjectPtr<GCancellable>::adopt(g_cancellable_new());

    SoupMessage* message = soup_message_new(SOUP_METHOD_GET, request.url.c_str());
    if (!message) {
        transfer->session = session_->soup;
        g_idle_add_full(G_PRIORITY_DEFAULT, finishFailedLater, transfer, nullptr);
        return;
    }
    transfer->message = GObjectPtr<SoupMessage>::adopt(message);
    transfer->session = isLoopbackUri(soup_message_get_uri(message)) ? session_->loopback : session_->soup;
    transfer->startedOverHttps = isHttpsUri(soup_message_get_uri(message));
    if (request.cachePolicy == CachePolicy::ReloadIgnoringLocalCache) {
        // The session keeps no cache of its own; this asks caches on the way not to answer either.
        soup_message_headers_append(soup_message_get_request_headers(message), "Cache-Control", "no-cache");
    }
    g_signal_connect(message, "restarted", G_CALLBACK(onRestarted), transfer);

    const double ms = std::isfinite(request.timeoutSeconds) && request.timeoutSeconds > 0
                          ? std::min(std::round(request.timeoutSeconds * 1000.0), 86400000.0)
                          : 0.0;
    transfer->timeoutSource = g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(ms), onTimeout, transfer, nullptr);
    soup_session_send_async(transfer->session.get(), message, G_PRIORITY_DEFAULT, transfer->cancellable.get(), onSent,
                            transfer);
}

}  // namespace lorvane::gtk
