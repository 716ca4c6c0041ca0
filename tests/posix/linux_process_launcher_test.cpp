// What a launched child receives: argv, working directory, environment, streams, descriptors and
// signal state; and launch failures reported as values.
#include <algorithm>
#include <csignal>
#include <set>
#include <sstream>
#include <vector>

#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/posix/posix_platform.h"
#include "posix_test_support.h"

namespace lorvane {
namespace {

using posix_test::TempDir;

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) parts.push_back(part);
    return parts;
}

// `sh -c <command> sh <arguments...>`: the command sees the arguments as $1, $2, ... It ends in
// "exit" so that dash does not exec the last command in place of itself, which would change what
// /proc/$$ shows.
LaunchSpec shellCommand(const std::string& command, std::vector<std::string> arguments) {
    LaunchSpec spec;
    spec.executable = "/bin/sh";
    spec.arguments = {"-c", command + "\nexit 0", "sh"};
    spec.arguments.insert(spec.arguments.end(), arguments.begin(), arguments.end());
    return spec;
}

// Launches and waits until the child has exited (and been reaped).
void runToExit(const LaunchSpec& spec, ShellOnlyVariables shellOnlyVariables = {}) {
    LinuxProcessLauncher launcher(std::move(shellOnlyVariables));
    auto child = launcher.launch(spec);
    ASSERT_TRUE(child.ok()) << child.reason();
    ASSERT_TRUE(posix_test::eventually([&] { return !child.value()->isRunning(); }));
}

