// The libsoup HTTP client against real HTTP and HTTPS servers on the loopback interface.
#include <gtest/gtest.h>
#include <libsoup/soup.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <set>
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

// A loopback server in this process.
class TestServer {
public:
    explicit TestServer(GTlsCertificate* certificate = nullptr)
        : server_(certificate ? soup_server_new("tls-certificate", certificate, nullptr)
                              : soup_server_new(nullptr, nullptr)) {
        soup_server_add_handler(server_, nullptr, handle, this, nullptr);
        const int https = certificate ? SOUP_SERVER_LISTEN_HTTPS : 0;
        const auto options = SoupServerListenOptions(SOUP_SERVER_LISTEN_IPV4_ONLY | https);
        EXPECT_TRUE(soup_server_listen_local(server_, 0, options, nullptr));
        GSList* uris = soup_server_get_uris(server_);
        origin_ = std::string(certificate ? "https" : "http") + "://127.0.0.1:" +
                  std::to_string(g_uri_get_port(static_cast<GUri*>(uris->data)));
        g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    }
    ~TestServer() { g_object_unref(server_); }

    std::string url(const std::string& path) const { return origin_ + path; }
    std::string redirectTarget;  // where "/redirect" points
    int hits = 0;
    std::set<std::string> headerNames;  // of the last request

private:
    static void handle(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer data) {
        auto* self = static_cast<TestServer*>(data);
        ++self->hits;
        self->headerNames.clear();
        soup_message_headers_foreach(
            soup_server_message_get_request_headers(message),
            [](const char* name, const char*, gpointer names) {
                static_cast<std::set<std::string>*>(names)->insert(name);
            },
            &self->headerNames);
        const std::string route = path;
        soup_server_message_set_status(message, route == "/missing" ? 404 : route == "/empty" ? 204 : 200, nullptr);
        if (route == "/silent") return soup_server_message_pause(message);
        if (route == "/redirect") return soup_server_message_set_redirect(message, 302, self->redirectTarget.c_str());
        const std::string body = route == "/ok"              ? "hello"
                                 : route == "/missing"       ? "no such page"
                                 : route == "/exactly-limit" ? std::string(kMaxHttpBodyBytes, 'a')
                                 : route == "/over-limit"    ? std::string(kMaxHttpBodyBytes + 1, 'a')
                                                             : "";
        if (route != "/over-limit-chunked" && route != "/slow-body") {
            return soup_server_message_set_response(message, "text/plain", SOUP_MEMORY_COPY, body.data(), body.size());
        }
        // Without a declared length, the body's cap has to be kept while reading; the slow body
        // sends the status and a first chunk, the rest never.
        soup_message_headers_set_encoding(soup_server_message_get_response_headers(message), SOUP_ENCODING_CHUNKED);
        SoupMessageBody* chunks = soup_server_message_get_response_body(message);
        const std::string chunk = route == "/slow-body" ? "<html>" : std::string(kMaxHttpBodyBytes / 2 + 1, 'a');
        for (int i = route == "/slow-body" ? 1 : 0; i < 2; ++i) {
            soup_message_body_append(chunks, SOUP_MEMORY_COPY, chunk.data(), chunk.size());
        }
        if (route != "/slow-body") soup_message_body_complete(chunks);
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

TEST(SoupHttpClient, AnswersFailuresAndTimeOutsWithNoHeaderOfItsOwn) {
    TestServer server;
    SoupHttpClient client;
    const std::string refused = TestServer().url("/ok");  // a port that was just free
    constexpr auto kBody = HttpAnswerNeeded::StatusAndBody;
    constexpr auto kStatus = HttpAnswerNeeded::StatusOnly;
    const struct {
        std::string url;
        double timeout;
        HttpAnswerNeeded needs;
        std::optional<int> status;            // absent: no response
        std::optional<std::size_t> bodySize;  // absent: no body
        CachePolicy policy = CachePolicy::UseProtocolDefault;
    } cases[] = {
        {server.url("/ok"), 5, kBody, 200, 5},
        {server.url("/missing"), 5, kBody, 404, 12},
        {server.url("/empty"), 5, kBody, 204, 0},
        {server.url("/exactly-limit"), 5, kBody, 200, kMaxHttpBodyBytes},
        {server.url("/over-limit"), 5, kBody, std::nullopt, std::nullopt},
        {server.url("/over-limit-chunked"), 5, kBody, std::nullopt, std::nullopt},
        {server.url("/slow-body"), 0.5, kBody, std::nullopt, std::nullopt},
        {server.url("/silent"), 0.3, kBody, std::nullopt, std::nullopt},
        {refused, 5, kBody, std::nullopt, std::nullopt},
        {"not a url", 5, kBody, std::nullopt, std::nullopt},
        // The status alone: no cap, and the time-out ends with the status.
        {server.url("/missing"), 5, kStatus, 404, std::nullopt},
        {server.url("/over-limit"), 5, kStatus, 200, std::nullopt},
        {server.url("/slow-body"), 1, kStatus, 200, std::nullopt},
        {server.url("/silent"), 0.3, kStatus, std::nullopt, std::nullopt},
        // A fresh answer is had by having no cache, not by directives to the server.
        {server.url("/ok"), 5, kStatus, 200, std::nullopt, CachePolicy::ReloadIgnoringLocalCache},
        {server.url("/ok"), 5, kBody, 200, 5, CachePolicy::ReloadIgnoringLocalCache},
    };
    const std::set<std::string> libsoupOwn{"Host", "Accept-Encoding", "Connection"};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url + (c.needs == kStatus ? " (status only)" : ""));
        const auto response = fetch(client, HttpRequest{c.url, c.timeout, c.policy, c.needs});
        EXPECT_EQ(response ? std::optional(response->status) : std::nullopt, c.status);
        EXPECT_EQ(response && response->body ? std::optional(response->body->size()) : std::nullopt, c.bodySize);
        const auto& sent = server.headerNames;
        EXPECT_TRUE(std::includes(libsoupOwn.begin(), libsoupOwn.end(), sent.begin(), sent.end()));
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
            // Until the answer is in, or the request hangs at the silent route.
            runUntil([&] { return answered ? ran : server.hits > 0; });
        }
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        EXPECT_EQ(ran, answered);
        EXPECT_EQ(releasedOn, std::this_thread::get_id()) << "released on another thread, or never";
    }
}

