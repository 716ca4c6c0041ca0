// The libsoup HTTP client against real HTTP and HTTPS servers on the loopback interface.
#include <gtest/gtest.h>
#include <libsoup/soup.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
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
    explicit TestServer(GTlsCertificate* certificate = nullptr) {
        server_ = certificate ? soup_server_new("tls-certificate", certificate, nullptr) : soup_server_new(nullptr, nullptr);
        soup_server_add_handler(server_, nullptr, handle, this, nullptr);
        GError* error = nullptr;
        const auto flags = certificate ? SoupServerListenOptions(SOUP_SERVER_LISTEN_IPV4_ONLY | SOUP_SERVER_LISTEN_HTTPS)
                                       : SOUP_SERVER_LISTEN_IPV4_ONLY;
        EXPECT_TRUE(soup_server_listen_local(server_, 0, flags, &error));
        g_clear_error(&error);
        GSList* uris = soup_server_get_uris(server_);
        port_ = g_uri_get_port(static_cast<GUri*>(uris->data));
        g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
        scheme_ = certificate ? "https" : "http";
    }
    ~TestServer() { g_object_unref(server_); }

    std::string url(const std::string& path) const {
        return scheme_ + "://127.0.0.1:" + std::to_string(port_) + path;
    }
    std::string redirectTarget;  // where "/redirect" points
    int hits = 0;
    std::set<std::string> lastHeaderNames;

private:
    static void handle(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer data) {
        auto* self = static_cast<TestServer*>(data);
        ++self->hits;
        self->lastHeaderNames.clear();
        soup_message_headers_foreach(
            soup_server_message_get_request_headers(message),
            [](const char* name, const char*, gpointer names) { static_cast<std::set<std::string>*>(names)->insert(name); },
            &self->lastHeaderNames);
        const std::string route = path;
        auto answer = [message](int status, const std::string& body) {
            soup_server_message_set_status(message, status, nullptr);
            soup_server_message_set_response(message, "text/plain", SOUP_MEMORY_COPY, body.data(), body.size());
        };
        if (route == "/ok") return answer(200, "hello");
        if (route == "/missing") return answer(404, "no such page");
        if (route == "/empty") return answer(204, "");
        if (route == "/exactly-limit") return answer(200, std::string(kMaxHttpBodyBytes, 'a'));
        if (route == "/over-limit") return answer(200, std::string(kMaxHttpBodyBytes + 1, 'a'));
        if (route == "/over-limit-chunked") {
            // No declared length: the cap has to be enforced while reading.
            soup_server_message_set_status(message, 200, nullptr);
            SoupMessageHeaders* headers = soup_server_message_get_response_headers(message);
            soup_message_headers_set_encoding(headers, SOUP_ENCODING_CHUNKED);
            SoupMessageBody* body = soup_server_message_get_response_body(message);
            const std::string half(kMaxHttpBodyBytes / 2 + 1, 'a');
            soup_message_body_append(body, SOUP_MEMORY_COPY, half.data(), half.size());
            soup_message_body_append(body, SOUP_MEMORY_COPY, half.data(), half.size());
            soup_message_body_complete(body);
            return;
        }
        if (route == "/slow-body") {
            // The status and a first chunk at once, the rest never.
            soup_server_message_set_status(message, 200, nullptr);
            soup_message_headers_set_encoding(soup_server_message_get_response_headers(message), SOUP_ENCODING_CHUNKED);
            soup_message_body_append(soup_server_message_get_response_body(message), SOUP_MEMORY_STATIC, "<html>", 6);
            return;
        }
        if (route == "/silent") return soup_server_message_pause(message);
        if (route == "/redirect") {
            soup_server_message_set_redirect(message, 302, self->redirectTarget.c_str());
            return;
        }
        answer(500, "unexpected path");
    }

    SoupServer* server_ = nullptr;
    guint port_ = 0;
    std::string scheme_;
};

struct Outcome {
    std::optional<HttpResponse> response;
    bool onTestThread = false;
};

