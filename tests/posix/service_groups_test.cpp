// Services as process groups, for real: SIGTERM to the whole group, the grace, SIGKILL to what is
// left; what a shell killed outright leaves behind, and the next start's sweep of it.
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <regex>
#include <string>
#include <tuple>

#include <linux/sched.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/linux/linux_process_launcher.h"
#include "posix_test_support.h"

namespace lorvane {
namespace {

using namespace posix_test;

// Every script is started with: $1 a file noting "ready" once its traps are set and then each
// signal it handles, $2 a FIFO nobody writes (waiting on it, a handled signal interrupts the open,
// and no child of its own is left behind by a SIGKILL), $3 a file for a grandchild's pid. Each
// notes its own pid in $1.pid.
const std::string kNoting = "trap 'echo TERM >> \"$1\"' TERM\ntrap 'echo WINCH >> \"$1\"' WINCH\necho ready >> \"$1\"\n"
                            "while :; do read line < \"$2\"; done\n";
// An ignored signal stays ignored across fork and exec: the grandchild ignores SIGTERM too.
const std::string kStubborn = "trap '' TERM\nsleep 600 &\necho $! > \"$3\"\n" + kNoting;
// Not the script's own child but a member of its group: only a signal to the group reaches it.
const std::string kPolite = "sleep 600 &\necho $! > \"$3\"\necho ready >> \"$1\"\nwait\n";
const std::string kGoneAtOnce = "sleep 600 &\necho $! > \"$3\"\necho ready >> \"$1\"\n";

LaunchSpec service(const TempDir& dir, const std::string& name, const std::string& body, ChildLifetime lifetime) {
    if (!fs::exists(dir / "fifo")) {
        EXPECT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    }
    const std::string script = writeFile(dir / name + ".sh", "#!/bin/sh\necho $$ > \"$1.pid\"\n" + body, 0755);
    const std::vector<std::string> arguments{dir / name, dir / "fifo", dir / name + ".gc"};
    return {script, arguments, "", std::nullopt, ChildOutput::nullDevice(), lifetime};
}

TEST(ServiceGroups, SigtermGoesToTheGroupAndWhatOutlivesTheGraceIsKilled) {
    // The script; whether it is gone before the quit (its grandchild still in the group); whether
    // something outlives SIGTERM; how the service ends.
    const std::tuple<const char*, const std::string&, bool, bool, ChildExit> cases[] = {
        {"ends on SIGTERM, with a grandchild", kPolite, false, false, {ChildExit::Kind::Signalled, SIGTERM}},
        {"stays, with a grandchild that ignores it", kStubborn, false, true, {ChildExit::Kind::Signalled, SIGKILL}},
        {"gone before the quit, its grandchild still in the group", kGoneAtOnce, true, true,
         {ChildExit::Kind::Exited, 0}},
    };
    for (const auto& [name, script, goneBeforeQuit, outlivesSigterm, serviceExit] : cases) {
        SCOPED_TRACE(name);
        TempDir dir;
        Subreaper subreaper;
        LinuxProcessLauncher launcher;
        auto launched = launcher.launchChild(service(dir, "service", script, ChildLifetime::EndsWithShell));
        ASSERT_TRUE(launched.ok()) << launched.reason();
        const auto child = launched.value();
        const std::shared_ptr<void> cleanup(nullptr, [&](void*) { child->killGroup(); });
        ASSERT_TRUE(eventually([&] { return contains(dir / "service", "ready"); }));
        const pid_t grandchild = pidIn(dir / "service.gc");
        ASSERT_GT(grandchild, 0);
        if (goneBeforeQuit) { ASSERT_TRUE(eventually([&] { return !child->isRunning(); })); }

        child->terminate();
        ServiceGrace grace(launcher, 100.0);  // on a clock of the test's own
        // An orphaned grandchild is the test's to reap, as the session's subreaper would.
        int grandchildStatus = 0;
        const auto poll = [&](double now) {
            ::waitpid(grandchild, &grandchildStatus, WNOHANG);
            return grace.poll(now);
        };
        if (outlivesSigterm) {
            if (!goneBeforeQuit) { ASSERT_TRUE(eventually([&] { return contains(dir / "service", "TERM"); })); }
            EXPECT_FALSE(poll(102.9));
            EXPECT_FALSE(grace.killed()) << "killed before the grace had passed";
            // Killed at its end; the grandchild, unreaped, keeps the group for the reap time, after
            // which nothing more is waited for.
            EXPECT_FALSE(grace.poll(103.0));
            EXPECT_TRUE(grace.killed());
            EXPECT_TRUE(grace.poll(104.0));
        }
        // From here the real processes get one second of real time, the reap time.
        EXPECT_TRUE(eventually([&] { return poll(outlivesSigterm ? 103.0 : 100.0); }, 1));
        EXPECT_EQ(grace.killed(), outlivesSigterm);
        EXPECT_EQ(child->exit(), serviceExit);
        // An orphan from the start, so surely reaped here: a SIGTERM was sent after the reap.
        if (goneBeforeQuit) { EXPECT_EQ(WTERMSIG(grandchildStatus), SIGKILL); }
        for (const pid_t pid : {static_cast<pid_t>(child->pid()), grandchild}) {
            EXPECT_FALSE(fs::exists("/proc/" + std::to_string(pid))) << pid << " is left";  // nor a zombie
        }
        EXPECT_TRUE(launcher.servicesEnded());
    }
}

// Another program's process that leads a group under `id`: started with that very pid (clone3's
// set_tid, which needs root). The pid, or -1 with errno saying why not (EEXIST: the id is taken).
pid_t strangerLeading(pid_t id) {
    pid_t ids[] = {id};
    clone_args args{};
    args.exit_signal = SIGCHLD;
    args.set_tid = reinterpret_cast<std::uintptr_t>(ids);
    args.set_tid_size = 1;
    const long pid = ::syscall(SYS_clone3, &args, sizeof args);
    if (pid == 0) {
        ::setpgid(0, 0);
        for (;;) ::pause();
    }
    return static_cast<pid_t>(pid);
}

TEST(ServiceGroups, AServiceGoneBeforeTheQuitHoldsItsGroupIdUntilTheGroupIsEmptyAndWhoTakesItLaterHearsNothing) {
    LinuxProcessLauncher launcher;
    auto launched = launcher.launchChild({"/bin/true", {}, "", std::nullopt, ChildOutput::nullDevice(), ChildLifetime::EndsWithShell});
    ASSERT_TRUE(launched.ok()) << launched.reason();
    const auto child = launched.value();
    ASSERT_TRUE(eventually([&] { return !child->isRunning(); }));
    const pid_t id = child->pid();
    // Until the shell has seen the group empty, the id stays the service's.
    const pid_t early = strangerLeading(id);
    const int why = errno;
    if (early > 0) {
        ::kill(early, SIGKILL);
        ::waitpid(early, nullptr, 0);
    }
    if (early < 0 && why == EPERM) GTEST_SKIP() << "taking a chosen pid needs root";
    EXPECT_EQ(early, -1) << "the id was free while the group could still be the service's";
    EXPECT_EQ(why, EEXIST);

    child->terminate();
    ServiceGrace grace(launcher, 100.0);
    EXPECT_TRUE(grace.poll(100.0)) << "an empty group is waited for";
    const pid_t stranger = strangerLeading(id);
    ASSERT_EQ(stranger, id) << "the id is still held: " << std::strerror(errno);
    const std::shared_ptr<void> cleanup(nullptr, [&](void*) {
        ::kill(stranger, SIGKILL);
        ::waitpid(stranger, nullptr, 0);
    });
    ASSERT_TRUE(eventually([&] { return processIdentity(stranger).value_or(ProcessIdentity{0, 0}).group == stranger; }));
    child->terminate();
    child->killGroup();
    EXPECT_TRUE(grace.poll(104.0));
    EXPECT_FALSE(grace.killed());
    EXPECT_TRUE(alive(stranger));
}

// A terminal's hang-up and Ctrl+C go to the shell's process group; then the shell is killed
// outright. Its services hear the parent-death SIGTERM, and the next start's sweep ends only what
// the record proves to be the dead shell's. (The launcher script outliving it is the desktop's.)
TEST(KilledShell, ServicesHearItAndTheNextStartEndsWhatTheyLeft) {
    TempDir dir;
    Subreaper subreaper;
    const std::string records = dir / "services";
    const LaunchSpec specs[] = {service(dir, "stubborn", kStubborn, ChildLifetime::EndsWithShell),
                                service(dir, "polite", kPolite, ChildLifetime::EndsWithShell)};
    const pid_t shell = ::fork();
    if (shell == 0) {
        // A group of its own, so that the terminal's signals spare the test; the desktop handles
        // both, which this stand-in does by ignoring them. Children start with default dispositions.
        ::setpgid(0, 0);
        ::signal(SIGHUP, SIG_IGN);
        ::signal(SIGINT, SIG_IGN);
        ServiceRecord record(records);
        LinuxProcessLauncher launcher;
        launcher.recordServicesIn(&record);
        for (const LaunchSpec& spec : specs) (void)launcher.launch(spec);
        for (;;) ::pause();
    }
    ASSERT_GT(shell, 0) << "cannot fork";  // never let -1 reach kill() below: that is every process
    const bool ready = eventually([&] { return contains(dir / "stubborn", "ready") && contains(dir / "polite", "ready"); });
    ::kill(-shell, SIGHUP);
    ::kill(-shell, SIGINT);
    ::kill(shell, SIGKILL);
    ::waitpid(shell, nullptr, 0);
    // From here all of them are the test's: its orphans, unreaped until the cleanup, so that no pid is reused.
    pid_t stubborn = pidIn(dir / "stubborn.pid");
    const pid_t polite = pidIn(dir / "polite.pid");
    const pid_t stubbornGrandchild = pidIn(dir / "stubborn.gc"), politeGrandchild = pidIn(dir / "polite.gc");
    const std::shared_ptr<void> cleanup(nullptr, [&](void*) {
        for (const pid_t pid : {stubborn, stubbornGrandchild, politeGrandchild}) {
            if (pid <= 0) continue;
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    });
    ASSERT_TRUE(ready) << "the forked shell could not start its children";
    // The shell's end has sent the parent-death signals before waitpid returned. dash runs traps in
    // signal-number order, so a WINCH noted marks the point by which a HUP, INT or TERM would have.
    ::kill(stubborn, SIGWINCH);
    eventually([&] { return contains(dir / "stubborn", "WINCH"); }, 2);
    // Once or more: the death of each thread that was its parent in turn sends the signal again.
    EXPECT_TRUE(std::regex_match(readFile(dir / "stubborn"), std::regex("ready\n(TERM\n)+WINCH\n")))
        << readFile(dir / "stubborn");
    EXPECT_TRUE(eventually([&] { return ::waitpid(polite, nullptr, WNOHANG) == polite; }, 2))
        << "no parent-death signal";

    // Records that must stop the sweep, naming a live service of the test's own: the record of a
    // shell that still runs, and one of a dead shell whose leader's start time is not the recorded one.
    LinuxProcessLauncher launcher;
    auto decoy = launcher.launchChild({"/bin/sleep", {"600"}, "", std::nullopt, {}, ChildLifetime::EndsWithShell});
    ASSERT_TRUE(decoy.ok()) << decoy.reason();
    const std::shared_ptr<void> decoyCleanup(nullptr, [&](void*) { decoy.value()->killGroup(); });
    const auto leaderStart = std::to_string(processIdentity(decoy.value()->pid()).value().startTime);
    const std::string group = "group " + std::to_string(decoy.value()->pid()) + " ";
    const std::string boot = "boot " + readFile("/proc/sys/kernel/random/boot_id");
    const auto self = processIdentity(::getpid()).value();
    const std::string running = records + "/shell-" + std::to_string(::getpid()) + "-" + std::to_string(self.startTime);
    writeFile(running, boot + group + leaderStart + "\n");
    writeFile(running + "1", boot + group + leaderStart + "1\n");

    EXPECT_EQ(ServiceRecord(records).sweep(), 1);
    const bool stubbornGone = ::waitpid(stubborn, nullptr, WNOHANG) == stubborn;
    if (stubbornGone) stubborn = -1;  // reaped: its pid may be reused
    EXPECT_TRUE(stubbornGone) << "the sweep returned before the service it killed had exited";
    EXPECT_TRUE(eventually([&] { return !alive(stubbornGrandchild); }, 2))
        << "the service's grandchild survived the sweep";
    // Its group's leader is gone, so nothing proves the group still ours: it is left alone.
    EXPECT_TRUE(alive(politeGrandchild));
    EXPECT_TRUE(decoy.value()->isRunning());
    EXPECT_TRUE(fs::exists(running));
    EXPECT_EQ(std::distance(fs::directory_iterator(records), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace lorvane
