// The services and the launcher script started by the real delegate through the real launcher and
// file system, in a private temporary tree (the rest of the platform is fake): what each child is
// handed, the logs and data folders for every way the bundle can be broken, the launcher search.
#include <fcntl.h>
#include <sys/stat.h>

#include <functional>

#include <gtest/gtest.h>

#include "../unit/delegate_access.h"
#include "fake_platform.h"
#include "platform/posix/posix_platform.h"
#include "posix_test_support.h"

namespace lorvane {
namespace {

using namespace posix_test;

// Stands in for runtime/node and for the launcher script: notes its pid beside the script it was
// given (or itself), writes one line to each stream and waits.
const char* kService = "#!/bin/sh\necho $$ > \"${1:-$0}.pid\"\necho out\necho err >&2\nsleep 600\n";

struct Services {
    Services() {
        fake.places.resources = resources;
        fake.places.logs = root / "state";
        fake.places.support = root / "data";
        fake.places.homeFolder = root / "home";
        writeFile(runtime, kService, 0755);
        writeFile(resources + "/server/server.mjs", "");
        writeFile(resources + "/voice-worker/src/server.mjs", "");
    }
    ~Services() { delegate->applicationWillTerminate(); }
    AppDelegate::State& state() { return AppDelegateTestAccess::state(*delegate); }

