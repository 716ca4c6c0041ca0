// HTTP GET over libsoup 3 for the readiness probe and the update manifest.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/http_client.h"

namespace lorvane::gtk {

// Largest body we accept where the body is read. The shell reads only one small body (the update
// manifest), so a longer one is treated as a failed request rather than buffered without bound; a
// request that needs the status only reads no body and has no cap.
inline constexpr std::size_t kMaxHttpBodyBytes = 1024 * 1024;

// Requests run on a network thread of the client's own, with its own GLib main context, rather
// than on the main context as libsoup is usually driven. While the web view paints with the CPU
// the main loop is busy much of each turn, and a request driven there advances one step a turn
// (connect, send, read the status): with 16 ms of work a turn a request to a local server reaches
// the main thread's code in 80 ms on the main context and in 32 ms from the thread, one hop back;
// with the main loop idle both take under a millisecond (bench/http_thread.c prints these). The
// thread also keeps TLS handshakes and body reading off the main thread, and a time-out measures
// the network, not a busy main thread. libsoup has no per-message time-out: each request carries
// a GCancellable that a timer there cancels after `timeoutSeconds`. A cancelled, refused,
// TLS-rejected or oversized request completes with a failure that says which.
// Redirects are followed, except from https to http: a downgraded request fails. The sessions
// keep no cache, so every request reaches the origin without any header of the app's.
//
// Completions never leave the main thread: they wait in a table there while the network thread
// works with a number only, and the answer is posted back to the GLib default context, which
// runs the completion once and drops it. Requests still out when the client is destroyed are
// cancelled on the network thread and their completions dropped, unanswered, with the client.
class SoupHttpClient final : public HttpClient {
public:
    // `trustedCaFile` absent: TLS certificates are checked against the system's trust store.
    // Present: an absolute path to a PEM file whose certificates are trusted instead (test builds).
    explicit SoupHttpClient(std::optional<std::string> trustedCaFile = std::nullopt);
    ~SoupHttpClient() override;
    SoupHttpClient(const SoupHttpClient&) = delete;
    SoupHttpClient& operator=(const SoupHttpClient&) = delete;

    void get(const HttpRequest& request, Completion done) override;

    struct Session;  // the network thread and its libsoup sessions
    struct Pending;  // the completions waiting for their answers; main thread only

private:
    std::shared_ptr<Pending> pending_;
    std::unique_ptr<Session> session_;
};

}  // namespace lorvane::gtk
