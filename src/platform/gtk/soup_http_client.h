// HTTP GET over libsoup 3 for the readiness probe and the update manifest.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/http_client.h"

namespace lorvane::gtk {

// Largest body we accept. The shell only reads tiny answers (a status, a small JSON manifest), so a
// longer body is treated as a failed request rather than buffered without bound.
inline constexpr std::size_t kMaxHttpBodyBytes = 1024 * 1024;

// One libsoup session for the life of the client. libsoup has no per-message time-out, so each
// request carries a GCancellable that a timer cancels after `timeoutSeconds`; a cancelled,
// refused, TLS-rejected or oversized request completes with an absent response. Redirects are
// followed, except from https to http: a downgraded request fails. Completions run on the main
// thread (the thread the request was made on), once.
class SoupHttpClient final : public HttpClient {
public:
    // `trustedCaFile` absent: TLS certificates are checked against the system's trust store.
    // Present: an absolute path to a PEM file whose certificates are trusted instead (test builds).
    explicit SoupHttpClient(std::optional<std::string> trustedCaFile = std::nullopt);
    ~SoupHttpClient() override;
    SoupHttpClient(const SoupHttpClient&) = delete;
    SoupHttpClient& operator=(const SoupHttpClient&) = delete;

    void get(const HttpRequest& request, Completion done) override;

private:
    struct Session;
    std::unique_ptr<Session> session_;
};

}  // namespace lorvane::gtk
