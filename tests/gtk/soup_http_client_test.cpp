// The libsoup HTTP client against real HTTP and HTTPS servers on the loopback interface.
#include <gtest/gtest.h>
#include <libsoup/soup.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "platform/gtk/soup_http_client.h"

namespace lorvane::gtk {
namespace {

// Runs the test thread's main loop, which also serves the test servers, until `done`; a guard ends a hang.
template <class Predicate>
void runUntil(Predicate done) {
    const gint64 guard = g_get_monotonic_time() + 20 * G_USEC_PER_SEC;
    while (!done() && g_get_monotonic_time() < guard) g_main_context_iteration(nullptr, TRUE);
}

// A loopback server in this process. Its routes: /ok, /missing (404), bodies at and over the cap,
// declared or chunked, /slow-body (a first chunk, then nothing), /silent (not even a status) and
// /redirect (to `redirectTarget`).
class TestServer {
public:
    explicit TestServer(GTlsCertificate* certificate = nullptr)
        : server_(certificate ? soup_server_new("tls-certificate", certificate, nullptr)
                              : soup_server_new(nullptr, nullptr)) {
        soup_server_add_handler(server_, nullptr, handle, this, nullptr);
        const int https = certificate ? SOUP_SERVER_LISTEN_HTTPS : 0;
        EXPECT_TRUE(soup_server_listen_local(server_, 0, SoupServerListenOptions(SOUP_SERVER_LISTEN_IPV4_ONLY | https), nullptr));
        GSList* uris = soup_server_get_uris(server_);
        origin_ = std::string(certificate ? "https" : "http") + "://127.0.0.1:" +
                  std::to_string(g_uri_get_port(static_cast<GUri*>(uris->data)));
        g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    }
    ~TestServer() { g_object_unref(server_); }

    std::string url(const std::string& path) const { return origin_ + path; }
    std::string redirectTarget;
    int hits = 0;

private:
    static void handle(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer data) {
        auto* self = static_cast<TestServer*>(data);
        ++self->hits;
        const std::string route = path;
        soup_server_message_set_status(message, route == "/missing" ? 404 : 200, nullptr);
        if (route == "/silent") return soup_server_message_pause(message);
        if (route == "/redirect") return soup_server_message_set_redirect(message, 302, self->redirectTarget.c_str());
        const std::size_t size = route == "/ok" ? 5 : route == "/missing" ? 12 : route == "/exactly-limit" ? kMaxHttpBodyBytes
                                                                                                      : kMaxHttpBodyBytes + 1;
        if (!route.ends_with("chunked") && route != "/slow-body") {
            const std::string body(size, 'a');
            return soup_server_message_set_response(message, "text/plain", SOUP_MEMORY_COPY, body.data(), body.size());
        }
        // Without a declared length, the body's cap has to be kept while reading.
        soup_message_headers_set_encoding(soup_server_message_get_response_headers(message), SOUP_ENCODING_CHUNKED);
        SoupMessageBody* chunks = soup_server_message_get_response_body(message);
        const std::string chunk(route == "/slow-body" ? 6 : kMaxHttpBodyBytes / 2 + 1, 'a');
        soup_message_body_append(chunks, SOUP_MEMORY_COPY, chunk.data(), chunk.size());
        if (route == "/slow-body") return;
        soup_message_body_append(chunks, SOUP_MEMORY_COPY, chunk.data(), chunk.size());
        soup_message_body_complete(chunks);
    }

