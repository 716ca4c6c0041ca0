// The launch sequence and the shutdown pass on the fake platform, and what outlives the delegate.
#include <gtest/gtest.h>

#include <tuple>

#include "delegate_access.h"

namespace lorvane {

static const std::string kResources = "/app/share/lorvane";

// Both services, and a developer's launcher script in the last place it is looked for.
static void addBundle(fake::FakePlatform& fake) {
    fake.files.files = {kResources + "/runtime/node", kResources + "/server/server.mjs",
                        kResources + "/voice-worker/src/server.mjs", "/home/user/lorvane/start-lorvane.sh"};
}

// A server that cannot start shows the launch-error page at once, which the desktop tests show.
TEST(Launch, RunsItsStepsInOrderAndChecksForUpdatesThreeSecondsLater) {
    FakeApp app;
    addBundle(app.fake);
    EXPECT_TRUE(app.fake.events.empty()) << "made, the delegate touches nothing";
    app.delegate->applicationDidFinishLaunching();
    app.fake.advance(3);  // the ticks meanwhile wait for the launch's probe
    const std::vector<std::string> expected = {
        "app.setMainMenu", "app.createWebView persistent", "app.createWindow",
        "window.present", "webView.loadHtml Lorvane",
        "launch /home/user/lorvane/start-lorvane.sh", "launch " + kResources + "/voice-worker/src/server.mjs",
        "launch " + kResources + "/server/server.mjs", "queue.scheduleRepeating 0.300000",
        "http.get http://127.0.0.1:3001/ 1s fresh status-only", "app.activate",
        "queue.postAfter 3.000000", "http.get https://updates.example.test/releases/latest.json 8s fresh"};
    EXPECT_EQ(app.fake.events, expected);
}

// The launcher script's child is never the app's to stop.
TEST(Shutdown, StopsPollingAndTheRunningServicesServerFirstThenClosesTheLogs) {
    const std::string server = "child.terminate " + kResources + "/server/server.mjs";
    const std::string worker = "child.terminate " + kResources + "/voice-worker/src/server.mjs";
    const std::string serverLog = "file.close /home/user/.local/state/Lorvane/server.log";
    const std::string workerLog = "file.close /home/user/.local/state/Lorvane/voice-worker.log";
    // Bundled, server still running, worker still running; and what quitting does then.
    const std::tuple<bool, bool, bool, std::vector<std::string>> rows[] = {
        {true, true, true, {server, worker, serverLog, workerLog}},
        {true, false, true, {worker, serverLog, workerLog}},
        {true, true, false, {server, serverLog, workerLog}},
        {false, false, false, {}},
    };
    for (const auto& [bundled, serverRuns, workerRuns, expected] : rows) {
        FakeApp app;
        if (bundled) addBundle(app.fake);
        app.launch();
        app.fake.http.respond(Failure{"refused"});  // so that the next tick would probe again
        for (auto& child : app.fake.launcher.children) {
            child->running = child->name.ends_with("/server/server.mjs") ? serverRuns : workerRuns;
        }
        app.fake.advance(0);
        app.fake.events.clear();
        app.delegate->applicationWillTerminate();
        app.fake.advance(1);
        EXPECT_EQ(app.fake.events, expected) << bundled << serverRuns << workerRuns;
    }
    FakeApp early;  // asked to quit before it launched: nothing to stop
    early.delegate->applicationWillTerminate();
    EXPECT_EQ(early.fake.events, fake::EventLog{});
}

// Timers, requests and scripts may finish after the delegate is gone; none of them keeps it alive,
// and none of them acts once it is gone.
TEST(Launch, LateCallbacksHoldTheDelegateWeakly) {
    FakeApp app;
    app.launch();
    app.state().appLoaded = true;  // as if loaded, with the launch's probe still out
    app.delegate->openVoiceNotes();
    app.delegate->checkForUpdatesFromMenu();
    const std::weak_ptr<AppDelegate> weak = app.delegate;
    app.delegate.reset();
    EXPECT_TRUE(weak.expired());
    app.fake.events.clear();
    app.fake.http.respond(HttpResponse{200, ""});
    app.fake.http.respond(HttpResponse{200, R"({"version":"9.0"})"});
    app.fake.application.webView->scripts.at(0)(Failure{"refused"});
    app.fake.advance(5);  // the ticks and the automatic check fall due
    EXPECT_EQ(app.fake.events, fake::EventLog{});
}

}  // namespace lorvane
