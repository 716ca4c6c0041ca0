// Services as process groups, for real: SIGTERM to the whole group, the grace, SIGKILL to what is
// left; and children kept apart from the terminal signals aimed at the shell.
#include <csignal>
#include <filesystem>
#include <string>

#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/posix/posix_platform.h"
#include "forked_shell.h"
#include "posix_test_support.h"

namespace lorvane {
namespace {

using posix_test::TempDir;
using posix_test::eventually;
using posix_test::fileContains;

bool processExists(pid_t pid) { return std::filesystem::exists("/proc/" + std::to_string(pid)); }

pid_t pidIn(const std::string& file) {
    const std::string text = posix_test::readFile(file);
    return text.empty() ? -1 : static_cast<pid_t>(std::stol(text));
}

// Orphans of the services come to the test process, standing in for the desktop session's
// subreaper, which reaps them; the test reaps only the grandchild it knows by pid.
class SubreaperScope {
public:
    SubreaperScope() { EXPECT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0); }
    ~SubreaperScope() { ::prctl(PR_SET_CHILD_SUBREAPER, 0); }
    SubreaperScope(const SubreaperScope&) = delete;
    SubreaperScope& operator=(const SubreaperScope&) = delete;
};

// The scripts write "ready" to $1 once their traps are set, the pid of any grandchild to $2, and
// note each SIGTERM they handle in $1. A service that survives SIGTERM waits by opening the FIFO
// $3, which nobody writes (a handled signal interrupts the open).
struct ServiceCase {
    const char* name;
    const char* body;
    bool hasGrandchild;
    bool survivesSigterm;
};

const ServiceCase kServiceCases[] = {
    {"ends on SIGTERM", "echo ready > \"$1\"\nexec sleep 600\n", false, false},
    // The grandchild is not the shell's child: only a signal to the group reaches it.
    {"ends on SIGTERM, with a grandchild", "sleep 600 &\necho $! > \"$2\"\necho ready > \"$1\"\nwait\n", true, false},
    {"handles SIGTERM and stays",
     "trap 'echo TERM >> \"$1\"' TERM\necho ready > \"$1\"\nwhile :; do read line < \"$3\"; done\n", false, true},
    // An ignored signal stays ignored across fork and exec, so the grandchild ignores SIGTERM too.
    {"handles SIGTERM and stays, with a grandchild that ignores it",
     "trap '' TERM\nsleep 600 &\necho $! > \"$2\"\ntrap 'echo TERM >> \"$1\"' TERM\necho ready > \"$1\"\n"
     "while :; do read line < \"$3\"; done\n",
     true, true},
};

TEST(ServiceGroupsTest, SigtermGoesToTheGroupAndWhatIgnoresItIsKilledOnceTheGraceHasPassed) {
    for (const ServiceCase& c : kServiceCases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        SubreaperScope subreaper;
        ASSERT_EQ(::mkfifo((dir / "never-written").c_str(), 0600), 0);
        LinuxProcessLauncher launcher;
        LaunchSpec spec;
        spec.executable = posix_test::writeScript(dir / "service.sh", c.body);
        spec.arguments = {dir / "log", dir / "grandchild", dir / "never-written"};
        spec.output = ChildOutput::nullDevice();
        spec.lifetime = ChildLifetime::EndsWithShell;
        auto launched = launcher.launchChild(spec);
        ASSERT_TRUE(launched.ok()) << launched.reason();
        const auto service = launched.value();
        // Should the test fail, nothing of the service outlives the row.
        const std::shared_ptr<void> cleanup(nullptr, [&](void*) { service->killGroup(); });
        ASSERT_TRUE(eventually([&] { return fileContains(dir / "log", "ready"); }));
        const pid_t grandchild = c.hasGrandchild ? pidIn(dir / "grandchild") : -1;
        ASSERT_NE(grandchild, 0);

        // The shutdown pass, then the grace on a clock of the test's own, from 100 s.
        service->terminate();
        ServiceGrace grace(launcher, 100.0);
        const auto reapGrandchild = [&] {
            if (grandchild > 0) ::waitpid(grandchild, nullptr, WNOHANG);
        };
        if (c.survivesSigterm) {
            ASSERT_TRUE(eventually([&] { return fileContains(dir / "log", "TERM"); }));
            reapGrandchild();
            EXPECT_FALSE(grace.poll(102.9)) << "ended before the grace had passed";
            EXPECT_TRUE(service->isRunning());
        }
        // From here the real processes get one second of real time, the reap time.
        const double now = c.survivesSigterm ? 103.0 : 100.0;
        EXPECT_TRUE(eventually([&] { return reapGrandchild(), grace.poll(now); }, std::chrono::seconds(1)));

        EXPECT_EQ(grace.killed(), c.survivesSigterm);
        EXPECT_EQ(service->exit(), (ChildExit{ChildExit::Kind::Signalled, c.survivesSigterm ? SIGKILL : SIGTERM}));
        EXPECT_FALSE(processExists(service->pid())) << "the service is left as a zombie";
        if (grandchild > 0) {
            EXPECT_FALSE(processExists(grandchild)) << "the grandchild is left";
        }
        EXPECT_TRUE(launcher.servicesEnded());
    }
}

// A terminal's Ctrl+C and hang-up go to the shell's process group. The "shell" is a forked
// process that leads a group of its own, ignores both signals, as the desktop does by handling
// them, and launches one child of each lifetime; children start with default dispositions, so a
// child still in the shell's group would die.
TEST(ServiceGroupsTest, ChildrenOfEitherLifetimeSurviveTerminalSignalsToTheShellsGroup) {
    TempDir dir;
    SubreaperScope subreaper;
    ASSERT_EQ(::mkfifo((dir / "never-written").c_str(), 0600), 0);
    const std::string script = posix_test::writeScript(
        dir / "child.sh", "trap 'echo WINCH >> \"$1\"' WINCH\necho ready >> \"$1\"\nwhile :; do read line < \"$2\"; done\n");
    std::vector<LaunchSpec> specs;
    for (const ChildLifetime lifetime : {ChildLifetime::EndsWithShell, ChildLifetime::Independent}) {
        LaunchSpec& spec = specs.emplace_back();
        spec.executable = script;
        spec.arguments = {dir / (lifetime == ChildLifetime::Independent ? "independent" : "service"), dir / "never-written"};
        spec.output = ChildOutput::nullDevice();
        spec.lifetime = lifetime;
    }
    const auto forked = posix_test::forkShell(specs, {.recordFolder = std::nullopt, .ownGroupIgnoringTerminal = true});
    const pid_t shell = forked.pid;
    ASSERT_GT(shell, 0) << "cannot fork";  // never let -1 reach kill() below: that is every process
    const int pids[2] = {forked.launchedAll(2) ? forked.children[0] : -1, forked.launchedAll(2) ? forked.children[1] : -1};
    const bool ready = shell > 0 && forked.launchedAll(2) && eventually([&] {
        return fileContains(dir / "service", "ready") && fileContains(dir / "independent", "ready");
    });

    bool survived[2] = {false, false};
    if (ready) {
        ::kill(-shell, SIGHUP);
        ::kill(-shell, SIGINT);
        // Both are pending before kill() returns, and either would end the child before it could
        // handle a later SIGWINCH.
        for (int i = 0; i < 2; ++i) ::kill(pids[i], SIGWINCH);
        survived[0] = eventually([&] { return fileContains(dir / "service", "WINCH"); }, std::chrono::seconds(2));
        survived[1] = eventually([&] { return fileContains(dir / "independent", "WINCH"); }, std::chrono::seconds(2));
    }
    for (const int pid : pids) {
        if (pid > 0) ::kill(pid, SIGKILL);
    }
    ::kill(shell, SIGKILL);
    ::waitpid(shell, nullptr, 0);
    for (const int pid : pids) {
        if (pid > 0) ::waitpid(pid, nullptr, 0);  // orphans of the shell, adopted here
    }
    ASSERT_TRUE(ready) << "the forked shell could not launch its children";
    EXPECT_TRUE(survived[0]) << "a service heard the terminal";
    EXPECT_TRUE(survived[1]) << "the launcher script heard the terminal";
}

}  // namespace
}  // namespace lorvane
