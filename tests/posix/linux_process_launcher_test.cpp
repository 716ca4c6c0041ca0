// What a launched child is handed, read from outside while it waits on its standard input: argv,
// working directory, environment, descriptors and signal state; and failures to start, as values.
#include <algorithm>
#include <csignal>
#include <iterator>
#include <optional>
#include <set>
#include <tuple>

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/linux/linux_places.h"
#include "platform/linux/linux_process_launcher.h"
#include "platform/posix/posix_environment.h"
#include "platform/posix/posix_file_system.h"
#include "posix_test_support.h"

extern char** environ;

namespace lorvane {
namespace {

using namespace posix_test;

// A process environment as a careless parent may hand it over: only well-formed entries pass on,
// the first of each name.
char kMalformed[][16] = {"PLAIN=value", "EMPTY=", "EQUALS=a=b", "NO_SEPARATOR", "=nameless", "PLAIN=second"};
char* kMalformedEnvironment[] = {kMalformed[0], kMalformed[1], kMalformed[2], kMalformed[3], kMalformed[4],
                                 kMalformed[5], nullptr};

enum Output { Inherit, NullDevice, File, ClosedFile };
struct LaunchCase {
    const char* name;
    std::string workingDirectory;            // under the temporary folder; "" for the test's own
    std::optional<Environment> environment;  // absent: inherited
    ShellOnlyVariables shellOnly;            // variables the shell changed for itself
    Output output;
    bool malformedEnvironment = false;       // the test's environ is kMalformedEnvironment meanwhile
};

const LaunchCase kLaunchCases[] = {
    {"given environment, folder and log", "sub dir",
     Environment{{"ONE", "1"}, {"EMPTY", ""}, {"EQUALS", "a=b"}, {"NEWLINE", "a\nb"}, {"SPACE", " x "}}, {}, File},
    {"nothing given", "", Environment{}, {}, NullDevice},
    // What the shell set for itself is not passed on; what it changed goes on as it was started with it.
    {"inherited as the shell was started, to its streams", "", std::nullopt,
     {{"LORVANE_TEST_OWN", std::nullopt}, {"NEVER_SET", std::nullopt}, {"LORVANE_TEST_CHANGED", "the user's"},
      {"LORVANE_TEST_WAS_EMPTY", ""}},
     Inherit},
    {"given as given whatever the shell changed; a closed log falls back to the shell's streams", "",
     Environment{{"LORVANE_TEST_OWN", "given"}}, {{"LORVANE_TEST_OWN", std::nullopt}}, ClosedFile},
    {"inherited from a malformed environment", "", std::nullopt, {{"NEVER_SET", std::nullopt}}, Inherit, true},
};

// The shell's state stays as a GUI shell leaves it for the whole test: variables it changed,
// descriptors without close-on-exec (one far up the table), an ignored SIGPIPE, a handled SIGTERM
// and a signal blocked on the main thread. None of it may reach a child.
TEST(Launch, TheChildGetsWhatItIsGivenAndNoneOfTheShellsDescriptorsOrSignalState) {
    ::setenv("LORVANE_TEST_OWN", "the shell's", 1);
    ::setenv("LORVANE_TEST_CHANGED", "the user's,the shell's", 1);
    ::setenv("LORVANE_TEST_WAS_EMPTY", "the shell's", 1);
    ASSERT_EQ(::dup2(::open("/dev/null", O_RDONLY), 200), 200);
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGTERM, [](int) {});
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    ::pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
    for (const LaunchCase& c : kLaunchCases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        fs::create_directory(dir.path / "sub dir");
        auto file = PosixFileSystem().openForWriting(writeFile(dir / "log", ""));
        ASSERT_TRUE(file.ok()) << file.reason();
        if (c.output == ClosedFile) file.value()->close();
        const LaunchSpec spec{"/bin/sh",
                              {"-c", "read line\necho \"$line\"\necho err >&2\necho end", "sh", "two words", "",
                               "$HOME;*"},
                              c.workingDirectory.empty() ? "" : dir / c.workingDirectory,
                              c.environment,
                              c.output == Inherit      ? ChildOutput::inherit()
                              : c.output == NullDevice ? ChildOutput::nullDevice()
                                                       : ChildOutput::toFile(file.value())};
        Environment expected = c.environment.value_or(PosixEnvironment().snapshot());
        if (c.malformedEnvironment) expected = {{"PLAIN", "value"}, {"EMPTY", ""}, {"EQUALS", "a=b"}};
        for (const auto& [name, startedWith] : c.environment ? ShellOnlyVariables{} : c.shellOnly) {
            if (startedWith) expected[name] = *startedWith;
            if (!startedWith) expected.erase(name);
        }

        // The child reads the test's standard input, a pipe that stays silent while it is looked at.
        int input[2];
        ASSERT_EQ(::pipe(input), 0);
        const int savedInput = ::dup(STDIN_FILENO);
        ::dup2(input[0], STDIN_FILENO);
        char** const shellEnvironment = environ;
        if (c.malformedEnvironment) environ = kMalformedEnvironment;
        auto child = LinuxProcessLauncher(c.shellOnly).launch(spec);
        environ = shellEnvironment;
        savedInput >= 0 ? ::dup2(savedInput, STDIN_FILENO) : ::close(STDIN_FILENO);
        ::close(savedInput);
        ::close(input[0]);
        ASSERT_TRUE(child.ok()) << child.reason();

        const std::string log = c.output == NullDevice ? "/dev/null" : c.output == File ? dir / "log" : "";
        const std::map<std::string, std::string> descriptors{{"0", linkOf("/proc/self/fd/" + std::to_string(input[1]))},
                                                             {"1", log.empty() ? linkOf("/proc/self/fd/1") : log},
                                                             {"2", log.empty() ? linkOf("/proc/self/fd/2") : log}};
        std::vector<std::string> argv{spec.executable};
        argv.insert(argv.end(), spec.arguments.begin(), spec.arguments.end());
        // Polled: until the exec the child shows the test's argv, and the dynamic loader holds a
        // library open for a moment after it.
        Seen process;
        eventually([&] {
            process = seen(child.value()->pid());
            return process.argv == argv && process.descriptors == descriptors;
        }, 3);
        EXPECT_EQ(process.argv, argv);
        EXPECT_EQ(process.descriptors, descriptors);
        EXPECT_EQ(process.cwd, c.workingDirectory.empty() ? fs::canonical(".").string() : spec.workingDirectory);
        EXPECT_EQ(process.environment, expected);
        EXPECT_NE(process.status.find("SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n"), std::string::npos);

        ASSERT_EQ(::write(input[1], "from the shell\n", 15), 15);
        ::close(input[1]);
        EXPECT_TRUE(eventually([&] { return !child.value()->isRunning(); }));
        // Reaped in the same step that ends isRunning: no zombie is left.
        EXPECT_FALSE(fs::exists("/proc/" + std::to_string(child.value()->pid())));
        // Both streams share one file position, so neither overwrites the other.
        if (c.output == File) {
            EXPECT_EQ(readFile(dir / "log"), "from the shell\nerr\nend\n");
        }
    }
}

// The children the calling thread has started and not yet seen reaped (zombies included).
std::set<std::string> childrenOfThisThread() {
    std::istringstream listed(readFile("/proc/self/task/" + std::to_string(::syscall(SYS_gettid)) + "/children"));
    return {std::istream_iterator<std::string>(listed), std::istream_iterator<std::string>()};
}

TEST(Launch, FailingToStartIsAValueNamingTheCauseAndLeavesNoChild) {
    TempDir dir;
    // Executable but in no format the kernel runs: a launcher that retried it with /bin/sh, as
    // execvp does, would run it.
    writeFile(dir / "no-format", "exit 0\n", 0755);
    const std::tuple<std::string, std::string, std::string> cases[] = {  // executable, working directory, named
        {dir / "absent", "", dir / "absent"},
        {dir / "no-format", "", dir / "no-format"},
        {"/bin/true", dir / "absent", "working directory " + dir / "absent"},
        {"", "", "no executable"},
    };
    for (const auto& [executable, workingDirectory, named] : cases) {
        SCOPED_TRACE(named);
        const auto before = childrenOfThisThread();
        auto child = LinuxProcessLauncher().launch(LaunchSpec{executable, {}, workingDirectory, {}, {}});
        ASSERT_FALSE(child.ok());
        EXPECT_NE(child.reason().find(named), std::string::npos) << child.reason();
        const auto after = childrenOfThisThread();
        EXPECT_TRUE(std::includes(before.begin(), before.end(), after.begin(), after.end())) << "not reaped";
    }
}

// The bundle's runtime/node finds node as the wrapper does: the first executable node in an
// absolute PATH folder that is not the wrapper's own, else the system's.
TEST(Launch, TheNodeWrapperCanRunOnlyWhereItWouldFindANode) {
    TempDir dir;
    const std::string wrapper = writeFile(dir / "runtime/node", "#!/bin/sh\n", 0755);
    writeFile(dir / "bin/node", "#!/bin/sh\n", 0755);
    writeFile(dir / "plain/node", "#!/bin/sh\n", 0644);
    const std::string system = writeFile(dir / "system/node", "#!/bin/sh\n", 0755);
    const struct {
        const char* name;
        std::optional<std::string> path;
        std::string systemNode;
        bool runs;
    } cases[] = {
        {"a node on PATH", dir / "plain:" + dir / "bin", dir / "none", true},
        {"its own folder on PATH is passed over", dir / "runtime", dir / "none", false},
        {"a relative PATH entry is passed over", "bin", dir / "none", false},
        {"not executable is passed over", dir / "plain", dir / "none", false},
        {"no PATH, the system's node", std::nullopt, system, true},
        {"no node anywhere", "", dir / "none", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LinuxProcessLauncher launcher;
        Environment environment;
        if (c.path) environment["PATH"] = *c.path;
        const LaunchSpec spec{wrapper, {}, "", environment, {}};
        EXPECT_TRUE(launcher.canRun(spec)) << "nothing is looked for in an executable the launcher was not told of";
        launcher.handsOverToNode(dir / "runtime/../runtime/node", c.systemNode);
        EXPECT_EQ(launcher.canRun(spec), c.runs);
    }
    EXPECT_FALSE(LinuxProcessLauncher().canRun({dir / "plain/node", {}, "", std::nullopt, {}}));
}

}  // namespace
}  // namespace lorvane
