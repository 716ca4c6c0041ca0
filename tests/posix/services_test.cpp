// The services and the launcher script started by the real delegate through the real launcher and
// file system, in a private temporary tree (the rest of the platform is fake): what each child is
// handed, the logs and data folders for every way the bundle can be broken, the launcher search.
#include <signal.h>
#include <sys/stat.h>

#include <functional>

#include <gtest/gtest.h>

#include "../unit/delegate_access.h"
#include "fake_platform.h"
#include "platform/linux/linux_places.h"
#include "platform/linux/linux_process_launcher.h"
#include "platform/posix/posix_environment.h"
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
        fake.environment.variables = {{"PORT", "8080"}};
        writeFile(runtime, kService, 0755);
        writeFile(server, "");
        writeFile(worker, "");
        writeFile(data + "/voice-phone-public-url", "https://phone.tail9.ts.net/\n");
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

// What a service left of its log and data folder: as it was; emptied and opened with no process
// started; or running, with the log (where it could be had) holding this run's lines alone; or
// running only to say in its log why it cannot, with the launch-error page shown at once.
enum Outcome { Untouched, Failed, Ran, RanWithoutLog, RanToSayWhy };

// A service that runs is seen from outside once: its argv (as the kernel rewrites it for a script,
// its interpreter first), folder and environment. The environments are the unit tests' tables; here
// a real child of each kind shows them arrive.
TEST(Services, WhatEachServiceIsHandedAndLeavesForEveryWayTheBundleCanBeBroken) {
    const auto remove = [](const char* part) { return [part](Services& s) { fs::remove_all(s.resources + part); }; };
    const auto logsAs = [](void (*make)(const std::string&)) {
        return [make](Services& s) {
            for (const auto& log : {s.serverLog, s.workerLog}) {
                fs::remove(log);
                make(log);
            }
        };
    };
    const struct {
        const char* name;
        std::function<void(Services&)> arrange;
        Outcome server, worker;
    } cases[] = {
        {"a complete bundle", [](Services&) {}, Ran, Ran},
        {"no log folder yet", [](Services& s) { fs::remove_all(s.root / "state"); }, Ran, Ran},
        {"no resource folder", [](Services& s) { s.fake.places.resources = std::nullopt; }, Untouched, Untouched},
        {"no runtime", remove("/runtime/node"), Untouched, Untouched},
        {"a runtime without execute permission", [](Services& s) { ::chmod(s.runtime.c_str(), 0644); }, Untouched,
         Untouched},
        {"a folder as the runtime",
         [](Services& s) {
             fs::remove(s.runtime);
             fs::create_directory(s.runtime);
         },
         Untouched, Untouched},
        {"no server script", remove("/server/server.mjs"), Untouched, Ran},
        {"no worker script", remove("/voice-worker/src/server.mjs"), Ran, Untouched},
        // The bundle's runtime/node starts the machine's node: none on the (absent) PATH nor at
        // the system's place. The worker's failures are silent, so it is started all the same.
        {"a runtime that finds no node", [](Services& s) { s.launcher.handsOverToNode(s.runtime, s.root / "nowhere/node"); },
         RanToSayWhy, Ran},
        // Executable but no program the system can run: the launch itself fails, after the log step.
        {"a runtime the system cannot run", [](Services& s) { writeFile(s.runtime, "not a program\n", 0755); }, Failed,
         Failed},
        {"folders in the logs' places", logsAs([](const std::string& log) { fs::create_directory(log); }),
         RanWithoutLog, RanWithoutLog},
        // A pipe nobody reads must fail at once, not hold the main thread.
        {"pipes in the logs' places", logsAs([](const std::string& log) { ::mkfifo(log.c_str(), 0600); }),
         RanWithoutLog, RanWithoutLog},
    };
    const std::string previousLog = "the previous run's log, longer than anything this run writes into it\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Services s;
        writeFile(s.serverLog, previousLog);
        writeFile(s.workerLog, previousLog);
        c.arrange(s);
        s.delegate->applicationDidFinishLaunching();
        // The server's failures show the launch-error page after the loading page; the worker's are silent.
        EXPECT_EQ(s.fake.application.webView->loads.size(), c.server == Ran || c.server == RanWithoutLog ? 1u : 2u);
        const struct {
            Outcome outcome;
            std::string log, folder, script, cwd;
            Environment environment;
            std::shared_ptr<ChildProcess> process;
            std::shared_ptr<FileHandle> handle;
        } services[] = {
            {c.server, s.serverLog, s.data + "/gateway", s.server, s.resources,
             {{"NODE_ENV", "production"}, {"PORT", "3001"}, {"HOST", "127.0.0.1"},
              {"LORVANE_API_URL", "http://127.0.0.1:5055"}, {"LORVANE_VOICE_API_URL", "http://127.0.0.1:6061"},
              {"LORVANE_GATEWAY_STATE_DIR", s.data + "/gateway"},
              {"LORVANE_VOICE_PUBLIC_URL", "https://phone.tail9.ts.net/"}},
             s.state().serverProcess, s.state().serverLogHandle},
            {c.worker, s.workerLog, s.data + "/voice", s.worker, s.resources + "/voice-worker",
             {{"NODE_ENV", "production"}, {"PORT", "8080"}, {"LORVANE_VOICE_PORT", "6061"},
              {"LORVANE_VOICE_DATA_DIR", s.data + "/voice"}},
             s.state().voiceProcess, s.state().voiceLogHandle},
        };
        for (const auto& service : services) {
            SCOPED_TRACE(service.log);
            EXPECT_EQ(service.process != nullptr, service.outcome >= Ran);
            EXPECT_EQ(fs::is_directory(service.folder), service.outcome != Untouched);
            EXPECT_EQ(service.handle != nullptr, service.outcome != Untouched && service.outcome != RanWithoutLog);
            if (service.outcome < Ran) {
                EXPECT_EQ(readFile(service.log), service.outcome == Untouched ? previousLog : "");
            }
            if (service.outcome != Ran && service.outcome != RanToSayWhy) continue;
            EXPECT_TRUE(eventually([&] { return readFile(service.log) == "out\nerr\n"; })) << readFile(service.log);
            const Seen process = seen(service.process->pid());  // it has written: it runs the runtime
            EXPECT_EQ(process.argv, (std::vector<std::string>{"/bin/sh", s.runtime, service.script}));
            EXPECT_EQ(process.cwd, service.cwd);
            EXPECT_EQ(process.environment, service.environment);
        }
    }
}

