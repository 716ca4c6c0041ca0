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

// Requests run on a network thread of the client's own, with its own GLib main context, so a
// time-out measures the network and not a busy main thread. libsoup has no per-message time-out:
// each request carries a GCancellable that a timer there cancels after `timeoutSeconds`. A
// cancelled, refused, TLS-rejected or oversized request completes with an absent response.
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
