// libsoup 3 transfers on a network thread: send, read the body (up to the cap) if wanted, deliver on the main thread.
#include "platform/gtk/soup_http_client.h"

#include <libsoup/soup.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <thread>
#include <utility>

#include "platform/gtk/glib_time.h"
#include "platform/gtk/gobject_ptr.h"

namespace lorvane::gtk {

namespace {
struct Transfer;
}

// Main thread only. The network thread holds no more than a weak reference to it, and never locks
// that, so the completions are only ever destroyed on the main thread.
struct SoupHttpClient::Pending {
    std::map<std::uint64_t, Completion> completions;
    std::uint64_t nextId = 0;
};

// The network thread and the sessions that live on it. libsoup binds a session to the main context
// that was the thread default when it was made, so the sessions are made, used and dropped there.
struct SoupHttpClient::Session {
    GLibPtr<GMainContext> context{g_main_context_new()};
    GLibPtr<GMainLoop> loop{g_main_loop_new(context.get(), FALSE)};
    std::thread thread;
    std::optional<std::string> trustedCaFile;
    GObjectPtr<SoupSession> soup;      // everything else: system proxy settings apply
    GObjectPtr<SoupSession> loopback;  // this machine's own services: never through a proxy
    std::set<Transfer*> inFlight;      // network thread only; each is owned by its pending callback
};

namespace {

using Pending = SoupHttpClient::Pending;
using Session = SoupHttpClient::Session;

constexpr gsize kReadChunkBytes = 64 * 1024;

// One request in flight, touched only on the network thread. Between steps it belongs to the
// callback of the asynchronous call it waits for; the last step hands its outcome on and frees it.
struct Transfer {
    Session* session = nullptr;
    std::weak_ptr<Pending> pending;
    std::uint64_t id = 0;
    GObjectPtr<SoupSession> soup;
    GObjectPtr<SoupMessage> message;
    GObjectPtr<GCancellable> cancellable;
    GObjectPtr<GInputStream> body;
    std::string received;
    GLibPtr<GSource> timeout;  // borrows the transfer; destroyed before the transfer is freed
    bool startedOverHttps = false;
    bool statusOnly = false;  // answered once the headers are in; the body is dropped unread
};

// What travels back to the main thread: plain values, no completion and nothing of GLib's.
struct Delivery {
    std::weak_ptr<Pending> pending;
    std::uint64_t id = 0;
    Result<HttpResponse> response;
};

gboolean deliverOnMainThread(gpointer data) {
    auto* delivery = static_cast<Delivery*>(data);
    const auto pending = delivery->pending.lock();  // gone with the client: nothing to answer
    if (!pending) return G_SOURCE_REMOVE;
    const auto found = pending->completions.find(delivery->id);
    if (found == pending->completions.end()) return G_SOURCE_REMOVE;
    const HttpClient::Completion done = std::move(found->second);
    pending->completions.erase(found);
    done(std::move(delivery->response));
    return G_SOURCE_REMOVE;
}

void finish(std::unique_ptr<Transfer> transfer, Result<HttpResponse> response) {
    if (transfer->timeout) g_source_destroy(transfer->timeout.get());
    if (transfer->message) g_signal_handlers_disconnect_by_data(transfer->message.get(), transfer.get());
    transfer->session->inFlight.erase(transfer.get());
    auto delivery = std::make_unique<Delivery>(Delivery{transfer->pending, transfer->id, std::move(response)});
    // The global default context is the one the main thread runs.
    g_idle_add_full(G_PRIORITY_DEFAULT, deliverOnMainThread, releaseToGLib(std::move(delivery)),
                    destroyOwned<Delivery>);
}

// What went wrong, in GLib's words where it has them (a time-out reads as a cancelled operation).
Failure failure(const char* what, const GError* error) {
    return Failure{std::string(what) + (error && error->message ? std::string(": ") + error->message : "")};
}

bool isHttpsUri(GUri* uri) { return uri && g_ascii_strcasecmp(g_uri_get_scheme(uri), "https") == 0; }

// Loopback addresses never go through a proxy. Asking the system's proxy resolver anyway costs
// its first lookup (settings to load, sometimes a desktop service to start), which can exceed a
// one-second readiness probe on its own.
bool isLoopbackUri(GUri* uri) {
    const char* host = uri ? g_uri_get_host(uri) : nullptr;
    if (!host) return false;
    if (g_ascii_strcasecmp(host, "localhost") == 0 || g_str_equal(host, "::1")) return true;
    g_autoptr(GInetAddress) address = g_inet_address_new_from_string(host);
    return address && g_inet_address_get_is_loopback(address);
}

// An https request must never continue in clear text, whatever a redirect says.
bool isDowngraded(const Transfer& transfer) {
    return transfer.startedOverHttps && !isHttpsUri(soup_message_get_uri(transfer.message.get()));
}

// Emitted before libsoup re-sends the message to a redirect target: stop a downgrade before any
// byte goes out in clear text.
void onRestarted(SoupMessage*, gpointer data) {
    auto* transfer = static_cast<Transfer*>(data);
    if (isDowngraded(*transfer)) g_cancellable_cancel(transfer->cancellable.get());
}

gboolean onTimeout(gpointer data) {
    g_cancellable_cancel(static_cast<Transfer*>(data)->cancellable.get());
    return G_SOURCE_REMOVE;
}

void onRead(GObject* source, GAsyncResult* result, gpointer data);

void readMore(std::unique_ptr<Transfer> transfer) {
    GInputStream* body = transfer->body.get();
    GCancellable* cancellable = transfer->cancellable.get();
    g_input_stream_read_bytes_async(body, kReadChunkBytes, G_PRIORITY_DEFAULT, cancellable, onRead,
                                    releaseToGLib(std::move(transfer)));
}

void onRead(GObject* source, GAsyncResult* result, gpointer data) {
    auto transfer = adoptFromGLib<Transfer>(data);
    g_autoptr(GError) error = nullptr;
    g_autoptr(GBytes) chunk = g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, &error);
    if (!chunk) return finish(std::move(transfer), failure("cannot read the body", error));
    gsize size = 0;
    const auto* bytes = static_cast<const char*>(g_bytes_get_data(chunk, &size));
    if (size == 0) {
        const int status = static_cast<int>(soup_message_get_status(transfer->message.get()));
        std::string received = std::move(transfer->received);
        return finish(std::move(transfer), HttpResponse{status, std::move(received)});
    }
    transfer->received.append(bytes, size);
    if (transfer->received.size() > kMaxHttpBodyBytes) return finish(std::move(transfer), Failure{"body over the cap"});
    readMore(std::move(transfer));
}

void onSent(GObject* source, GAsyncResult* result, gpointer data) {
    auto transfer = adoptFromGLib<Transfer>(data);
    g_autoptr(GError) error = nullptr;
    GInputStream* stream = soup_session_send_finish(SOUP_SESSION(source), result, &error);
    if (!stream) return finish(std::move(transfer), failure("no answer", error));
    transfer->body = GObjectPtr<GInputStream>::adopt(stream);
    if (isDowngraded(*transfer)) return finish(std::move(transfer), Failure{"redirected from https to http"});
    if (transfer->statusOnly) {
        // However long or slow the body, the status is the answer. A plain close of a body stream
        // may read out the rest of the body first; a cancelled one drops the connection instead.
        const int status = static_cast<int>(soup_message_get_status(transfer->message.get()));
        g_cancellable_cancel(transfer->cancellable.get());
        g_input_stream_close(transfer->body.get(), transfer->cancellable.get(), nullptr);
        return finish(std::move(transfer), HttpResponse{status, std::nullopt});
    }
    const goffset declared =
        soup_message_headers_get_content_length(soup_message_get_response_headers(transfer->message.get()));
    if (declared > static_cast<goffset>(kMaxHttpBodyBytes)) return finish(std::move(transfer), Failure{"body over the cap"});
    readMore(std::move(transfer));
}

struct Start {
    Session* session;
    HttpRequest request;
    std::weak_ptr<Pending> pending;
    std::uint64_t id;
};

// Runs on the network thread: the time-out starts counting here, independent of how busy the
// main thread is.
gboolean startOnNetworkThread(gpointer data) {
    const auto& start = *static_cast<Start*>(data);
    auto transfer = std::make_unique<Transfer>();
    transfer->session = start.session;
    transfer->pending = start.pending;
    transfer->id = start.id;
    transfer->cancellable = GObjectPtr<GCancellable>::adopt(g_cancellable_new());
    start.session->inFlight.insert(transfer.get());

    SoupMessage* message = soup_message_new(SOUP_METHOD_GET, start.request.url.c_str());
    if (!message) {
        finish(std::move(transfer), Failure{"not a URL: " + start.request.url});
        return G_SOURCE_REMOVE;
    }
    transfer->message = GObjectPtr<SoupMessage>::adopt(message);
    transfer->startedOverHttps = isHttpsUri(soup_message_get_uri(message));
    transfer->soup = isLoopbackUri(soup_message_get_uri(message)) ? start.session->loopback : start.session->soup;
    transfer->statusOnly = start.request.needs == HttpAnswerNeeded::StatusOnly;
    g_signal_connect(message, "restarted", G_CALLBACK(onRestarted), transfer.get());

    transfer->timeout.reset(g_timeout_source_new(millisecondsFor(start.request.timeoutSeconds)));
    g_source_set_callback(transfer->timeout.get(), onTimeout, transfer.get(), nullptr);
    g_source_attach(transfer->timeout.get(), start.session->context.get());
    SoupSession* soup = transfer->soup.get();
    GCancellable* cancellable = transfer->cancellable.get();
    soup_session_send_async(soup, message, G_PRIORITY_DEFAULT, cancellable, onSent, releaseToGLib(std::move(transfer)));
    return G_SOURCE_REMOVE;
}

void makeSessions(Session& session) {
    session.soup = GObjectPtr<SoupSession>::adopt(soup_session_new());
    session.loopback = GObjectPtr<SoupSession>::adopt(soup_session_new());
    soup_session_set_proxy_resolver(session.loopback.get(), nullptr);
    if (!session.trustedCaFile) return;
    g_autoptr(GError) error = nullptr;
    g_autoptr(GTlsDatabase) database = g_tls_file_database_new(session.trustedCaFile->c_str(), &error);
    if (!database) {
        // Only test builds pass a CA file; say why their HTTPS requests will be rejected.
        std::fprintf(stderr, "lorvane: cannot load CA file %s: %s\n", session.trustedCaFile->c_str(),
                     error ? error->message : "unknown error");
        return;
    }
    soup_session_set_tls_database(session.soup.get(), database);
    soup_session_set_tls_database(session.loopback.get(), database);
}

void runNetworkThread(Session* session) {
    g_main_context_push_thread_default(session->context.get());
    makeSessions(*session);
    g_main_loop_run(session->loop.get());
    // Requests still out are cancelled and wound down, so that each transfer is freed by its own
    // callback; a cancelled operation completes at the next turn of the context.
    const std::set<Transfer*> stillOut = session->inFlight;
    for (Transfer* transfer : stillOut) g_cancellable_cancel(transfer->cancellable.get());
    while (!session->inFlight.empty()) g_main_context_iteration(session->context.get(), TRUE);
    session->soup.reset();
    session->loopback.reset();
    g_main_context_pop_thread_default(session->context.get());
}

gboolean quitNetworkThread(gpointer loop) {
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_REMOVE;
}

// Runs `function` once on `context`'s thread; the source owns `data` and frees it with `destroy`.
void invokeOn(GMainContext* context, GSourceFunc function, gpointer data, GDestroyNotify destroy) {
    GLibPtr<GSource> source(g_idle_source_new());
    g_source_set_priority(source.get(), G_PRIORITY_DEFAULT);
    g_source_set_callback(source.get(), function, data, destroy);
    g_source_attach(source.get(), context);
}

}  // namespace

SoupHttpClient::SoupHttpClient(std::optional<std::string> trustedCaFile)
    : pending_(std::make_shared<Pending>()), session_(std::make_unique<Session>()) {
    session_->trustedCaFile = std::move(trustedCaFile);
    session_->thread = std::thread(runNetworkThread, session_.get());
}

SoupHttpClient::~SoupHttpClient() {
    // The loop is borrowed: the session outlives the thread, which is joined right here.
    invokeOn(session_->context.get(), quitNetworkThread, session_->loop.get(), nullptr);
    session_->thread.join();
}

void SoupHttpClient::get(const HttpRequest& request, Completion done) {
    const std::uint64_t id = pending_->nextId++;
    pending_->completions.emplace(id, std::move(done));
    invokeOn(session_->context.get(), startOnNetworkThread,
             releaseToGLib(std::make_unique<Start>(Start{session_.get(), request, pending_, id})), destroyOwned<Start>);
}

}  // namespace lorvane::gtk