TEST(Services, TheLauncherScriptIsTheFirstExecutableCandidateAndStartsInItsFolderAsTheShellWasStarted) {
    Services s;
    const std::string candidates[] = {s.root / "workspace/start-lorvane.sh", s.data + "/backend/start-lorvane.sh",
                                      s.root / "home/Quendrel/lorvane/start-lorvane.sh",
                                      s.root / "home/lorvane/start-lorvane.sh"};
    const auto found = [&](const std::string& workspace) {
        s.fake.environment.variables["LORVANE_WORKSPACE"] = workspace;
        return AppDelegateTestAccess::backendLauncherPath(*s.delegate);
    };
    for (const auto& candidate : candidates) writeFile(candidate, kService, 0644);
    EXPECT_EQ(found(s.root / "workspace"), std::nullopt) << "none is executable";
    // Made executable from the last to the first, each one is found before those after it.
    for (auto candidate = std::rbegin(candidates); candidate != std::rend(candidates); ++candidate) {
        ::chmod(candidate->c_str(), 0755);
        EXPECT_EQ(found(s.root / "workspace"), *candidate);
    }
    // Taken as written: stray spaces name another folder, and an empty value none.
    EXPECT_EQ(found(s.root / "workspace "), candidates[1]);
    EXPECT_EQ(found(""), candidates[1]);
    // Relative to the shell's current folder, and found as the absolute path the script can be
    // started by from its own folder.
    const fs::path before = fs::current_path();
    fs::current_path(s.root.path);
    EXPECT_EQ(found("workspace"), candidates[0]);
    fs::current_path(before);
    EXPECT_EQ(found(s.root / "workspace"), candidates[0]);

    // It inherits the shell's own environment, not the one the services get, and is none of the
    // services: it leads a session of its own, which the desktop suite sees outlive the app.
    AppDelegateTestAccess::startLocalBackendIfAvailable(*s.delegate);
    ASSERT_TRUE(eventually([&] { return pidIn(candidates[0] + ".pid") > 0; }));
    const Seen script = seen(pidIn(candidates[0] + ".pid"));
    ::kill(-pidIn(candidates[0] + ".pid"), SIGKILL);
    EXPECT_EQ(script.argv, (std::vector<std::string>{"/bin/sh", candidates[0]}));
    EXPECT_EQ(script.cwd, s.root / "workspace");
    EXPECT_EQ(script.descriptors.at("1"), "/dev/null");
    EXPECT_EQ(script.environment, PosixEnvironment().snapshot());
}

}  // namespace
}  // namespace lorvane