std::string trimmed(std::string text) {
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

TEST(PosixLaunchTest, PassesArgvDirectlyWithTheExecutableAsArgvZero) {
    TempDir dir;
    const std::string out = dir / "cmdline";
    LaunchSpec spec = shellCommand("/bin/cat /proc/$$/cmdline > \"$1\"", {out, "two words", "", "$HOME;*"});
    runToExit(spec);

    std::vector<std::string> expected{spec.executable};
    expected.insert(expected.end(), spec.arguments.begin(), spec.arguments.end());
    EXPECT_EQ(split(posix_test::readFile(out), '\0'), expected);
}

TEST(PosixLaunchTest, RunsInTheGivenWorkingDirectoryOrTheShellsOwn) {
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "sub dir");
    const struct {
        std::string given;
        std::filesystem::path expected;
    } cases[] = {
        {"", std::filesystem::canonical(std::filesystem::current_path())},
        {dir / "sub dir", dir.path() / "sub dir"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("working directory '" + c.given + "'");
        LaunchSpec spec = shellCommand("pwd -P > \"$1\"", {dir / "pwd"});
        spec.workingDirectory = c.given;
        runToExit(spec);
        EXPECT_EQ(trimmed(posix_test::readFile(dir / "pwd")), c.expected.string());
    }
}

// The environment the child was started with, as the kernel recorded it at exec.
Environment environmentOfChild(std::optional<Environment> given, ShellOnlyVariables shellOnlyVariables = {}) {
    TempDir dir;
    LaunchSpec spec = shellCommand("/bin/cat /proc/$$/environ > \"$1\"", {dir / "environ"});
    spec.environment = std::move(given);
    runToExit(spec, std::move(shellOnlyVariables));
    Environment seen;
    for (const auto& entry : split(posix_test::readFile(dir / "environ"), '\0')) {
        auto separator = entry.find('=');
        seen.emplace(entry.substr(0, separator), entry.substr(separator + 1));
    }
    return seen;
}

TEST(PosixLaunchTest, GivenEnvironmentIsExactlyTheChildsEnvironment) {
    const Environment cases[] = {
        {},
        {{"ONE", "1"}, {"EMPTY", ""}, {"EQUALS", "a=b"}, {"NEWLINE", "a\nb"}, {"SPACE", " x "}},
    };
    for (const auto& given : cases) {
        SCOPED_TRACE(given.size());
        EXPECT_EQ(environmentOfChild(given), given);
    }
}

TEST(PosixLaunchTest, AbsentEnvironmentInheritsTheShellsEnvironment) {
    ::setenv("LORVANE_POSIX_TEST_MARK", "inherited value", 1);
    Environment seen = environmentOfChild(std::nullopt);
    Environment expected = PosixEnvironment().snapshot();
    ::unsetenv("LORVANE_POSIX_TEST_MARK");
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(seen["LORVANE_POSIX_TEST_MARK"], "inherited value");
}

// A renderer choice the shell made for itself stays with the shell, inherited or snapshotted: a
// variable it set is not passed on, one it changed is passed on as it was (also when it was empty);
// a given environment is passed as given, whatever it holds.
TEST(PosixLaunchTest, VariablesTheShellKeptToItselfArePassedOnAsTheShellWasStartedWithThem) {
    ::setenv("LORVANE_POSIX_TEST_OWN", "the shell's", 1);
    ::setenv("LORVANE_POSIX_TEST_CHANGED", "the user's,the shell's", 1);
    ::setenv("LORVANE_POSIX_TEST_WAS_EMPTY", "the shell's", 1);
    ::setenv("LORVANE_POSIX_TEST_MARK", "inherited value", 1);
    const ShellOnlyVariables own{{"LORVANE_POSIX_TEST_OWN", std::nullopt},
                                 {"LORVANE_POSIX_TEST_NEVER_SET", std::nullopt},
                                 {"LORVANE_POSIX_TEST_CHANGED", "the user's"},
                                 {"LORVANE_POSIX_TEST_WAS_EMPTY", ""}};
    Environment inherited = environmentOfChild(std::nullopt, own);
    const Environment snapshot = PosixEnvironment(own).snapshot();
    const Environment given{{"LORVANE_POSIX_TEST_OWN", "given"}};
    const Environment passedAsGiven = environmentOfChild(given, own);
    for (const char* name : {"LORVANE_POSIX_TEST_OWN", "LORVANE_POSIX_TEST_CHANGED", "LORVANE_POSIX_TEST_WAS_EMPTY",
                             "LORVANE_POSIX_TEST_MARK"}) {
        ::unsetenv(name);
    }
    EXPECT_EQ(inherited, snapshot);
    EXPECT_EQ(inherited.count("LORVANE_POSIX_TEST_OWN"), 0u);
    EXPECT_EQ(inherited.count("LORVANE_POSIX_TEST_NEVER_SET"), 0u);
    EXPECT_EQ(inherited["LORVANE_POSIX_TEST_CHANGED"], "the user's");
    EXPECT_EQ(inherited.count("LORVANE_POSIX_TEST_WAS_EMPTY"), 1u);
    EXPECT_EQ(inherited["LORVANE_POSIX_TEST_WAS_EMPTY"], "");
    EXPECT_EQ(inherited["LORVANE_POSIX_TEST_MARK"], "inherited value");
    EXPECT_EQ(passedAsGiven, given);
}

TEST(PosixLaunchTest, StandardInputIsInheritedFromTheShell) {
    TempDir dir;
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const int savedInput = ::dup(STDIN_FILENO);  // -1 when the test runs with no stdin at all
    ASSERT_EQ(::dup2(ends[0], STDIN_FILENO), STDIN_FILENO);
    ::close(ends[0]);
    ASSERT_EQ(::write(ends[1], "from the shell\n", 15), 15);
    ::close(ends[1]);

    LinuxProcessLauncher launcher;
    auto child = launcher.launch(shellCommand("/bin/cat > \"$1\"", {dir / "input"}));
    if (savedInput >= 0) {
        ::dup2(savedInput, STDIN_FILENO);
        ::close(savedInput);
    } else {
        ::close(STDIN_FILENO);
    }
    ASSERT_TRUE(child.ok()) << child.reason();
    ASSERT_TRUE(posix_test::eventually([&] { return !child.value()->isRunning(); }));
    EXPECT_EQ(posix_test::readFile(dir / "input"), "from the shell\n");
}

std::shared_ptr<FileHandle> openLog(const std::string& path) {
    PosixFileSystem files;
    files.createEmptyFile(path);
    auto handle = files.openForWriting(path);
    EXPECT_TRUE(handle.ok()) << handle.reason();
    return handle.ok() ? handle.value() : nullptr;
}

TEST(PosixChildOutputTest, BothStreamsOfOneChildLandInOneFileInOrder) {
    TempDir dir;
    LaunchSpec spec = shellCommand("echo out1; echo err1 >&2; echo out2; echo err2 >&2", {});
    spec.output = ChildOutput::toFile(openLog(dir / "child.log"));
    runToExit(spec);
    EXPECT_EQ(posix_test::readFile(dir / "child.log"), "out1\nerr1\nout2\nerr2\n");
}

std::string descriptorTarget(const std::string& link) {
    std::error_code error;
    return std::filesystem::read_symlink(link, error).string();
}

// The descriptors of a running child are read from outside: a shell redirection would itself open
// and move descriptors in the shell (dash keeps the saved ones at 10 and up).
std::shared_ptr<ChildProcess> launchSleeper(ChildOutput output) {
    LaunchSpec spec;
    spec.executable = "/bin/sleep";
    spec.arguments = {"30"};
    spec.output = std::move(output);
    auto child = LinuxProcessLauncher().launch(spec);
    EXPECT_TRUE(child.ok()) << child.reason();
    return child.ok() ? child.value() : nullptr;
}

void stop(const std::shared_ptr<ChildProcess>& child) {
    child->terminate();
    EXPECT_TRUE(posix_test::eventually([&] { return !child->isRunning(); }));
}

TEST(PosixChildOutputTest, StreamsGoWhereTheOutputSays) {
    TempDir dir;
    const std::string logPath = dir / "child.log";
    auto closedHandle = openLog(dir / "closed.log");
    closedHandle->close();
    const std::string shellOut = descriptorTarget("/proc/self/fd/1");
    const std::string shellErr = descriptorTarget("/proc/self/fd/2");
    const struct {
        const char* name;
        ChildOutput output;
        std::string expectedOut;
        std::string expectedErr;
    } cases[] = {
        {"inherit", ChildOutput::inherit(), shellOut, shellErr},
        {"null device", ChildOutput::nullDevice(), "/dev/null", "/dev/null"},
        {"file", ChildOutput::toFile(openLog(logPath)), logPath, logPath},
        {"closed handle falls back to the shell's streams", ChildOutput::toFile(closedHandle), shellOut, shellErr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto child = launchSleeper(c.output);
        ASSERT_TRUE(child);
        const std::string fds = "/proc/" + std::to_string(child->pid()) + "/fd/";
        EXPECT_EQ(descriptorTarget(fds + "1"), c.expectedOut);
        EXPECT_EQ(descriptorTarget(fds + "2"), c.expectedErr);
        stop(child);
    }
}

std::set<std::string> descriptorsOf(int pid) {
    std::set<std::string> descriptors;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        descriptors.insert(entry.path().filename().string());
    }
    return descriptors;
}

TEST(PosixChildIsolationTest, ChildHoldsOnlyTheThreeStandardDescriptors) {
    // Descriptors a careless library leaves inheritable, one of them far up the table.
    const int leaked = ::open("/dev/null", O_RDONLY);
    const int leakedHigh = ::dup2(leaked, 200);
    ASSERT_GE(leaked, 0);
    ASSERT_EQ(leakedHigh, 200);
    auto child = launchSleeper(ChildOutput::nullDevice());
    ::close(leaked);
    ::close(leakedHigh);
    ASSERT_TRUE(child);

    // Polled, because the dynamic loader holds a library open for a moment after exec.
    const std::set<std::string> standard{"0", "1", "2"};
    std::set<std::string> seen;
    const bool clean = posix_test::eventually(
        [&] {
            seen = descriptorsOf(child->pid());
            return seen.count("1") && seen.count("2") &&
                   std::includes(standard.begin(), standard.end(), seen.begin(), seen.end());
        },
        std::chrono::seconds(3));
    std::string listed;
    for (const auto& fd : seen) listed += fd + " ";
    EXPECT_TRUE(clean) << "descriptors of the child: " << listed;
    stop(child);
}

void ignoreSignal(int) {}

TEST(PosixChildIsolationTest, ChildStartsWithDefaultDispositionsAndAnEmptyMask) {
    // A GUI shell ignores SIGPIPE, handles some signals and blocks others on its main thread.
    struct sigaction ignore {}, handle {}, oldPipe {}, oldTerm {};
    ignore.sa_handler = SIG_IGN;
    handle.sa_handler = ignoreSignal;
    ::sigaction(SIGPIPE, &ignore, &oldPipe);
    ::sigaction(SIGTERM, &handle, &oldTerm);
    sigset_t blocked, oldMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    sigaddset(&blocked, SIGHUP);
    ::pthread_sigmask(SIG_BLOCK, &blocked, &oldMask);

    auto child = launchSleeper(ChildOutput::nullDevice());

    ::pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    ::sigaction(SIGPIPE, &oldPipe, nullptr);
    ::sigaction(SIGTERM, &oldTerm, nullptr);
    ASSERT_TRUE(child);
    // Read from outside: the child's own shell would block signals around its forks.
    std::string masks;
    for (const auto& line : split(posix_test::readFile("/proc/" + std::to_string(child->pid()) + "/status"), '\n')) {
        if (line.rfind("SigBlk:", 0) == 0 || line.rfind("SigIgn:", 0) == 0) masks += line + "\n";
    }
    EXPECT_EQ(masks, "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
    stop(child);
}

// The children that the calling thread has forked and not yet seen reaped (zombies included).
std::set<std::string> childrenOfThisThread() {
    const auto tid = static_cast<long>(::syscall(SYS_gettid));
    const std::string path = "/proc/self/task/" + std::to_string(tid) + "/children";
    const auto listed = split(posix_test::readFile(path), ' ');
    std::set<std::string> children(listed.begin(), listed.end());
    children.erase("");
    return children;
}

TEST(PosixLaunchFailureTest, FailuresToStartAreValuesAndLeaveNoChildBehind) {
    TempDir dir;
    posix_test::writeScript(dir / "script", "exit 0\n");
    posix_test::writeFile(dir / "not-executable", "#!/bin/sh\nexit 0\n", 0644);
    posix_test::writeFile(dir / "no-format", "", 0755);
    std::filesystem::create_directory(dir.path() / "folder");
    const struct {
        const char* name;
        std::string executable;
        std::string workingDirectory;
        std::string namedInReason;
    } cases[] = {
        {"missing executable", dir / "absent", "", dir / "absent"},
        {"file without execute permission", dir / "not-executable", "", dir / "not-executable"},
        {"directory as executable", dir / "folder", "", dir / "folder"},
        {"executable file in no known format", dir / "no-format", "", dir / "no-format"},
        {"missing working directory", dir / "script", dir / "absent", "working directory " + dir / "absent"},
        {"file as working directory", dir / "script", dir / "script", "working directory " + dir / "script"},
        {"empty executable path", "", "", "no executable"},
    };
    LinuxProcessLauncher launcher;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto before = childrenOfThisThread();
        LaunchSpec spec;
        spec.executable = c.executable;
        spec.workingDirectory = c.workingDirectory;
        auto child = launcher.launch(spec);
        ASSERT_FALSE(child.ok());
        EXPECT_NE(child.reason().find(c.namedInReason), std::string::npos) << child.reason();
        const auto after = childrenOfThisThread();
        EXPECT_TRUE(std::includes(before.begin(), before.end(), after.begin(), after.end()))
            << "the failed child was not reaped";
    }
}

}  // namespace
}  // namespace lorvane