// Sends one GET and runs the main loop until its completion arrives (a guard ends a hang).
Outcome fetch(SoupHttpClient& client, const std::string& url, double timeout = 5.0,
              HttpAnswerNeeded needs = HttpAnswerNeeded::StatusAndBody,
              CachePolicy policy = CachePolicy::UseProtocolDefault) {
    std::optional<Outcome> outcome;
    const auto testThread = std::this_thread::get_id();
    client.get(HttpRequest{url, timeout, policy, needs}, [&](std::optional<HttpResponse> response) {
        EXPECT_FALSE(outcome.has_value()) << "completion called twice";
        outcome = Outcome{std::move(response), std::this_thread::get_id() == testThread};
    });
    EXPECT_FALSE(outcome.has_value()) << "completion called before get() returned";
    const gint64 guard = g_get_monotonic_time() + 20 * G_USEC_PER_SEC;
    while (!outcome && g_get_monotonic_time() < guard) g_main_context_iteration(nullptr, TRUE);
    EXPECT_TRUE(outcome.has_value()) << "no completion for " << url;
    return outcome.value_or(Outcome{});
}

TEST(SoupHttpClient, AnswersAndFailures) {
    TestServer server;
    SoupHttpClient client;
    const std::string refused = [] {
        // A port that was just free: nothing listens there now.
        TestServer closed;
        return closed.url("/ok");
    }();
    constexpr auto kBody = HttpAnswerNeeded::StatusAndBody;
    constexpr auto kStatus = HttpAnswerNeeded::StatusOnly;
    struct Case {
        std::string url;
        HttpAnswerNeeded needs;
        double timeout;
        std::optional<int> status;  // absent: no response expected
        std::optional<std::size_t> bodySize;  // absent: no body expected
    };
    const Case cases[] = {
        {server.url("/ok"), kBody, 5.0, 200, 5},
        {server.url("/missing"), kBody, 5.0, 404, 12},
        {server.url("/empty"), kBody, 5.0, 204, 0},
        {server.url("/exactly-limit"), kBody, 5.0, 200, kMaxHttpBodyBytes},
        {server.url("/over-limit"), kBody, 5.0, std::nullopt, std::nullopt},
        {server.url("/over-limit-chunked"), kBody, 5.0, std::nullopt, std::nullopt},
        {server.url("/slow-body"), kBody, 0.5, std::nullopt, std::nullopt},
        {server.url("/silent"), kBody, 0.3, std::nullopt, std::nullopt},
        {refused, kBody, 5.0, std::nullopt, std::nullopt},
        {"not a url", kBody, 5.0, std::nullopt, std::nullopt},
        // The status alone: no cap, and the time-out ends with the status.
        {server.url("/missing"), kStatus, 5.0, 404, std::nullopt},
        {server.url("/over-limit"), kStatus, 5.0, 200, std::nullopt},
        {server.url("/slow-body"), kStatus, 1.0, 200, std::nullopt},
        {server.url("/silent"), kStatus, 0.3, std::nullopt, std::nullopt},
        {server.url("/ok"), kBody, 5.0, 200, 5},  // the network thread still serves after all of that
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url + (c.needs == kStatus ? " (status only)" : ""));
        const Outcome outcome = fetch(client, c.url, c.timeout, c.needs);
        EXPECT_TRUE(outcome.onTestThread) << "completion must arrive on the main thread";
        ASSERT_EQ(outcome.response.has_value(), c.status.has_value());
        if (!c.status) continue;
        EXPECT_EQ(outcome.response->status, *c.status);
        ASSERT_EQ(outcome.response->body.has_value(), c.bodySize.has_value());
        if (c.bodySize) {
            EXPECT_EQ(outcome.response->body->size(), *c.bodySize);
        }
    }
}

