// The launch sequence on the fake platform: order, window and web view, loading page, timers.
#include <gtest/gtest.h>

#include "app/loading_page.h"
#include "app/local_origin.h"
#include "delegate_access.h"
#include "fake_platform.h"

namespace lorvane {
namespace {

const std::string kResources = "/opt/lorvane/share/lorvane";

void addBundle(fake::FakePlatform& fake) {
    fake.places.resources = kResources;
    fake.files.addFile(kResources + "/runtime/node", "", true);
    fake.files.addFile(kResources + "/server/server.mjs");
    fake.files.addFile(kResources + "/voice-worker/src/server.mjs");
    fake.files.addFile("/home/user/lorvane/start-lorvane.sh", "", true);
}

std::vector<std::string> withoutFileEvents(const fake::EventLog& events) {
    std::vector<std::string> out;
    for (const auto& e : events) {
        if (e.rfind("fs.", 0) != 0) out.push_back(e);
    }
    return out;
}

TEST(AppDelegateConstruction, TouchesNothingAndHoldsTheFixedValues) {
    fake::FakePlatform fake;
    auto delegate = std::make_shared<AppDelegate>(fake.platform(), testUpdateEndpoints());
    EXPECT_TRUE(fake.events.empty());
    const auto& s = AppDelegateTestAccess::state(*delegate);
    EXPECT_EQ(s.appPort, 3001);
    EXPECT_EQ(s.voicePort, 6061);
    EXPECT_EQ(s.updateManifestURL, "https://updates.example.test/releases/latest.json");
    EXPECT_EQ(s.downloadPageURL, "https://updates.example.test/#downloads");
    EXPECT_FALSE(s.window || s.webView || s.serverProcess || s.voiceProcess || s.serverLogHandle ||
                 s.voiceLogHandle || s.readinessTimer);
    EXPECT_FALSE(s.readinessCheckInFlight);
    EXPECT_FALSE(s.appLoaded);
    EXPECT_EQ(s.readinessStartedAt, fake.clock.now());
    EXPECT_EQ(fake.queue.pendingCount(), 0u);
}

TEST(LocalOrigin, IsPlainDecimalWithoutTrailingSlash) {
    EXPECT_EQ(localOrigin(3001), "http://127.0.0.1:3001");
    EXPECT_EQ(localOrigin(6061), "http://127.0.0.1:6061");
}

TEST(LaunchSequence, RunsItsStepsInOrder) {
    fake::FakePlatform fake;
    addBundle(fake);
    auto delegate = std::make_shared<AppDelegate>(fake.platform(), testUpdateEndpoints());
    delegate->applicationDidFinishLaunching();

    EXPECT_EQ(withoutFileEvents(fake.events),
              (std::vector<std::string>{
                  "app.setActivationPolicyRegular",
                  "app.setMainMenu",
                  "app.createWebView",
                  "app.createWindow",
                  "window.center",
                  "window.makeKeyAndOrderFront",
                  "webView.loadHtml",
                  "launcher.launch /home/user/lorvane/start-lorvane.sh",
                  "launcher.launch " + kResources + "/runtime/node " + kResources + "/voice-worker/src/server.mjs",
                  "launcher.launch " + kResources + "/runtime/node " + kResources + "/server/server.mjs",
                  "queue.scheduleRepeating 0.300000",
                  "http.get http://127.0.0.1:3001/",
                  "app.activateIgnoringOtherApps",
                  "queue.postAfter 3.000000",
              }));
}

TEST(LaunchSequence, BuildsTheWindowAndWebViewAsDesigned) {
    fake::FakePlatform fake;
    auto delegate = std::make_shared<AppDelegate>(fake.platform(), testUpdateEndpoints());
    delegate->applicationDidFinishLaunching();

    ASSERT_TRUE(fake.application.webViewSpec);
    EXPECT_EQ(fake.application.webViewSpec->applicationNameForUserAgent, "LorvaneMac/0.1");
    EXPECT_EQ(fake.application.webViewSpec->dataStore, WebsiteDataStore::PersistentDefault);
    EXPECT_EQ(fake.application.uiDelegate.lock(), delegate);

    const WindowSpec& w = fake.application.window->spec;
    EXPECT_EQ(w.contentWidth, 1440);
    EXPECT_EQ(w.contentHeight, 900);
    EXPECT_EQ(w.minWidth, 1024);
    EXPECT_EQ(w.minHeight, 700);
    EXPECT_EQ(w.title, "Lorvane");
    EXPECT_EQ(w.style, WindowStyle::Titled | WindowStyle::Closable | WindowStyle::Miniaturizable |
                           WindowStyle::Resizable | WindowStyle::FullSizeContentView);
    EXPECT_TRUE(w.titlebarTransparent);
    EXPECT_EQ(fake.application.windowContent, fake.application.webView);
    EXPECT_EQ(AppDelegateTestAccess::state(*delegate).window, fake.application.window);
    EXPECT_EQ(AppDelegateTestAccess::state(*delegate).webView, fake.application.webView);
}

TEST(LaunchSequence, LoadingPageIsTheExactPage) {
    fake::FakePlatform fake;
    auto delegate = std::make_shared<AppDelegate>(fake.platform(), testUpdateEndpoints());
    delegate->applicationDidFinishLaunching();
    const auto& first = fake.application.webView->loads.at(0);
    ASSERT_TRUE(first.isHtml);
    EXPECT_EQ(first.html, kLoadingPageHtml);
    EXPECT_EQ(first.html.size(), 889u);
    EXPECT_EQ(first.html.substr(0, 16), "<!doctype html>\n");
    EXPECT_EQ(first.html.substr(first.html.size() - 7), "</html>");
    EXPECT_NE(first.html.find("<p>Запускаем локальное приложение\u2026</p>"), std::string::npos);
}

TEST(LaunchSequence, NothingStartableStillSetsUpWindowPagesTimerAndUpdateCheck) {
    fake::FakePlatform fake;
    fake.places.resources = std::nullopt;
    auto delegate = std::make_shared<AppDelegate>(fake.platform(), testUpdateEndpoints());
    delegate->applicationDidFinishLaunching();

    EXPECT_TRUE(fake.launcher.launches.empty());
    ASSERT_EQ(fake.application.webView->loads.size(), 2u);  // loading page, then the error page
    EXPECT_NE(fake.application.webView->loads[1].html.find("Не удалось запустить"), std::string::npos);
    EXPECT_TRUE(AppDelegateTestAccess::state(*delegate).readinessTimer && AppDelegateTestAccess::state(*delegate).readinessTimer->isValid());
    EXPECT_EQ(fake.http.exchanges().size(), 1u);
    EXPECT_EQ(fake.eventsStartingWith("queue.postAfter"), std::vector<std::string>{"queue.postAfter 3.000000"});
}

TEST(LaunchSequence, TimeLimitCountsFromTheEndOfServiceStart) {
    fake::FakePlatform fake;
    auto delegate = std::make_shared<AppDelegate>(fake.platform(), testUpdateEndpoints());
    fake.clock.set(fake.clock.now() + 12.5);
    delegate->applicationDidFinishLaunching();
    EXPECT_EQ(AppDelegateTestAccess::state(*delegate).readinessStartedAt, fake.clock.now());
}

TEST(LaunchSequence, AutomaticUpdateCheckRunsOnceAfterThreeSecondsSilently) {
    fake::FakePlatform fake;
    auto delegate = std::make_shared<AppDelegate>(fake.platform(), testUpdateEndpoints());
    delegate->applicationDidFinishLaunching();
    auto manifestRequests = [&] { return fake.eventsStartingWith("http.get https://updates").size(); };

    fake.advance(2.99);
    EXPECT_EQ(manifestRequests(), 0u);
    fake.advance(0.02);
    EXPECT_EQ(manifestRequests(), 1u);
    fake.advance(60);
    EXPECT_EQ(manifestRequests(), 1u);
}

TEST(LaunchSequence, DeferredWorkHoldsTheDelegateWeakly) {
    fake::FakePlatform fake;
    auto delegate = std::make_shared<AppDelegate>(fake.platform(), testUpdateEndpoints());
    delegate->applicationDidFinishLaunching();
    std::weak_ptr<AppDelegate> weak = delegate;
    delegate.reset();
    EXPECT_TRUE(weak.expired());  // neither the timer nor the pending check keeps it alive
    fake.http.respondNext(HttpResponse{200, ""});
    fake.advance(5);
    EXPECT_EQ(fake.eventsStartingWith("http.get https://updates").size(), 0u);
}

}  // namespace
}  // namespace lorvane
