// What a launched child is handed, read from outside while it waits on its standard input: argv,
// working directory, environment, descriptors and signal state; and failures to start, as values.
#include <algorithm>
#include <csignal>
#include <iterator>
#include <set>

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/linux/linux_process_launcher.h"
#include "platform/posix/posix_environment.h"
#include "platform/posix/posix_file_system.h"
#include "posix_test_support.h"

namespace lorvane {
namespace {

using namespace posix_test;

// The shell's state stays as a GUI shell leaves it for the whole test: variables it changed,
// descriptors without close-on-exec (one far up the table), an ignored SIGPIPE, a handled SIGTERM
// and a signal blocked on the main thread. None of it may reach a child.
TEST(Launch, TheChildGetsWhatItIsGivenAndNoneOfTheShellsDescriptorsOrSignalState) {
    ::setenv("LORVANE_TEST_OWN", "the shell's", 1);
    ::setenv("LORVANE_TEST_CHANGED", "the user's,the shell's", 1);
    ASSERT_EQ(::dup2(::open("/dev/null", O_RDONLY), 200), 200);
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGTERM, [](int) {});
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    ::pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
    // What the shell set for itself is not passed on; what it changed goes on as it was started with it.
    const ShellOnlyVariables shellOnly{{"LORVANE_TEST_OWN", std::nullopt}, {"LORVANE_TEST_CHANGED", "the user's"}};
    Environment inherited = PosixEnvironment().snapshot();
    inherited.erase("LORVANE_TEST_OWN");
    inherited["LORVANE_TEST_CHANGED"] = "the user's";
    const Environment given{{"EMPTY", ""}, {"EQUALS", "a=b"}, {"NEWLINE", "a\nb"}, {"LORVANE_TEST_OWN", "given"}};
    // Given environment, folder and log; or inherited, in the shell's folder, to its streams.
    for (const bool inherits : {false, true}) {
        SCOPED_TRACE(inherits ? "inherited" : "given");
        TempDir dir;
        fs::create_directory(dir.path / "sub dir");
        auto file = PosixFileSystem().openForWriting(writeFile(dir / "log", ""));
        ASSERT_TRUE(file.ok()) << file.reason();
        const LaunchSpec spec{"/bin/sh", {"-c", "read line\necho \"$line\"\necho err >&2", "sh", "two words", "$HOME;*"},
                              inherits ? "" : dir / "sub dir", inherits ? std::nullopt : std::optional(given),
                              inherits ? ChildOutput::inherit() : ChildOutput::toFile(file.value())};
        // The child reads the test's standard input, a pipe that stays silent while it is looked at.
        int input[2];
        ASSERT_EQ(::pipe(input), 0);
        const int savedInput = ::dup(STDIN_FILENO);
        ::dup2(input[0], STDIN_FILENO);
        auto child = LinuxProcessLauncher(shellOnly).launch(spec);
        ::dup2(savedInput, STDIN_FILENO);
        ::close(savedInput);
        ::close(input[0]);
        ASSERT_TRUE(child.ok()) << child.reason();

        const std::string log = inherits ? "" : dir / "log";
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
        EXPECT_EQ(process.cwd, inherits ? fs::canonical(".").string() : spec.workingDirectory);
        EXPECT_EQ(process.environment, inherits ? inherited : given);
        EXPECT_NE(process.status.find("SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n"), std::string::npos);

        ASSERT_EQ(::write(input[1], "from the shell\n", 15), 15);
        ::close(input[1]);
        EXPECT_TRUE(eventually([&] { return !child.value()->isRunning(); }));
        // Reaped in the same step that ends isRunning: no zombie is left.
        EXPECT_FALSE(fs::exists("/proc/" + std::to_string(child.value()->pid())));
        // Both streams share one file position, so neither overwrites the other.
        EXPECT_EQ(readFile(dir / "log"), inherits ? "" : "from the shell\nerr\n");
    }
}

TEST(Launch, FailingToStartIsAValueNamingTheCauseAndLeavesNoChild) {
    TempDir dir;
    // Executable but in no format the kernel runs: a launcher that retried it with /bin/sh, as
    // execvp does, would run it.
    const std::string noFormat = writeFile(dir / "no-format", "exit 0\n", 0755);
    const std::pair<LaunchSpec, std::string> cases[] = {  // what is launched, and the cause named
        {{noFormat, {}, "", {}, {}}, noFormat},
        {{"/bin/true", {}, dir / "absent", {}, {}}, "working directory " + dir / "absent"},
    };
    const auto children = [] {  // of this thread, not yet reaped (zombies included)
        std::istringstream listed(readFile("/proc/self/task/" + std::to_string(::syscall(SYS_gettid)) + "/children"));
        return std::set<std::string>{std::istream_iterator<std::string>(listed), {}};
    };
    for (const auto& [spec, named] : cases) {
        const auto before = children();
        auto child = LinuxProcessLauncher().launch(spec);
        ASSERT_FALSE(child.ok());
        EXPECT_NE(child.reason().find(named), std::string::npos) << child.reason();
        const auto after = children();
        EXPECT_TRUE(std::includes(before.begin(), before.end(), after.begin(), after.end())) << named << " not reaped";
    }
}

}  // namespace
}  // namespace lorvane
