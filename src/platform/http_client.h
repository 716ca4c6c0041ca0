// Asynchronous HTTP GET, used for the readiness probe and the update manifest.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/result.h"

namespace lorvane {

enum class CachePolicy {
    UseProtocolDefault,
    // No locally cached answer is used; the request goes to the origin.
    ReloadIgnoringLocalCache,
};

// How much of an answer the caller waits for.
enum class HttpAnswerNeeded {
    StatusAndBody,  // the whole body, read within the time-out and up to the client's size cap
    StatusOnly,     // the status: the request is answered once the status arrives; no body is read
};

struct HttpRequest {
    std::string url;  // absolute http or https URL
    double timeoutSeconds = 60.0;  // until the answer the caller needs has arrived
    CachePolicy cachePolicy = CachePolicy::UseProtocolDefault;
    HttpAnswerNeeded needs = HttpAnswerNeeded::StatusAndBody;
};

// An HTTP answer. Transport errors, time-outs and refused connections are not answers: they are
// reported as a failure, with its cause where the client knows it.
struct HttpResponse {
    int status = 0;
    std::optional<std::string> body;  // absent when no body data arrived, or the status only was asked for
};

class HttpClient {
public:
    virtual ~HttpClient() = default;
    using Completion = std::function<void(Result<HttpResponse>)>;
    // Main thread only. Sends a GET carrying only the header fields HTTP itself needs (no cache
    // or other directives of the app's) and returns at once.
    // `done` runs exactly once, on the main thread, after get() has returned, so it may touch
    // main-thread state directly. The client owns `done` until then and drops it on the main
    // thread too (unanswered only when the client itself is destroyed first), so whatever `done`
    // holds is never released on another thread.
    virtual void get(const HttpRequest& request, Completion done) = 0;
};

}  // namespace lorvane
