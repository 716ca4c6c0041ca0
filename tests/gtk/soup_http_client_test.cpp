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

// A loopback server in this process, served by the test thread's main loop while a request waits.
class TestServer {
public:
    explicit TestServer(GTlsCertificate* certificate = nullptr)
        : server_(certificate ? soup_server_new("tls-certificate", certificate, nullptr) : soup_server_new(nullptr, nullptr)) {
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
            [](const char* name, const char*, gpointer names) { static_cast<std::set<std::string>*>(names)->insert(name); },
            &self->headerNames);
        const std::string route = path;
        soup_server_message_set_status(message, route == "/missing" ? 404 : route == "/empty" ? 204 : 200, nullptr);
        // Without a declared length, the body's cap has to be kept while reading.
        const auto chunked = [message](const std::string& chunk, int times, bool complete) {
            soup_message_headers_set_encoding(soup_server_message_get_response_headers(message), SOUP_ENCODING_CHUNKED);
            SoupMessageBody* body = soup_server_message_get_response_body(message);
            for (int i = 0; i < times; ++i) soup_message_body_append(body, SOUP_MEMORY_COPY, chunk.data(), chunk.size());
            if (complete) soup_message_body_complete(body);
        };
        const auto answer = [message](const std::string& body) {
            soup_server_message_set_response(message, "text/plain", SOUP_MEMORY_COPY, body.data(), body.size());
        };
        if (route == "/ok" || route == "/missing") return answer(route == "/ok" ? "hello" : "no such page");
        if (route == "/empty") return answer("");
        if (route == "/exactly-limit") return answer(std::string(kMaxHttpBodyBytes, 'a'));
        if (route == "/over-limit") return answer(std::string(kMaxHttpBodyBytes + 1, 'a'));
        if (route == "/over-limit-chunked") return chunked(std::string(kMaxHttpBodyBytes / 2 + 1, 'a'), 2, true);
        if (route == "/slow-body") return chunked("<html>", 1, false);  // the status and a first chunk, the rest never
        if (route == "/silent") return soup_server_message_pause(message);
        if (route == "/redirect") return soup_server_message_set_redirect(message, 302, self->redirectTarget.c_str());
    }

    SoupServer* server_;
    std::string origin_;
};

// Sends one GET and runs the main loop until its completion arrives, checking that it came once,
// after get() returned, on this thread; a guard ends a hang.
std::optional<HttpResponse> fetch(SoupHttpClient& client, const HttpRequest& request) {
    std::optional<std::optional<HttpResponse>> outcome;
    const auto testThread = std::this_thread::get_id();
    client.get(request, [&](std::optional<HttpResponse> response) {
        EXPECT_FALSE(outcome.has_value()) << "completion called twice";
        EXPECT_EQ(std::this_thread::get_id(), testThread) << "completion off the main thread";
        outcome = std::move(response);
    });
    EXPECT_FALSE(outcome.has_value()) << "completion called before get() returned";
    const gint64 guard = g_get_monotonic_time() + 20 * G_USEC_PER_SEC;
    while (!outcome && g_get_monotonic_time() < guard) g_main_context_iteration(nullptr, TRUE);
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
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url + (c.needs == kStatus ? " (status only)" : ""));
        const auto response = fetch(client, HttpRequest{c.url, c.timeout, c.policy, c.needs});
        EXPECT_EQ(response ? std::optional(response->status) : std::nullopt, c.status);
        EXPECT_EQ(response && response->body ? std::optional(response->body->size()) : std::nullopt, c.bodySize);
        const std::set<std::string> libsoupOwn{"Host", "Accept-Encoding", "Connection"};
        EXPECT_TRUE(std::includes(libsoupOwn.begin(), libsoupOwn.end(), server.headerNames.begin(), server.headerNames.end()));
    }
}

// What a completion holds is let go of on the main thread, whether it ran or the client went first
// with the request still out, so a last reference in it can never end an object on the network
// thread.
TEST(SoupHttpClient, CompletionsAreReleasedOnTheMainThread) {
    struct ReleaseProbe {
        std::optional<std::thread::id>* releasedOn;
        ~ReleaseProbe() { *releasedOn = std::this_thread::get_id(); }
    };
    for (const bool answered : {true, false}) {
        SCOPED_TRACE(answered ? "answered" : "still out");
        TestServer server;
        std::optional<std::thread::id> releasedOn;
        bool ran = false;
        {
            SoupHttpClient client;
            client.get(HttpRequest{server.url(answered ? "/ok" : "/silent"), 30.0},
                       [probe = std::make_shared<ReleaseProbe>(&releasedOn), &ran](std::optional<HttpResponse>) { ran = true; });
            // Served by this thread's loop: until the answer is in, or the request hangs at the silent route.
            const gint64 guard = g_get_monotonic_time() + 20 * G_USEC_PER_SEC;
            while ((answered ? !ran : server.hits == 0) && g_get_monotonic_time() < guard) g_main_context_iteration(nullptr, TRUE);
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
        char folderTemplate[] = "/tmp/lorvane-tls-XXXXXX";
        if (std::string(LORVANE_TEST_OPENSSL).empty() || !g_mkdtemp(folderTemplate)) return;
        folder = folderTemplate;
        const std::string command = std::string(LORVANE_TEST_OPENSSL) +
                                    " req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1"
                                    " -keyout " + folder + "/key.pem -out " + pem() + " 2>/dev/null";
        if (std::system(command.c_str()) == 0) {
            certificate = g_tls_certificate_new_from_files(pem().c_str(), (folder + "/key.pem").c_str(), nullptr);
        }
    }
    ~Certificate() {
        if (certificate) g_object_unref(certificate);
        if (!folder.empty()) std::system(("rm -rf " + folder).c_str());
    }
    std::string pem() const { return folder + "/cert.pem"; }
    std::string folder;
    GTlsCertificate* certificate = nullptr;
};

TEST(SoupHttpClient, TlsIsVerifiedAndNeverDowngraded) {
    Certificate certificate;
    if (!certificate.certificate) GTEST_SKIP() << "openssl could not make a test certificate";
    TestServer secure(certificate.certificate);
    TestServer plain;
    SoupHttpClient systemTrust;
    SoupHttpClient testTrust(certificate.pem());
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