// Whatever the request asks for, the server sees only what HTTP needs: the cache policy is kept by
// having no cache, not by directives to the server.
TEST(SoupHttpClient, SendsNoHeaderOfItsOwn) {
    TestServer server;
    SoupHttpClient client;
    const std::set<std::string> libsoupOwn = {"Host", "Accept-Encoding", "Connection"};
    for (const auto policy : {CachePolicy::ReloadIgnoringLocalCache, CachePolicy::UseProtocolDefault}) {
        for (const auto needs : {HttpAnswerNeeded::StatusAndBody, HttpAnswerNeeded::StatusOnly}) {
            fetch(client, server.url("/ok"), 5.0, needs, policy);
            std::set<std::string> extra;
            std::set_difference(server.lastHeaderNames.begin(), server.lastHeaderNames.end(), libsoupOwn.begin(),
                                libsoupOwn.end(), std::inserter(extra, extra.end()));
            EXPECT_EQ(extra, std::set<std::string>{});
        }
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
    struct Case {
        const char* path;
        bool answered;
    };
    for (const Case& c : {Case{"/ok", true}, Case{"/silent", false}}) {
        SCOPED_TRACE(c.path);
        TestServer server;
        std::optional<std::thread::id> releasedOn;
        bool ran = false;
        {
            SoupHttpClient client;
            client.get(HttpRequest{server.url(c.path), 30.0},
                       [probe = std::make_shared<ReleaseProbe>(&releasedOn), &ran](
                           std::optional<HttpResponse>) { ran = true; });
            // Served by this thread's loop: wait until the answer is in, or the request has
            // reached the silent route and hangs there.
            const gint64 guard = g_get_monotonic_time() + 20 * G_USEC_PER_SEC;
            while ((c.answered ? !ran : server.hits == 0) && g_get_monotonic_time() < guard) {
                g_main_context_iteration(nullptr, TRUE);
            }
        }
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        EXPECT_EQ(ran, c.answered);
        ASSERT_TRUE(releasedOn.has_value()) << "the completion was never released";
        EXPECT_EQ(*releasedOn, std::this_thread::get_id());
    }
}

// A throw-away CA-less certificate for 127.0.0.1, made with openssl in a temporary folder.
class Certificate {
public:
    Certificate() {
        if (std::string(LORVANE_TEST_OPENSSL).empty()) return;
        char folderTemplate[] = "/tmp/lorvane-tls-XXXXXX";
        if (!g_mkdtemp(folderTemplate)) return;
        folder_ = folderTemplate;
        const std::string command = std::string(LORVANE_TEST_OPENSSL) +
                                    " req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1"
                                    " -addext subjectAltName=IP:127.0.0.1 -keyout " +
                                    key() + " -out " + pem() + " 2>/dev/null";
        if (std::system(command.c_str()) != 0) return;
        certificate_ = g_tls_certificate_new_from_files(pem().c_str(), key().c_str(), nullptr);
    }
    ~Certificate() {
        if (certificate_) g_object_unref(certificate_);
        if (!folder_.empty()) std::system(("rm -rf " + folder_).c_str());
    }
    GTlsCertificate* get() const { return certificate_; }
    std::string pem() const { return folder_ + "/cert.pem"; }

private:
    std::string key() const { return folder_ + "/key.pem"; }
    std::string folder_;
    GTlsCertificate* certificate_ = nullptr;
};

TEST(SoupHttpClient, TlsIsVerifiedAndNeverDowngraded) {
    Certificate certificate;
    if (!certificate.get()) GTEST_SKIP() << "openssl could not make a test certificate";
    TestServer secure(certificate.get());
    TestServer plain;
    SoupHttpClient systemTrust;
    SoupHttpClient testTrust(certificate.pem());

    EXPECT_FALSE(fetch(systemTrust, secure.url("/ok")).response) << "an unknown CA must be rejected";
    const Outcome trusted = fetch(testTrust, secure.url("/ok"));
    ASSERT_TRUE(trusted.response);
    EXPECT_EQ(trusted.response->status, 200);

    secure.redirectTarget = plain.url("/ok");
    EXPECT_FALSE(fetch(testTrust, secure.url("/redirect")).response) << "https must not turn into http";
    EXPECT_EQ(plain.hits, 0) << "nothing may be sent in clear text after the downgrade";

    plain.redirectTarget = secure.url("/ok");
    const Outcome upgraded = fetch(testTrust, plain.url("/redirect"));
    ASSERT_TRUE(upgraded.response);
    EXPECT_EQ(upgraded.response->status, 200);
}

}  // namespace
}  // namespace lorvane::gtk