// A throw-away certificate for 127.0.0.1, made with openssl in a temporary folder.
struct Certificate {
    Certificate() {
        if (std::string(LORVANE_TEST_OPENSSL).empty() || !g_mkdtemp(folder.data())) return;
        const std::string command = std::string(LORVANE_TEST_OPENSSL) +
                                    " req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1"
                                    " -addext subjectAltName=IP:127.0.0.1"
                                    " -keyout " + folder + "/key.pem -out " + pem() + " 2>/dev/null";
        if (std::system(command.c_str()) == 0) {
            certificate = g_tls_certificate_new_from_files(pem().c_str(), (folder + "/key.pem").c_str(), nullptr);
        }
    }
    ~Certificate() {
        if (certificate) g_object_unref(certificate);
        std::system(("rm -rf " + folder).c_str());
    }
    std::string pem() const { return folder + "/cert.pem"; }
    std::string folder = "/tmp/lorvane-tls-XXXXXX";
    GTlsCertificate* certificate = nullptr;
};

TEST(SoupHttpClient, TlsIsVerifiedAndNeverDowngraded) {
    Certificate certificate;
    if (!certificate.certificate) GTEST_SKIP() << "openssl could not make a test certificate";
    TestServer secure(certificate.certificate), plain;
    SoupHttpClient systemTrust, testTrust(certificate.pem());
    EXPECT_FALSE(fetch(systemTrust, {secure.url("/ok"), 5})) << "an unknown CA must be rejected";
    EXPECT_TRUE(fetch(testTrust, {secure.url("/ok"), 5}));
    secure.redirectTarget = plain.url("/ok");
    EXPECT_FALSE(fetch(testTrust, {secure.url("/redirect"), 5})) << "https must not turn into http";
    EXPECT_EQ(plain.hits, 0) << "nothing may be sent in clear text after the downgrade";
    plain.redirectTarget = secure.url("/ok");
    EXPECT_TRUE(fetch(testTrust, {plain.url("/redirect"), 5}));
}

}  // namespace
}  // namespace lorvane::gtk
