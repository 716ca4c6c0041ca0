// The shutdown pass on the fake platform, and what outlives the delegate.
#include <gtest/gtest.h>

#include <utility>

#include "delegate_access.h"

namespace lorvane {

static const std::string kResources = "/app/share/lorvane";

// Both services, and a developer's launcher script in the last place it is looked for.
static void addBundle(fake::FakePlatform& fake) {
    fake.files.files = {kResources + "/runtime/node", kResources + "/server/server.mjs",
                        kResources + "/voice-worker/src/server.mjs", "/home/user/lorvane/start-lorvane.sh"};
}

// The launcher script's child is never the app's to stop.
TEST(Shutdown, StopsPollingAndTheRunningServicesServerFirstThenClosesTheLogs) {
    const std::string server = "child.terminate " + kResources + "/server/server.mjs";
    const std::string worker = "child.terminate " + kResources + "/voice-worker/src/server.mjs";
    const std::string serverLog = "file.close /home/user/.local/state/Lorvane/server.log";
    const std::string workerLog = "file.close /home/user/.local/state/Lorvane/voice-worker.log";
    // Whether the server still runs, and what quitting does then.
    const std::pair<bool, std::vector<std::string>> rows[] = {
        {true, {server, worker, serverLog, workerLog}},
        {false, {worker, serverLog, workerLog}},
    };
    for (const auto& [serverRuns, expected] : rows) {
        FakeApp app;
        addBundle(app.fake);
        app.launch();
        app.fake.http.respond(Failure{"refused"});  // so that the next tick would probe again
        for (auto& child : app.fake.launcher.children) {
            child->running = !child->name.ends_with("/server/server.mjs") || serverRuns;
        }
        app.fake.advance(0);
        app.fake.events.clear();
        app.delegate->applicationWillTerminate();
        app.fake.advance(1);
        EXPECT_EQ(app.fake.events, expected) << serverRuns;
    }
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
