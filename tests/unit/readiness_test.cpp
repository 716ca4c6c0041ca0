// Readiness polling on virtual time: ready statuses, the time limit, one probe at a time, one load.
#include <gtest/gtest.h>

#include "delegate_access.h"
#include "fake_platform.h"

namespace lorvane {
namespace {

const std::string kProbe = "http://127.0.0.1:3001/";

class Readiness : public ::testing::Test {
protected:
    void SetUp() override {
        fake.places.resources = std::nullopt;  // no services: polling is what is under test
        delegate = std::make_shared<AppDelegate>(fake.platform(), testUpdateEndpoints());
        delegate->applicationDidFinishLaunching();
        fake.events.clear();
    }
    std::size_t probes() const { return fake.eventsStartingWith("http.get " + kProbe).size(); }
    std::size_t appLoads() const { return fake.eventsStartingWith("webView.loadRequest").size(); }
    std::size_t errorPages() const { return fake.eventsStartingWith("webView.loadHtml").size(); }
    void answerLatestProbe(std::optional<HttpResponse> response) {
        fake.http.respondNext(std::move(response));
        fake.runUntilIdle();
    }
    const AppDelegate::State& state() const { return AppDelegateTestAccess::state(*delegate); }

    fake::FakePlatform fake;
    std::shared_ptr<AppDelegate> delegate;
};

TEST_F(Readiness, FirstProbeGoesOutDuringLaunchWithItsRequestSettings) {
    ASSERT_EQ(fake.http.exchanges().size(), 1u);
    const HttpRequest& probe = fake.http.exchanges()[0].request;
    EXPECT_EQ(probe.url, kProbe);
    EXPECT_EQ(probe.timeoutSeconds, 1.0);
    EXPECT_EQ(probe.cachePolicy, CachePolicy::ReloadIgnoringLocalCache);
    EXPECT_EQ(probe.needs, HttpAnswerNeeded::StatusOnly);
    EXPECT_TRUE(state().readinessCheckInFlight);
}

struct StatusCase {
    int status;
    bool ready;
};

class ReadinessStatus : public Readiness, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(ReadinessStatus, DecidesReadyByStatusRange) {
    answerLatestProbe(HttpResponse{GetParam().status, "body"});
    EXPECT_EQ(state().appLoaded, GetParam().ready);
    EXPECT_FALSE(state().readinessCheckInFlight);
    EXPECT_EQ(state().readinessTimer->isValid(), !GetParam().ready);
    EXPECT_EQ(appLoads(), GetParam().ready ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Statuses, ReadinessStatus,
                         ::testing::Values(StatusCase{200, true}, StatusCase{404, true}, StatusCase{499, true},
                                           StatusCase{302, true}, StatusCase{199, false}, StatusCase{100, false},
                                           StatusCase{500, false}, StatusCase{503, false}, StatusCase{0, false}));

TEST_F(Readiness, NoResponseCountsAsNotReadyAndTheNextTickProbesAgain) {
    answerLatestProbe(std::nullopt);
    EXPECT_FALSE(state().appLoaded);
    fake.advance(0.3);
    EXPECT_EQ(probes(), 1u);  // the launch's probe was cleared from the log; this is the tick's
}

TEST_F(Readiness, TicksDuringAProbeSendNothing) {
    fake.advance(3.0);  // ten ticks, the launch probe still out
    EXPECT_EQ(probes(), 0u);
    EXPECT_TRUE(state().readinessCheckInFlight);
}

TEST_F(Readiness, ReadyAnswerLoadsTheAppOnceWithItsRequestAndStopsProbing) {
    answerLatestProbe(HttpResponse{200, "<html>"});
    ASSERT_EQ(fake.application.webView->requestLoads(), 1u);
    const WebRequest& load = fake.application.webView->loads.back().request;
    EXPECT_EQ(load.url, kProbe);
    EXPECT_EQ(load.cachePolicy, CachePolicy::ReloadIgnoringLocalCache);
    EXPECT_EQ(load.timeoutSeconds, 60.0);
    fake.advance(60);
    EXPECT_EQ(probes(), 0u);
    EXPECT_EQ(appLoads(), 1u);
    delegate->checkServerReadiness();  // a stray tick after loading changes nothing
    EXPECT_EQ(probes(), 0u);
}

// Keeps every probe failing until virtual time has moved `seconds` past the start.
void failProbesFor(fake::FakePlatform& fake, double seconds) {
    const double end = fake.clock.now() + seconds;
    while (fake.clock.now() < end) {
        if (fake.http.unanswered()) fake.http.respondNext(std::nullopt);
        fake.runUntilIdle();
        fake.advance(0.1);
    }
}

TEST_F(Readiness, ExactlyThirtySecondsIsNoTimeOutButTheFirstTickAfterIs) {
    const double started = state().readinessStartedAt;
    fake.http.respondNext(std::nullopt);
    fake.runUntilIdle();
    // Drive ticks by hand at precise elapsed times.
    fake.clock.set(started + 30.0);
    delegate->checkServerReadiness();
    EXPECT_EQ(errorPages(), 0u);
    EXPECT_TRUE(state().readinessCheckInFlight);
    fake.http.respondNext(std::nullopt);
    fake.runUntilIdle();
    fake.clock.set(started + 30.0001);
    delegate->checkServerReadiness();
    EXPECT_EQ(errorPages(), 1u);
    EXPECT_FALSE(state().readinessTimer->isValid());
    EXPECT_FALSE(state().readinessCheckInFlight);
    EXPECT_FALSE(state().appLoaded);
}

TEST_F(Readiness, TimeOutShowsTheErrorPageOnceAndStopsForGood) {
    failProbesFor(fake, 31);
    EXPECT_EQ(errorPages(), 1u);
    EXPECT_FALSE(state().readinessTimer->isValid());
    const auto probesAtTimeOut = probes();
    fake.advance(120);
    EXPECT_EQ(probes(), probesAtTimeOut);
    EXPECT_EQ(errorPages(), 1u);
    EXPECT_EQ(fake.queue.pendingCount(), 0u);  // no timer or poll left behind
}

TEST_F(Readiness, ProbeOutstandingAtTheLimitPostponesTheTimeOutAndAReadyAnswerWins) {
    failProbesFor(fake, 29.9);
    if (!state().readinessCheckInFlight) fake.advance(0.3);
    ASSERT_TRUE(state().readinessCheckInFlight);
    fake.advance(1.0);  // now past 30 s with the probe still out
    EXPECT_EQ(errorPages(), 0u);
    answerLatestProbe(HttpResponse{204, ""});
    EXPECT_TRUE(state().appLoaded);
    EXPECT_EQ(appLoads(), 1u);
    fake.advance(5);
    EXPECT_EQ(errorPages(), 0u);
}

TEST_F(Readiness, ServerAnsweringAfterTheTimeOutIsNeverNoticed) {
    failProbesFor(fake, 31);
    ASSERT_EQ(errorPages(), 1u);
    fake.advance(10);
    EXPECT_EQ(fake.http.unanswered(), 0u);
    EXPECT_EQ(appLoads(), 0u);
}

TEST_F(Readiness, AnswerArrivingAfterTheDelegateIsGoneIsDropped) {
    std::weak_ptr<AppDelegate> weak = delegate;
    delegate.reset();
    fake.http.respondNext(HttpResponse{200, ""});
    fake.runUntilIdle();
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(appLoads(), 0u);
}

TEST(ReadinessAtLaunch, ErrorPageFromAFailedServerStartIsReplacedWhenAServerAnswers) {
    fake::FakePlatform fake;
    fake.places.resources = "/missing";  // nothing to start: the error page comes at once
    auto delegate = std::make_shared<AppDelegate>(fake.platform(), testUpdateEndpoints());
    delegate->applicationDidFinishLaunching();
    auto& loads = fake.application.webView->loads;
    ASSERT_EQ(loads.size(), 2u);
    ASSERT_TRUE(loads[1].isHtml);

    fake.http.respondNext(std::nullopt);  // someone else's server comes up a little later
    fake.advance(0.3);
    fake.http.respondNext(HttpResponse{200, ""});
    fake.runUntilIdle();
    ASSERT_EQ(loads.size(), 3u);
    EXPECT_FALSE(loads[2].isHtml);
    EXPECT_EQ(loads[2].request.url, kProbe);
}

}  // namespace
}  // namespace lorvane
