// How long children live: reaping, termination, and what happens when the shell itself dies.
#include <csignal>
#include <cstdio>
#include <fstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <gtest/gtest.h>

#include "platform/posix/posix_platform.h"
#include "posix_test_support.h"

namespace lorvane {
namespace {

using posix_test::TempDir;
using posix_test::eventually;
using posix_test::fileContains;

// A child that notes each SIGTERM and SIGWINCH in the file "log" and otherwise runs until killed.
// dash runs traps in signal-number order, so a TERM already sent is noted before a later WINCH.
// It waits by opening a FIFO that nobody writes (a signal interrupts the open), so that it has no
// child of its own that a SIGKILL would leave behind.
LaunchSpec trappingChild(const TempDir& dir, ChildLifetime lifetime) {
    EXPECT_EQ(::mkfifo((dir / "never-written").c_str(), 0600), 0);
    LaunchSpec spec;
    spec.executable = posix_test::writeScript(dir / "trapping.sh",
                                              "trap 'echo TERM >> \"$1\"' TERM\n"
                                              "trap 'echo WINCH >> \"$1\"' WINCH\n"
                                              "echo ready >> \"$1\"\n"
                                              "while :; do read line < \"$2\"; done\n");
    spec.arguments = {dir / "log", dir / "never-written"};
    spec.output = ChildOutput::nullDevice();
    spec.lifetime = lifetime;
    return spec;
}

// The pending-signal masks of a process ("SigPnd" for its thread, "ShdPnd" for the process).
bool hasPendingSignal(pid_t pid, int signalNumber) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("SigPnd:", 0) == 0 || line.rfind("ShdPnd:", 0) == 0) {
            const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
            if (mask & (1ull << (signalNumber - 1))) return true;
        }
    }
    return false;
}

TEST(PosixChildLifetimeTest, ExitedChildIsReapedAndNoLongerRunning) {
    LinuxProcessLauncher launcher;
    LaunchSpec spec;
    spec.executable = "/bin/sh";
    spec.arguments = {"-c", "exit 3"};
    auto child = launcher.launch(spec);
    ASSERT_TRUE(child.ok()) << child.reason();
    ASSERT_TRUE(eventually([&] { return !child.value()->isRunning(); }));
    // Reaping and the end of isRunning are one step, so no zombie can be left at this point.
    EXPECT_FALSE(std::filesystem::exists("/proc/" + std::to_string(child.value()->pid())));
}

TEST(PosixChildLifetimeTest, TerminateSendsSigtermAndReturnsWithoutWaiting) {
    TempDir dir;
    LinuxProcessLauncher launcher;
    auto launched = launcher.launch(trappingChild(dir, ChildLifetime::Independent));
    ASSERT_TRUE(launched.ok()) << launched.reason();
    auto child = launched.value();
    ASSERT_TRUE(eventually([&] { return fileContains(dir / "log", "ready"); }));
    EXPECT_TRUE(child->isRunning());

    // The child survives SIGTERM, so a terminate() that waited for the exit would hang here.
    child->terminate();
    EXPECT_TRUE(eventually([&] { return fileContains(dir / "log", "TERM"); }));
    EXPECT_TRUE(child->isRunning());

    ::kill(child->pid(), SIGKILL);
    EXPECT_TRUE(eventually([&] { return !child->isRunning(); }));
}

// Forks a process that blocks SIGTERM and waits, with the pid `wanted` if the system lets the
// test choose the next pid (ns_last_pid, Linux, privileged). Returns its pid, or -1.
pid_t forkSentinelWithPid(pid_t wanted) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        FILE* lastPid = std::fopen("/proc/sys/kernel/ns_last_pid", "w");
        if (lastPid == nullptr) return -1;
        const bool written = std::fprintf(lastPid, "%d", static_cast<int>(wanted - 1)) > 0;
        if (std::fclose(lastPid) != 0 || !written) return -1;

        sigset_t term, previous;
        sigemptyset(&term);
        sigaddset(&term, SIGTERM);
        ::pthread_sigmask(SIG_BLOCK, &term, &previous);
        const pid_t sentinel = ::fork();
        if (sentinel == 0) {
            for (;;) ::pause();
        }
        ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        if (sentinel == wanted) return sentinel;
        // Another process took the pid first; try again.
        ::kill(sentinel, SIGKILL);
        ::waitpid(sentinel, nullptr, 0);
    }
    return -1;
}

