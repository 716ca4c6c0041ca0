// The shutdown pass on the fake platform: order, what is skipped, nothing cleared.
#include <gtest/gtest.h>

#include "delegate_access.h"
#include "fake_platform.h"

namespace lorvane {
namespace {

const std::string kResources = "/opt/lorvane/share/lorvane";

struct ShutdownCase {
    const char* name;
    bool serverRunning;
    bool workerRunning;
    std::vector<std::string> terminations;
};

class Shutdown : public ::testing::TestWithParam<ShutdownCase> {};

TEST_P(Shutdown, TerminatesRunningServicesServerFirstThenClosesLogs) {
    fake::FakePlatform fake;
    fake.places.resources = kResources;
    fake.files.addFile(kResources + "/runtime/node", "", true);
    fake.files.addFile(kResources + "/server/server.mjs");
    fake.files.addFile(kResources + "/voice-worker/src/server.mjs");
    auto delegate = std::make_shared<AppDelegate>(fake.platform(), testUpdateEndpoints());
    delegate->applicationDidFinishLaunching();
    ASSERT_EQ(fake.launcher.children.size(), 2u);  // worker, then server
    fake.launcher.children[0]->running = GetParam().workerRunning;
    fake.launcher.children[1]->running = GetParam().serverRunning;
    fake.events.clear();

    EXPECT_TRUE(delegate->applicationShouldTerminateAfterLastWindowClosed());
    delegate->applicationWillTerminate();

    EXPECT_EQ(fake.eventsStartingWith("child.terminate"), GetParam().terminations);
    EXPECT_FALSE(AppDelegateTestAccess::state(*delegate).readinessTimer->isValid());
    for (const auto& handle : fake.files.openedHandles) EXPECT_EQ(handle->closes, 1);
    // Nothing is cleared: the fields keep their stopped or closed objects.
    const auto& s = AppDelegateTestAccess::state(*delegate);
    EXPECT_TRUE(s.serverProcess && s.voiceProcess && s.serverLogHandle && s.voiceLogHandle && s.readinessTimer);
}

INSTANTIATE_TEST_SUITE_P(
    Children, Shutdown,
    ::testing::Values(
        ShutdownCase{"both_running", true, true,
                     {"child.terminate " + kResources + "/server/server.mjs",
                      "child.terminate " + kResources + "/voice-worker/src/server.mjs"}},
        ShutdownCase{"server_exited", false, true, {"child.terminate " + kResources + "/voice-worker/src/server.mjs"}},
        ShutdownCase{"worker_exited", true, false, {"child.terminate " + kResources + "/server/server.mjs"}},
        ShutdownCase{"both_exited", false, false, {}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(ShutdownWithoutServices, SkipsAbsentProcessesAndHandles) {
    fake::FakePlatform fake;
    fake.places.resources = std::nullopt;
    auto delegate = std::make_shared<AppDelegate>(fake.platform(), testUpdateEndpoints());
    delegate->applicationDidFinishLaunching();
    delegate->applicationWillTerminate();
    EXPECT_TRUE(fake.eventsStartingWith("child.").empty());
    EXPECT_FALSE(AppDelegateTestAccess::state(*delegate).readinessTimer->isValid());
}

TEST(ShutdownBeforeLaunch, DoesNothingAtAll) {
    fake::FakePlatform fake;
    auto delegate = std::make_shared<AppDelegate>(fake.platform(), testUpdateEndpoints());
    delegate->applicationWillTerminate();
    EXPECT_TRUE(fake.events.empty());
}

}  // namespace
}  // namespace lorvane
