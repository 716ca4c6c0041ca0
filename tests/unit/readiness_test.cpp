// Readiness polling on virtual time: which answers are ready, one probe at a time, the 30 s limit.
#include <gtest/gtest.h>

#include "delegate_access.h"

namespace lorvane {

static const std::string kProbe = "http.get http://127.0.0.1:3001/ 1s fresh status-only";
static const std::string kAppLoad = "webView.loadRequest http://127.0.0.1:3001/ 60s fresh";
static const std::string kErrorPage = "webView.loadHtml Не удалось запустить локальный интерфейс";
static const std::string kUpdateCheck = "http.get https://updates.example.test/releases/latest.json 8s fresh";

// Launched without services, so the launch-error page is showing already: a server that answers
// still replaces it.
TEST(Readiness, AnyStatusFrom200To499LoadsTheAppOnceAndEndsPolling) {
    const std::pair<std::optional<int>, bool> rows[] = {{200, true},  {302, true},  {404, true},         {499, true},
                                                        {199, false}, {500, false}, {std::nullopt, false}};
    for (const auto& [status, ready] : rows) {
        FakeApp app;
        app.fake.places.resources = std::nullopt;
        app.launch();
        app.fake.http.respond(status ? Result<HttpResponse>(HttpResponse{*status, "body"}) : Failure{"refused"});
        app.fake.advance(0.3);
        app.delegate->checkServerReadiness();  // a stray tick
        EXPECT_EQ(app.fake.events, fake::EventLog{ready ? kAppLoad : kProbe}) << status.value_or(0);
        EXPECT_EQ(app.state().readinessTimer->isValid(), !ready) << status.value_or(0);
    }
}

// The limit counts from the end of the launch, not from when the delegate was made.
TEST(Readiness, GivesUpJustAfterThirtySecondsAndForGood) {
    FakeApp app;
    app.fake.clock.seconds += 12.5;
    app.launch();
    const double start = app.fake.clock.seconds;
    app.fake.http.respond(Failure{"refused"});
    app.fake.advance(0);
    app.fake.clock.seconds = start + 30.0;
    app.fake.advance(0);  // the first overdue tick, at exactly 30 s, still probes
    app.fake.http.respond(Failure{"refused"});
    app.fake.advance(0);
    app.fake.clock.seconds = start + 30.001;
    app.delegate->checkServerReadiness();
    app.fake.advance(60);
    EXPECT_EQ(app.fake.events, (fake::EventLog{kProbe, kUpdateCheck, kErrorPage}));
}

TEST(Readiness, AProbeOutAtTheLimitIsWaitedForAndMayStillLoadTheApp) {
    FakeApp app;
    app.launch();
    app.fake.advance(31);  // a hundred ticks while the launch's probe is out send nothing
    app.fake.http.respond(HttpResponse{204, ""});
    app.fake.advance(5);
    EXPECT_EQ(app.fake.events, (fake::EventLog{kUpdateCheck, kAppLoad}));
}

}  // namespace lorvane
