// The record of the services' groups and the start-up sweep, on real processes: what a shell
// killed outright leaves, what the next start ends, and what it must leave alone.
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

bool running(pid_t pid) {
    const std::string stat = posix_test::readFile("/proc/" + std::to_string(pid) + "/stat");
    const auto nameEnd = stat.rfind(')');
    return nameEnd != std::string::npos && stat.size() > nameEnd + 2 && stat[nameEnd + 2] != 'Z';
}

pid_t pidIn(const std::string& file) {
    const std::string text = posix_test::readFile(file);
    return text.empty() ? -1 : static_cast<pid_t>(std::stol(text));
}

std::string bootId() {
    std::string id = posix_test::readFile("/proc/sys/kernel/random/boot_id");
    while (!id.empty() && id.back() == '\n') id.pop_back();
    return id;
}

int filesIn(const std::string& folder) {
    std::error_code error;
    int count = 0;
    for (auto it = std::filesystem::directory_iterator(folder, error); !error && it != std::filesystem::directory_iterator(); ++it) {
        ++count;
    }
    return count;
}

// A shell that records its services, started as a forked process and then killed outright. One
// service handles SIGTERM and stays, with a grandchild that ignores it; the other ends on SIGTERM
// and leaves a grandchild behind, which its parent-death signal never reaches.
TEST(ServiceRecordTest, NextStartEndsWhatAKilledShellLeftRunningWhereTheLeaderProvesItOurs) {
    TempDir dir;
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);  // the orphans come here, to be reaped
    ASSERT_EQ(::mkfifo((dir / "never-written").c_str(), 0600), 0);
    const std::string folder = dir / "services";
    const std::string stubborn = posix_test::writeScript(
        dir / "stubborn.sh",
        "trap '' TERM\nsleep 600 &\necho $! > \"$2\"\ntrap 'echo TERM >> \"$1\"' TERM\necho ready >> \"$1\"\n"
        "while :; do read line < \"$3\"; done\n");
    const std::string polite = posix_test::writeScript(dir / "polite.sh", "sleep 600 &\necho $! > \"$2\"\necho ready >> \"$1\"\nwait\n");
    std::vector<LaunchSpec> specs;
    for (const auto& [script, name] : {std::pair{stubborn, "stubborn"}, std::pair{polite, "polite"}}) {
        LaunchSpec& spec = specs.emplace_back();
        spec.executable = script;
        spec.arguments = {dir / name, dir / (std::string(name) + ".grandchild"), dir / "never-written"};
        spec.output = ChildOutput::nullDevice();
        spec.lifetime = ChildLifetime::EndsWithShell;
    }
    const auto forked = posix_test::forkShell(specs, {.recordFolder = folder});
    const pid_t shell = forked.pid;
    ASSERT_GT(shell, 0) << "cannot fork";  // never let -1 reach kill() below: that is every process
    const int pids[2] = {forked.launchedAll(2) ? forked.children[0] : -1, forked.launchedAll(2) ? forked.children[1] : -1};
    const bool ready = shell > 0 && forked.launchedAll(2) &&
                       eventually([&] { return fileContains(dir / "stubborn", "ready") && fileContains(dir / "polite", "ready"); });
    ::kill(shell, SIGKILL);
    ::waitpid(shell, nullptr, 0);
    const pid_t stubbornGrandchild = pidIn(dir / "stubborn.grandchild");
    const pid_t politeGrandchild = pidIn(dir / "polite.grandchild");

    // The parent-death SIGTERM: the polite service ends, the stubborn one notes it and stays.
    const bool heard = ready && eventually([&] { return fileContains(dir / "stubborn", "TERM"); });
    const bool politeEnded = ready && ::waitpid(pids[1], nullptr, 0) == pids[1];
    const bool stubbornStayed = running(pids[0]) && running(stubbornGrandchild);
    const int ended = ServiceRecord(folder).sweep();
    const bool stubbornGone = ::waitpid(pids[0], nullptr, WNOHANG) == pids[0];
    const bool grandchildGone = eventually([&] { return ::waitpid(stubbornGrandchild, nullptr, WNOHANG) == stubbornGrandchild; });
    const bool politeGrandchildLeft = running(politeGrandchild);

    for (const pid_t pid : {pids[0], stubbornGrandchild, politeGrandchild}) {
        if (pid > 0 && running(pid)) ::kill(pid, SIGKILL);
        if (pid > 0) ::waitpid(pid, nullptr, 0);
    }
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
    ASSERT_TRUE(ready) << "the forked shell could not start its services";
    ASSERT_TRUE(heard && politeEnded && stubbornStayed) << "the shell's death did not leave what it should";
    EXPECT_EQ(ended, 1);
    EXPECT_TRUE(stubbornGone) << "the sweep returned before the service it killed had exited";
    EXPECT_TRUE(grandchildGone) << "the service's grandchild survived the sweep";
    // Its group's leader is gone, so nothing proves the group still ours: it is left.
    EXPECT_TRUE(politeGrandchildLeft);
    EXPECT_EQ(filesIn(folder), 0) << "the dead shell's record was kept";
}

// Records naming a real process in a group of its own (a service of this test's launcher), each
// with one thing that must stop the sweep, or none.
TEST(ServiceRecordTest, SweepKillsOnlyAProvenLeaderOfADeadShellFromThisBoot) {
    const auto self = processIdentity(::getpid());
    ASSERT_TRUE(self);
    const struct {
        const char* name;
        bool shellAlive;
        bool startTimeMatches;
        bool sameBoot;
        bool killed;
    } cases[] = {
        {"a dead shell's leader, still running", false, true, true, true},
        {"the record of a shell that still runs", true, true, true, false},
        {"a leader whose pid now names another process", false, false, true, false},
        {"a record from an earlier boot", false, true, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        LinuxProcessLauncher launcher;
        LaunchSpec spec;
        spec.executable = "/bin/sleep";
        spec.arguments = {"600"};
        spec.lifetime = ChildLifetime::EndsWithShell;
        auto launched = launcher.launchChild(spec);
        ASSERT_TRUE(launched.ok()) << launched.reason();
        const auto service = launched.value();
        const auto identity = processIdentity(service->pid());
        ASSERT_TRUE(identity);
        EXPECT_EQ(identity->group, service->pid());

        const std::string folder = dir / "services";
        std::filesystem::create_directories(folder);
        const auto shellStart = self->startTime + (c.shellAlive ? 0 : 1);
        const std::string record = folder + "/shell-" + std::to_string(::getpid()) + "-" + std::to_string(shellStart);
        posix_test::writeFile(record, "boot " + (c.sameBoot ? bootId() : std::string("another-boot")) + "\ngroup " +
                                          std::to_string(service->pid()) + " " +
                                          std::to_string(identity->startTime + (c.startTimeMatches ? 0 : 1)) + "\n");

        EXPECT_EQ(ServiceRecord(folder).sweep(), c.killed ? 1 : 0);
        if (!c.killed) service->terminate();
        ASSERT_TRUE(eventually([&] { return !service->isRunning(); }));
        // A survivor ends on the test's own SIGTERM: no SIGKILL reached it.
        EXPECT_EQ(service->exit(), (ChildExit{ChildExit::Kind::Signalled, c.killed ? SIGKILL : SIGTERM}));
        EXPECT_EQ(std::filesystem::exists(record), c.shellAlive);
    }
}

}  // namespace
}  // namespace lorvane
