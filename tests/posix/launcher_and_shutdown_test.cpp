// The developer's launcher script found and started for real, and the real shutdown pass.
#include <gtest/gtest.h>

#include "real_services.h"

namespace lorvane::testing {
namespace {

// Records that it ran, where and how, then stays up like a backend would.
const char* kLauncherScript = R"SH(#!/bin/sh
out=$(readlink /proc/$$/fd/1); err=$(readlink /proc/$$/fd/2)
{ echo "argc=$#"; echo "cwd=$(pwd -P)"; echo "out=$out"; echo "err=$err"; } > "$LORVANE_TEST_RECORDS/launcher.$$.tmp"
mv "$LORVANE_TEST_RECORDS/launcher.$$.tmp" "$LORVANE_TEST_RECORDS/launcher.$$"
echo "launcher noise"; echo "launcher noise" >&2
exec sleep 30
)SH";

enum Place { Workspace, Backend, Quendrel, HomeLorvane };

struct SearchCase {
    const char* name;
    std::optional<std::string> workspace;  // relative to the temp root; "" for set-but-empty
    std::vector<Place> executable;
    std::vector<Place> notExecutable;
    std::optional<Place> found;
    bool relative = false;  // the workspace given relative to the shell's current folder, the temp root
};

fs::path placeOf(RealServices& s, Place p) {
    switch (p) {
        case Workspace: return s.root / "workspace/start-lorvane.sh";
        case Backend: return s.root / "data/Lorvane/backend/start-lorvane.sh";
        case Quendrel: return s.root / "home/Quendrel/lorvane/start-lorvane.sh";
        case HomeLorvane: return s.root / "home/lorvane/start-lorvane.sh";
    }
    return {};
}

class LauncherSearch : public ::testing::TestWithParam<SearchCase> {};

TEST_P(LauncherSearch, FindsTheFirstExecutableCandidate) {
    RealServices s;
    const auto& c = GetParam();
    if (c.workspace) {
        s.fake.environment.variables["LORVANE_WORKSPACE"] =
            c.workspace->empty() || c.relative ? *c.workspace
                                               : (s.root / *c.workspace).string() + (c.name == std::string("padded") ? " " : "");
    }
    const fs::path before = fs::current_path();
    if (c.relative) fs::current_path(s.root);
    for (Place p : c.executable) writeFile(placeOf(s, p), kLauncherScript, true);
    for (Place p : c.notExecutable) writeFile(placeOf(s, p), kLauncherScript, false);
    AppDelegate& d = s.makeDelegate();
    auto found = AppDelegateTestAccess::backendLauncherPath(d);
    fs::current_path(before);
    if (c.found) {
        EXPECT_EQ(found, placeOf(s, *c.found).string());
    } else {
        EXPECT_EQ(found, std::nullopt);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Order, LauncherSearch,
    ::testing::Values(
        SearchCase{"none", std::nullopt, {}, {}, std::nullopt},
        SearchCase{"workspace_first", "workspace", {Workspace, Backend, Quendrel, HomeLorvane}, {}, Workspace},
        SearchCase{"backend_second", "workspace", {Backend, Quendrel, HomeLorvane}, {}, Backend},
        SearchCase{"quendrel_third", std::nullopt, {Quendrel, HomeLorvane}, {}, Quendrel},
        SearchCase{"home_last", std::nullopt, {HomeLorvane}, {}, HomeLorvane},
        SearchCase{"empty_workspace_skipped", "", {HomeLorvane}, {}, HomeLorvane},
        SearchCase{"padded", "workspace", {Workspace, HomeLorvane}, {}, HomeLorvane},
        // Found as the absolute path the script can be started by from its own folder.
        SearchCase{"relative_workspace", "workspace", {Workspace}, {}, Workspace, true},
        SearchCase{"not_executable_passed_over", "workspace", {Quendrel}, {Workspace, Backend}, Quendrel},
        SearchCase{"only_non_executable", "workspace", {}, {Workspace, Backend, Quendrel, HomeLorvane}, std::nullopt}),
    [](const auto& row) { return std::string(row.param.name); });

std::vector<fs::path> launcherRecords(const RealServices& s) {
    std::vector<fs::path> out;
    for (const auto& entry : fs::directory_iterator(s.records)) {
        const auto name = entry.path().filename().string();
        if (name.rfind("launcher.", 0) == 0 && name.find(".tmp") == std::string::npos) out.push_back(entry.path());
    }
    return out;
}

TEST(LauncherStart, OnlyTheFirstRunsInItsOwnFolderWithoutArgumentsOutputDiscardedAndSurvivesQuit) {
    RealServices s;
    s.installBundle();
    s.fake.environment.variables["LORVANE_WORKSPACE"] = (s.root / "workspace").string();
    writeFile(placeOf(s, Workspace), kLauncherScript, true);
    writeFile(placeOf(s, HomeLorvane), kLauncherScript, true);
    // The launcher inherits the shell's real environment, not the one the services are given.
    ::setenv("LORVANE_TEST_RECORDS", s.records.c_str(), 1);

    AppDelegate& d = s.makeDelegate();
    d.applicationDidFinishLaunching();
    s.remember(s.state().serverProcess);
    s.remember(s.state().voiceProcess);
    ASSERT_TRUE(eventually([&] { return launcherRecords(s).size() == 1; }));
    const fs::path record = launcherRecords(s).front();
    const int pid = std::stoi(record.extension().string().substr(1));
    EXPECT_EQ(readFile(record), "argc=0\ncwd=" + (s.root / "workspace").string() + "\nout=/dev/null\nerr=/dev/null\n");
    // The server and the worker start as well.
    EXPECT_TRUE(eventually([&] { return fs::exists(s.records / "server.args") && fs::exists(s.records / "worker.args"); }));

    d.applicationWillTerminate();
    EXPECT_TRUE(eventually([&] { return fs::exists(s.records / "server.signals"); }));
    EXPECT_EQ(::kill(pid, 0), 0) << "the launcher's process is left running at quit";
    ::kill(pid, SIGKILL);
    EXPECT_EQ(launcherRecords(s).size(), 1u);
}

TEST(RealShutdown, StopsBothServicesAndClosesBothLogs) {
    RealServices s;
    s.installBundle();
    AppDelegate& d = s.makeDelegate();
    d.applicationDidFinishLaunching();
    auto server = s.state().serverProcess;
    auto worker = s.state().voiceProcess;
    s.remember(server);
    s.remember(worker);
    ASSERT_TRUE(server && worker);
    ASSERT_TRUE(eventually([&] { return fs::exists(s.records / "server.args") && fs::exists(s.records / "worker.args"); }));

    d.applicationWillTerminate();
    EXPECT_TRUE(eventually([&] { return !server->isRunning() && !worker->isRunning(); }));
    EXPECT_EQ(readFile(s.records / "server.signals"), "term\n");
    EXPECT_EQ(readFile(s.records / "worker.signals"), "term\n");
    EXPECT_EQ(s.state().serverLogHandle->descriptor(), -1);
    EXPECT_EQ(s.state().voiceLogHandle->descriptor(), -1);
    EXPECT_FALSE(s.state().readinessTimer->isValid());
    // A second pass, as a second quit request would make, sends nothing to the exited children.
    d.applicationWillTerminate();
    EXPECT_EQ(readFile(s.records / "server.signals"), "term\n");
}

TEST(RealShutdown, ServerThatAlreadyExitedIsSkipped) {
    RealServices s;
    s.installBundle();
    AppDelegate& d = s.makeDelegate();
    d.applicationDidFinishLaunching();
    auto server = s.state().serverProcess;
    s.remember(server);
    s.remember(s.state().voiceProcess);
    ASSERT_TRUE(eventually([&] { return fs::exists(s.records / "server.args"); }));
    ::kill(server->pid(), SIGKILL);
    ASSERT_TRUE(eventually([&] { return !server->isRunning(); }));

    d.applicationWillTerminate();
    EXPECT_TRUE(eventually([&] { return fs::exists(s.records / "worker.signals"); }));
    EXPECT_FALSE(fs::exists(s.records / "server.signals"));
}

}  // namespace
}  // namespace lorvane::testing