    SoupServer* server_;
    std::string origin_;
};

// Sends one GET and runs the main loop until its completion arrives, checking that it came once,
// after get() returned, on this thread.
std::optional<HttpResponse> fetch(SoupHttpClient& client, const HttpRequest& request) {
    std::optional<std::optional<HttpResponse>> outcome;
    const auto testThread = std::this_thread::get_id();
    client.get(request, [&](Result<HttpResponse> response) {
        EXPECT_FALSE(outcome.has_value()) << "completion called twice";
        EXPECT_EQ(std::this_thread::get_id(), testThread) << "completion off the main thread";
        outcome = response ? std::optional(response.value()) : std::nullopt;
    });
    EXPECT_FALSE(outcome.has_value()) << "completion called before get() returned";
    runUntil([&] { return outcome.has_value(); });
    EXPECT_TRUE(outcome.has_value()) << "no completion for " << request.url;
    return outcome.value_or(std::nullopt);
}

TEST(SoupHttpClient, AnswersStatusesAndBodiesWithinTheCapAndTimesOut) {
    TestServer server;
    SoupHttpClient client;
    const std::string refused = TestServer().url("/ok");  // a port that was just free
    constexpr auto kBody = HttpAnswerNeeded::StatusAndBody, kStatus = HttpAnswerNeeded::StatusOnly;
    const std::nullopt_t none = std::nullopt;
    // The URL, the time-out, what is needed, the status and the body's size (none: no response, no body).
    const std::tuple<std::string, double, HttpAnswerNeeded, std::optional<int>, std::optional<std::size_t>> cases[] = {
        {server.url("/missing"), 5, kBody, 404, 12},
        {server.url("/exactly-limit"), 5, kBody, 200, kMaxHttpBodyBytes},
        {server.url("/over-limit"), 5, kBody, none, none},
        {server.url("/over-limit-chunked"), 5, kBody, none, none},
        {server.url("/slow-body"), 0.5, kBody, none, none},
        {server.url("/silent"), 0.3, kBody, none, none},
        {refused, 5, kBody, none, none},
        // The status alone: no cap, and the time-out ends with the status.
        {server.url("/over-limit"), 5, kStatus, 200, none},
        {server.url("/slow-body"), 1, kStatus, 200, none},
    };
    for (const auto& [url, timeout, needs, status, bodySize] : cases) {
        SCOPED_TRACE(url + (needs == kStatus ? " (status only)" : ""));
        const auto response = fetch(client, HttpRequest{url, timeout, CachePolicy::ReloadIgnoringLocalCache, needs});
        EXPECT_EQ(response ? std::optional(response->status) : none, status);
        EXPECT_EQ(response && response->body ? std::optional(response->body->size()) : none, bodySize);
    }
}

// What a completion holds is let go of on the main thread, whether it ran or the client went first
// with the request still out, so a last reference in it can never end an object on the network
// thread.
TEST(SoupHttpClient, CompletionsAreReleasedOnTheMainThread) {
    for (const bool answered : {true, false}) {
        SCOPED_TRACE(answered ? "answered" : "still out");
        TestServer server;
        std::optional<std::thread::id> releasedOn;
        bool ran = false;
        {
            SoupHttpClient client;
            const std::shared_ptr<void> probe(nullptr, [&](void*) { releasedOn = std::this_thread::get_id(); });
            client.get(HttpRequest{server.url(answered ? "/ok" : "/silent"), 30.0},
                       [probe, &ran](Result<HttpResponse>) { ran = true; });
            runUntil([&] { return answered ? ran : server.hits > 0; });
        }
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        EXPECT_EQ(ran, answered);
        EXPECT_EQ(releasedOn, std::this_thread::get_id()) << "released on another thread, or never";
    }
}

TEST(SoupHttpClient, TlsIsVerifiedAndNeverDowngraded) {
    // A throw-away certificate for 127.0.0.1.
    char folder[] = "/tmp/lorvane-tls-XXXXXX";
    ASSERT_TRUE(::g_mkdtemp(folder));
    const std::string key = std::string(folder) + "/key.pem", pem = std::string(folder) + "/cert.pem";
    const std::string make = std::string(LORVANE_TEST_OPENSSL) +
                             " req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1"
                             " -keyout " + key + " -out " + pem + " 2>/dev/null";
    ASSERT_EQ(std::system(make.c_str()), 0);
    GTlsCertificate* certificate = g_tls_certificate_new_from_files(pem.c_str(), key.c_str(), nullptr);
    ASSERT_TRUE(certificate);
    {
        TestServer secure(certificate), plain;
        SoupHttpClient systemTrust, testTrust(pem);
        EXPECT_FALSE(fetch(systemTrust, {secure.url("/ok"), 5})) << "an unknown CA must be rejected";
        EXPECT_TRUE(fetch(testTrust, {secure.url("/ok"), 5}));
        secure.redirectTarget = plain.url("/ok");
        EXPECT_FALSE(fetch(testTrust, {secure.url("/redirect"), 5})) << "https must not turn into http";
        EXPECT_EQ(plain.hits, 0) << "nothing may be sent in clear text after the downgrade";
    }
    g_object_unref(certificate);
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace lorvane::gtk
