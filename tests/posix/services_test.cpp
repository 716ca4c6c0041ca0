// The services and the launcher script started by the real delegate through the real launcher and
// file system, in a private temporary tree (the rest of the platform is fake): what each child is
// handed, its log and data folder, and the launcher search.
#include <sys/stat.h>

#include <tuple>

#include <gtest/gtest.h>

#include "../unit/delegate_access.h"
#include "fake_platform.h"
#include "platform/linux/linux_places.h"
#include "platform/linux/linux_process_launcher.h"
#include "platform/posix/posix_file_system.h"
#include "posix_test_support.h"

namespace lorvane {
namespace {

using namespace posix_test;

// Stands in for runtime/node and for the launcher script: notes its pid beside itself, writes one
// line to each stream and waits.
const char* kService = "#!/bin/sh\necho $$ > \"$0.pid\"\necho out\necho err >&2\nsleep 600\n";

struct Services {
    Services() {
        fake.places.resources = resources;
        fake.places.logs = root / "state";
        fake.places.support = root / "data";
        fake.places.homeFolder = root / "home";
        fake.environment.variables = {};  // no PATH: a node is found only where a test puts one
        writeFile(runtime, kService, 0755);
        writeFile(server, "");
        writeFile(worker, "");
    }
    ~Services() { delegate->applicationWillTerminate(); }
    AppDelegate::State& state() { return AppDelegateTestAccess::state(*delegate); }

    TempDir root;
    const std::string resources = root / "share/lorvane", runtime = resources + "/runtime/node";
    const std::string server = resources + "/server/server.mjs", worker = resources + "/voice-worker/src/server.mjs";
    const std::string serverLog = root / "state/Lorvane/server.log";
    const std::string workerLog = root / "state/Lorvane/voice-worker.log";
    const std::string data = root / "data/Lorvane";
    fake::FakePlatform fake;
    LinuxProcessLauncher launcher;
    PosixFileSystem files;
    Platform platform{fake.queue, fake.clock,  fake.http,        launcher,
                      files,      fake.places, fake.environment, fake.application};
    std::shared_ptr<AppDelegate> delegate = std::make_shared<AppDelegate>(platform, testUpdateEndpoints());
};

// Each service's log holds this run's lines alone, and the service is seen from outside: its argv
// (as the kernel rewrites it for a script, its interpreter first) and folder. What the environments
// hold is the unit tests' tables. The bundle's runtime/node starts the machine's node: with none
// on the (absent) PATH nor at the system's place, the server runs only to say so in its log, and
// the launch-error page shows at once; the worker's failures are silent, so it starts all the same.
TEST(Services, EachServiceStartsFromTheBundleInItsFolderIntoAFreshLogOrSaysAtOnceThatNoNodeIsFound) {
    for (const bool nodeFound : {true, false}) {
        SCOPED_TRACE(nodeFound ? "a node" : "no node");
        Services s;
        if (!nodeFound) s.launcher.handsOverToNode(s.runtime, s.root / "nowhere/node");
        const std::string previousLog = "the previous run's log, longer than anything this run writes into it\n";
        writeFile(s.serverLog, previousLog);
        writeFile(s.workerLog, previousLog);
        s.delegate->applicationDidFinishLaunching();
        EXPECT_EQ(s.fake.application.webView->loads, nodeFound ? 1u : 2u);
        const std::tuple<std::string, std::string, std::string, std::string, std::shared_ptr<ChildProcess>> services[] = {
            {s.serverLog, s.data + "/gateway", s.server, s.resources, s.state().serverProcess},
            {s.workerLog, s.data + "/voice", s.worker, s.resources + "/voice-worker", s.state().voiceProcess},
        };
        for (const auto& [log, folder, script, cwd, process] : services) {
            EXPECT_TRUE(fs::is_directory(folder)) << folder;
            ASSERT_TRUE(process);
            EXPECT_TRUE(eventually([&] { return readFile(log) == "out\nerr\n"; })) << readFile(log);
            const Seen seenProcess = seen(process->pid());  // it has written: it runs the runtime
            EXPECT_EQ(seenProcess.argv, (std::vector<std::string>{"/bin/sh", s.runtime, script}));
            EXPECT_EQ(seenProcess.cwd, cwd);
        }
    }
}

TEST(Services, TheLauncherScriptIsTheFirstExecutableCandidate) {
    Services s;
    const std::string candidates[] = {s.root / "workspace/start-lorvane.sh", s.data + "/backend/start-lorvane.sh",
                                      s.root / "home/Quendrel/lorvane/start-lorvane.sh",
                                      s.root / "home/lorvane/start-lorvane.sh"};
    const auto found = [&](const std::string& workspace) {
        s.fake.environment.variables["LORVANE_WORKSPACE"] = workspace;
        return AppDelegateTestAccess::backendLauncherPath(*s.delegate);
    };
    for (const auto& candidate : candidates) writeFile(candidate, kService, 0644);
    // Made executable from the last to the first, each one is found before those after it.
    for (auto candidate = std::rbegin(candidates); candidate != std::rend(candidates); ++candidate) {
        ::chmod(candidate->c_str(), 0755);
        EXPECT_EQ(found(s.root / "workspace"), *candidate);
    }
}

}  // namespace
}  // namespace lorvane
