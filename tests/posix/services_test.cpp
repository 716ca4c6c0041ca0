// The server and the voice worker started for real: arguments, folders, environments and logs.
#include <gtest/gtest.h>

#include <map>

#include "real_services.h"

namespace lorvane::testing {
namespace {

std::map<std::string, std::string> readEnvironment(const fs::path& path) {
    std::map<std::string, std::string> env;
    std::istringstream lines(readFile(path));
    for (std::string line; std::getline(lines, line);) {
        auto eq = line.find('=');
        if (eq != std::string::npos) env[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return env;
}

class Services : public ::testing::Test {
protected:
    void startBoth() {
        AppDelegate& d = s.makeDelegate();
        s.giveWebView();
        AppDelegateTestAccess::startBundledVoiceWorker(d);
        AppDelegateTestAccess::startBundledServer(d);
        s.remember(s.state().voiceProcess);
        s.remember(s.state().serverProcess);
    }
    bool recorded(const char* name) {
        return eventually([&] { return fs::exists(s.records / (std::string(name) + ".args")); });
    }
    RealServices s;
};

TEST_F(Services, ServerAndWorkerGetTheirArgumentsFoldersAndEnvironments) {
    s.installBundle();
    s.fake.environment.variables["PORT"] = "8080";
    s.fake.environment.variables["HOST"] = "0.0.0.0";
    s.fake.environment.variables["LANG"] = "ru_RU.UTF-8";
    writeFile(s.root / "data/Lorvane/voice-phone-public-url", "https://phone.tail9.ts.net/\n");
    startBoth();
    ASSERT_TRUE(recorded("server") && recorded("worker"));

    const std::string res = s.resources.string();
    EXPECT_EQ(readFile(s.records / "server.args"), "argc=1\narg=" + res + "/server/server.mjs\ncwd=" + res + "\n");
    EXPECT_EQ(readFile(s.records / "worker.args"),
              "argc=1\narg=" + res + "/voice-worker/src/server.mjs\ncwd=" + res + "/voice-worker\n");

    const std::string data = (s.root / "data/Lorvane").string();
    const std::string records = s.records.string();
    EXPECT_EQ(readEnvironment(s.records / "server.env"),
              (std::map<std::string, std::string>{{"PATH", "/usr/bin:/bin"},
                                                  {"LORVANE_TEST_RECORDS", records},
                                                  {"LANG", "ru_RU.UTF-8"},
                                                  {"NODE_ENV", "production"},
                                                  {"PORT", "3001"},
                                                  {"HOST", "127.0.0.1"},
                                                  {"LORVANE_API_URL", "http://127.0.0.1:5055"},
                                                  {"LORVANE_VOICE_API_URL", "http://127.0.0.1:6061"},
                                                  {"LORVANE_GATEWAY_STATE_DIR", data + "/gateway"},
                                                  {"LORVANE_VOICE_PUBLIC_URL", "https://phone.tail9.ts.net/"}}));
    EXPECT_EQ(readEnvironment(s.records / "worker.env"),
              (std::map<std::string, std::string>{{"PATH", "/usr/bin:/bin"},
                                                  {"LORVANE_TEST_RECORDS", records},
                                                  {"LANG", "ru_RU.UTF-8"},
                                                  {"PORT", "8080"},
                                                  {"HOST", "0.0.0.0"},
                                                  {"NODE_ENV", "production"},
                                                  {"LORVANE_VOICE_PORT", "6061"},
                                                  {"LORVANE_VOICE_DATA_DIR", data + "/voice"}}));
    EXPECT_TRUE(fs::is_directory(data + "/gateway"));
    EXPECT_TRUE(fs::is_directory(data + "/voice"));
    EXPECT_FALSE(s.errorPageShown());
}

TEST_F(Services, InvalidPublicUrlFileLeavesAnInheritedValueAlone) {
    s.installBundle();
    s.fake.environment.variables["LORVANE_VOICE_PUBLIC_URL"] = "https://mine.ts.net";
    writeFile(s.root / "data/Lorvane/voice-phone-public-url", std::string("https://phone.ts.net/\xff\n"));
    startBoth();
    ASSERT_TRUE(recorded("server"));
    EXPECT_EQ(readEnvironment(s.records / "server.env").at("LORVANE_VOICE_PUBLIC_URL"), "https://mine.ts.net");
}

TEST_F(Services, BothStreamsLandInTheirOwnEmptiedLogs) {
    s.installBundle();
    writeFile(s.serverLog(), "last run's server output, much longer than this run's\n");
    writeFile(s.workerLog(), "last run's worker output, much longer than this run's\n");
    startBoth();
    auto holds = [](const fs::path& log, const std::string& text) {
        return eventually([&] { return readFile(log) == text; });
    };
    // Line order between the two streams is the child's; both lines in one file is what matters.
    EXPECT_TRUE(holds(s.serverLog(), "server stdout\nserver stderr\n"));
    EXPECT_TRUE(holds(s.workerLog(), "worker stdout\nworker stderr\n"));
}

TEST_F(Services, MissingLogFoldersAreCreatedAndOldTextIsGoneEvenIfTheChildWritesNothing) {
    writeFile(s.resources / "runtime/node", "#!/bin/sh\nexec sleep 5\n", true);
    writeFile(s.resources / "server/server.mjs", "");
    ASSERT_FALSE(fs::exists(s.root / "state"));
    AppDelegate& d = s.makeDelegate();
    s.giveWebView();
    AppDelegateTestAccess::startBundledServer(d);
    s.remember(s.state().serverProcess);
    EXPECT_TRUE(fs::is_regular_file(s.serverLog()));
    EXPECT_EQ(fs::file_size(s.serverLog()), 0u);
    ASSERT_TRUE(s.state().serverLogHandle);

    // A second start in another run empties a log with old text, even if the child stays silent.
    writeFile(s.serverLog(), "old text\n");
    RealServices other;
    other.fake.places = s.fake.places;
    AppDelegate& d2 = other.makeDelegate();
    other.giveWebView();
    AppDelegateTestAccess::startBundledServer(d2);
    other.remember(other.state().serverProcess);
    EXPECT_EQ(readFile(s.serverLog()), "");
}

TEST_F(Services, DirectoryInTheLogsPlaceGivesNoHandleButTheServiceStillStarts) {
    s.installBundle();
    fs::create_directories(s.serverLog());
    startBoth();
    EXPECT_FALSE(s.state().serverLogHandle);
    ASSERT_TRUE(s.state().serverProcess);
    EXPECT_TRUE(recorded("server"));
    EXPECT_FALSE(s.errorPageShown());
}

struct BrokenBundle {
    const char* name;
    std::function<void(RealServices&)> arrange;
};

class BrokenServerBundle : public ::testing::TestWithParam<BrokenBundle> {};

TEST_P(BrokenServerBundle, ShowsTheErrorPageBeforeTouchingLogOrFolders) {
    RealServices s;
    s.installBundle();
    writeFile(s.serverLog(), "previous run\n");
    writeFile(s.workerLog(), "previous worker run\n");
    GetParam().arrange(s);
    AppDelegate& d = s.makeDelegate();
    s.giveWebView();
    AppDelegateTestAccess::startBundledServer(d);
    AppDelegateTestAccess::startBundledVoiceWorker(d);

    EXPECT_TRUE(s.errorPageShown());
    EXPECT_EQ(readFile(s.serverLog()), "previous run\n");
    EXPECT_FALSE(s.state().serverProcess || s.state().serverLogHandle);
    EXPECT_FALSE(fs::exists(s.root / "data/Lorvane/gateway"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BrokenServerBundle,
    ::testing::Values(
        BrokenBundle{"no_resource_directory", [](RealServices& s) { s.fake.places.resources = std::nullopt; }},
        BrokenBundle{"runtime_missing", [](RealServices& s) { fs::remove(s.resources / "runtime/node"); }},
        BrokenBundle{"runtime_not_executable",
                     [](RealServices& s) { ::chmod((s.resources / "runtime/node").c_str(), 0644); }},
        BrokenBundle{"runtime_is_a_directory",
                     [](RealServices& s) {
                         fs::remove(s.resources / "runtime/node");
                         fs::create_directories(s.resources / "runtime/node");
                     }},
        BrokenBundle{"script_missing", [](RealServices& s) { fs::remove(s.resources / "server/server.mjs"); }}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(BrokenWorkerBundle, IsSilentAndLeavesLogAndFoldersUntouched) {
    RealServices s;
    s.installBundle(true, false);
    writeFile(s.workerLog(), "previous worker run\n");
    AppDelegate& d = s.makeDelegate();
    s.giveWebView();
    AppDelegateTestAccess::startBundledVoiceWorker(d);
    EXPECT_FALSE(s.errorPageShown());
    EXPECT_EQ(readFile(s.workerLog()), "previous worker run\n");
    EXPECT_FALSE(s.state().voiceProcess || s.state().voiceLogHandle);
    EXPECT_FALSE(fs::exists(s.root / "data/Lorvane/voice"));
}

TEST(FailedLaunch, AfterTheLogStepLeavesAnEmptyLogAnOpenHandleAndTheFolders) {
    RealServices s;
    s.installBundle();
    // Executable but not a program the system can run: the launch itself fails.
    writeFile(s.resources / "runtime/node", "not a program\n", true);
    writeFile(s.serverLog(), "previous run\n");
    writeFile(s.workerLog(), "previous worker run\n");
    AppDelegate& d = s.makeDelegate();
    s.giveWebView();
    AppDelegateTestAccess::startBundledVoiceWorker(d);
    EXPECT_FALSE(s.errorPageShown());  // the worker fails silently
    AppDelegateTestAccess::startBundledServer(d);
    EXPECT_TRUE(s.errorPageShown());

    EXPECT_FALSE(s.state().serverProcess || s.state().voiceProcess);
    ASSERT_TRUE(s.state().serverLogHandle && s.state().voiceLogHandle);
    EXPECT_GE(s.state().serverLogHandle->descriptor(), 0);
    EXPECT_EQ(readFile(s.serverLog()), "");
    EXPECT_EQ(readFile(s.workerLog()), "");
    EXPECT_TRUE(fs::is_directory(s.root / "data/Lorvane/gateway"));
    EXPECT_TRUE(fs::is_directory(s.root / "data/Lorvane/voice"));
}

}  // namespace
}  // namespace lorvane::testing