    TempDir root;
    const std::string resources = root / "share/lorvane";
    const std::string runtime = resources + "/runtime/node";
    const std::string serverLog = root / "state/Lorvane/server.log";
    const std::string workerLog = root / "state/Lorvane/voice-worker.log";
    fake::FakePlatform fake;
    LinuxProcessLauncher launcher;
    PosixFileSystem files;
    Platform platform{fake.queue, fake.clock, fake.http, launcher, files, fake.places, fake.environment, fake.application};
    std::shared_ptr<AppDelegate> delegate = std::make_shared<AppDelegate>(platform, testUpdateEndpoints());
};

TEST(Services, EachChildGetsItsArgumentsFolderOutputAndEnvironmentAndOnlyTheServicesEndAtQuit) {
    Services s;
    const std::string workspace = s.root / "workspace";
    const std::string data = s.root / "data/Lorvane";
    const Environment given{{"PATH", "/usr/bin:/bin"}, {"PORT", "8080"}, {"HOST", "0.0.0.0"}, {"LORVANE_WORKSPACE", workspace}};
    s.fake.environment.variables = given;
    writeFile(data + "/voice-phone-public-url", "https://phone.tail9.ts.net/\n");
    const std::string script = writeFile(workspace + "/start-lorvane.sh", kService, 0755);
    // Started from a desktop session, the shell may have no standard input: a log must not take its number.
    const int input = ::dup(STDIN_FILENO);
    ::close(STDIN_FILENO);
    s.delegate->applicationDidFinishLaunching();
    ::dup2(input, STDIN_FILENO);
    ::close(input);
    EXPECT_GE(s.state().voiceLogHandle->descriptor(), 3);  // the first file opened

    const auto with = [&](Environment own) {
        own.insert(given.begin(), given.end());
        return own;
    };
    const std::string server = s.resources + "/server/server.mjs";
    const std::string worker = s.resources + "/voice-worker/src/server.mjs";
    const struct {
        std::vector<std::string> argv;  // as the kernel rewrites it for a script: its interpreter first
        std::string cwd;
        std::string output;
        Environment environment;
    } children[] = {
        {{"/bin/sh", s.runtime, server}, s.resources, s.serverLog,
         with({{"NODE_ENV", "production"}, {"PORT", "3001"}, {"HOST", "127.0.0.1"},
               {"LORVANE_API_URL", "http://127.0.0.1:5055"}, {"LORVANE_VOICE_API_URL", "http://127.0.0.1:6061"},
               {"LORVANE_GATEWAY_STATE_DIR", data + "/gateway"}, {"LORVANE_VOICE_PUBLIC_URL", "https://phone.tail9.ts.net/"}})},
        {{"/bin/sh", s.runtime, worker}, s.resources + "/voice-worker", s.workerLog,
         with({{"NODE_ENV", "production"}, {"LORVANE_VOICE_PORT", "6061"}, {"LORVANE_VOICE_DATA_DIR", data + "/voice"}})},
        // The launcher script inherits the shell's own environment, not the one the services get.
        {{"/bin/sh", script}, workspace, "/dev/null", PosixEnvironment().snapshot()},
    };
    for (const auto& child : children) {
        SCOPED_TRACE(child.argv.back());
        ASSERT_TRUE(eventually([&] { return pidIn(child.argv.back() + ".pid") > 0; }));
        const Seen process = seen(pidIn(child.argv.back() + ".pid"));
        EXPECT_EQ(process.argv, child.argv);
        EXPECT_EQ(process.cwd, child.cwd);
        EXPECT_EQ(process.descriptors.at("1"), child.output);
        EXPECT_EQ(process.environment, child.environment);
    }

    const int serverLog = s.state().serverLogHandle->descriptor();
    s.delegate->applicationWillTerminate();
    // The services end with all they started; the launcher script is none of them.
    EXPECT_TRUE(eventually([&] { return s.launcher.servicesEnded(); }));
    EXPECT_EQ(::fcntl(serverLog, F_GETFD), -1) << "the server log is still open";
    // A second quit request runs the pass again: it must not close what took the log's number since.
    const int reused = ::open("/dev/null", O_RDONLY);
    s.delegate->applicationWillTerminate();
    EXPECT_NE(::fcntl(reused, F_GETFD), -1);
    ::close(reused);
    const pid_t launcher = pidIn(script + ".pid");
    EXPECT_TRUE(alive(launcher)) << "the launcher script was stopped at quit";
    ::kill(-launcher, SIGKILL);  // it leads a session of its own
}

// What a service left of its log and data folder: as it was; emptied and opened with no process
// started; or running, with the log (where it could be had) holding this run's lines alone.
enum class Outcome { Untouched, Failed, Ran, RanWithoutLog };
const std::string kPreviousLog = "the previous run's log, longer than anything this run writes into it\n";

TEST(Services, LogsAndDataFoldersForEveryWayTheBundleCanBeBroken) {
    const auto remove = [](const char* part) { return [part](Services& s) { fs::remove_all(s.resources + part); }; };
    const auto logsAs = [](auto make) {
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
        Outcome server;
        Outcome worker;
    } cases[] = {
        {"a complete bundle", [](Services&) {}, Outcome::Ran, Outcome::Ran},
        {"no log folder yet", [](Services& s) { fs::remove_all(s.root / "state"); }, Outcome::Ran, Outcome::Ran},
        {"no resource folder", [](Services& s) { s.fake.places.resources = std::nullopt; }, Outcome::Untouched,
         Outcome::Untouched},
        {"no runtime", remove("/runtime/node"), Outcome::Untouched, Outcome::Untouched},
        {"a runtime without execute permission", [](Services& s) { ::chmod(s.runtime.c_str(), 0644); },
         Outcome::Untouched, Outcome::Untouched},
        {"a folder as the runtime",
         [](Services& s) {
             fs::remove(s.runtime);
             fs::create_directory(s.runtime);
         },
         Outcome::Untouched, Outcome::Untouched},
        {"no server script", remove("/server/server.mjs"), Outcome::Untouched, Outcome::Ran},
        {"no worker script", remove("/voice-worker/src/server.mjs"), Outcome::Ran, Outcome::Untouched},
        // Executable but no program the system can run: the launch itself fails, after the log step.
        {"a runtime the system cannot run", [](Services& s) { writeFile(s.runtime, "not a program\n", 0755); },
         Outcome::Failed, Outcome::Failed},
        {"folders in the logs' places", logsAs([](const std::string& log) { fs::create_directory(log); }),
         Outcome::RanWithoutLog, Outcome::RanWithoutLog},
        // A pipe nobody reads must fail at once, not hold the main thread.
        {"pipes in the logs' places", logsAs([](const std::string& log) { ::mkfifo(log.c_str(), 0600); }),
         Outcome::RanWithoutLog, Outcome::RanWithoutLog},
    };
    const mode_t umask = ::umask(022);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Services s;
        writeFile(s.serverLog, kPreviousLog);
        writeFile(s.workerLog, kPreviousLog);
        c.arrange(s);
        s.delegate->applicationDidFinishLaunching();
        const auto ran = [](Outcome o) { return o == Outcome::Ran || o == Outcome::RanWithoutLog; };
        // The server's failures show the launch-error page after the loading page; the worker's are silent.
        EXPECT_EQ(s.fake.application.webView->loads.size(), ran(c.server) ? 1u : 2u);
        const struct {
            Outcome outcome;
            std::string log;
            std::string folder;
            std::shared_ptr<ChildProcess> process;
            std::shared_ptr<FileHandle> handle;
        } services[] = {
            {c.server, s.serverLog, s.root / "data/Lorvane/gateway", s.state().serverProcess, s.state().serverLogHandle},
            {c.worker, s.workerLog, s.root / "data/Lorvane/voice", s.state().voiceProcess, s.state().voiceLogHandle},
        };
        for (const auto& [outcome, log, folder, process, handle] : services) {
            SCOPED_TRACE(log);
            EXPECT_EQ(process != nullptr, ran(outcome));
            EXPECT_EQ(fs::is_directory(folder), outcome != Outcome::Untouched);
            EXPECT_EQ(handle != nullptr, outcome == Outcome::Failed || outcome == Outcome::Ran);
            if (!ran(outcome)) {
                EXPECT_EQ(readFile(log), outcome == Outcome::Untouched ? kPreviousLog : "");
            }
            if (outcome != Outcome::Ran) continue;
            EXPECT_TRUE(eventually([&] { return readFile(log) == "out\nerr\n"; })) << readFile(log);
            EXPECT_EQ(fs::status(log).permissions(), fs::perms(0644));
            // Close-on-exec: the processes WebKit starts must not hold the log open.
            EXPECT_TRUE(::fcntl(handle->descriptor(), F_GETFD) & FD_CLOEXEC);
        }
    }
    ::umask(umask);
}

TEST(Services, TheLauncherScriptIsTheFirstExecutableCandidate) {
    Services s;
    const std::string candidates[] = {s.root / "workspace/start-lorvane.sh", s.root / "data/Lorvane/backend/start-lorvane.sh",
                                      s.root / "home/Quendrel/lorvane/start-lorvane.sh", s.root / "home/lorvane/start-lorvane.sh"};
    const auto found = [&](const std::string& workspace) {
        s.fake.environment.variables["LORVANE_WORKSPACE"] = workspace;
        return AppDelegateTestAccess::backendLauncherPath(*s.delegate);
    };
    for (const auto& candidate : candidates) writeFile(candidate, "", 0644);
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
}

}  // namespace
}  // namespace lorvane