TEST(PosixChildLifetimeTest, TerminateAfterExitSignalsNoProcessThatReusedThePid) {
    LinuxProcessLauncher launcher;
    LaunchSpec spec;
    spec.executable = "/bin/true";
    auto child = launcher.launch(spec);
    ASSERT_TRUE(child.ok()) << child.reason();
    ASSERT_TRUE(eventually([&] { return !child.value()->isRunning(); }));

    const pid_t sentinel = forkSentinelWithPid(child.value()->pid());
    if (sentinel < 0) GTEST_SKIP() << "cannot choose the next pid (needs write access to ns_last_pid)";
    child.value()->terminate();
    // kill() marks the signal pending before it returns, so a stray SIGTERM would show now.
    EXPECT_FALSE(hasPendingSignal(sentinel, SIGTERM));
    ::kill(sentinel, SIGKILL);
    ::waitpid(sentinel, nullptr, 0);
}

#ifdef __linux__
// The shell dies without quitting (SIGKILL): an EndsWithShell child is sent SIGTERM by the kernel,
// an Independent one is left alone. The "shell" is a forked process that launches the child.
void killShellAndCheckTerminated(ChildLifetime lifetime, bool expectTerminated) {
    TempDir dir;
    // The orphaned child comes to this process rather than to init, so the test can reap it.
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    const LaunchSpec spec = trappingChild(dir, lifetime);
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t shell = ::fork();
    if (shell == 0) {
        ::close(report[0]);
        LinuxProcessLauncher launcher;
        auto child = launcher.launch(spec);
        const int pid = child.ok() ? child.value()->pid() : -1;
        (void)!::write(report[1], &pid, sizeof pid);
        for (;;) ::pause();
    }
    ::close(report[1]);
    ASSERT_GT(shell, 0) << "cannot fork";  // never let -1 reach kill() below: that is every process
    int childPid = -1;
    const bool reported = ::read(report[0], &childPid, sizeof childPid) == sizeof childPid;
    ::close(report[0]);
    if (!reported || childPid <= 0) {
        ::kill(shell, SIGKILL);
        ::waitpid(shell, nullptr, 0);
        ::prctl(PR_SET_CHILD_SUBREAPER, 0);
        FAIL() << "the forked shell could not launch its child";
    }
    const bool ready = eventually([&] { return fileContains(dir / "log", "ready"); });

    ::kill(shell, SIGKILL);
    ::waitpid(shell, nullptr, 0);
    // The shell's exit has reparented the child, and sent the death signal if one was requested,
    // before waitpid returned. WINCH now marks the point by which a TERM would have been noted.
    ::kill(childPid, SIGWINCH);
    const bool noted = eventually([&] { return fileContains(dir / "log", "WINCH"); }, std::chrono::seconds(2));
    const bool terminated = fileContains(dir / "log", "TERM");
    ::kill(childPid, SIGKILL);  // it belongs to no launcher now
    ::waitpid(childPid, nullptr, 0);
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);

    ASSERT_TRUE(ready) << "the child never started";
    ASSERT_TRUE(noted) << "the child did not survive its shell: " << posix_test::readFile(dir / "log");
    EXPECT_EQ(terminated, expectTerminated) << posix_test::readFile(dir / "log");
}

TEST(PosixShellDeathTest, ChildThatEndsWithTheShellIsSentSigtermWhenTheShellIsKilled) {
    killShellAndCheckTerminated(ChildLifetime::EndsWithShell, true);
}

TEST(PosixShellDeathTest, IndependentChildSurvivesTheShellUnsignalled) {
    killShellAndCheckTerminated(ChildLifetime::Independent, false);
}
#endif

}  // namespace
}  // namespace lorvane
