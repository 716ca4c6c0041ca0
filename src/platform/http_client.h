// Asynchronous HTTP GET, used for the readiness probe and the update manifest.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace lorvane {

enum class CachePolicy {
    UseProtocolDefault,
    // No locally cached answer is used; the request goes to the origin (and asks intermediaries not
    // to answer from their caches either).
    ReloadIgnoringLocalCache,
};

struct HttpRequest {
    std::string url;  // absolute http or https URL
    double timeoutSeconds = 60.0;
    CachePolicy cachePolicy = CachePolicy::UseProtocolDefault;
};

// An HTTP answer. Transport errors, time-outs and refused connections are not answers: they are
// reported as an absent HttpResponse.
struct HttpResponse {
    int status = 0;
    std::optional<std::string> body;  // absent when the client received no body data at all
};

class HttpClient {
public:
    virtual ~HttpClient() = default;
    using Completion = std::function<void(std::optional<HttpResponse>)>;
    // Main thread only. Sends a GET with no header fields of the caller's and returns at once.
    // `done` runs exactly once, on the main thread, after get() has returned, so it may touch
    // main-thread state directly. The client owns `done` until then and drops it on the main
    // thread too (unanswered only when the client itself is destroyed first), so whatever `done`
    // holds is never released on another thread.
    virtual void get(const HttpRequest& request, Completion done) = 0;
};

}  // namespace lorvane
