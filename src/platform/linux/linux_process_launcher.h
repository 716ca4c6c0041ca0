// The process launcher of the Linux desktop: clone + execve, one reaper thread per child, and the
// process groups that let the shell end a service together with everything it started.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/linux_service_record.h"
#include "platform/posix/posix_environment.h"
#include "platform/process_launcher.h"

namespace lorvane {

// How a child ended, as its reaper saw it.
struct ChildExit {
    enum class Kind { Exited, Signalled };
    Kind kind;
    int number;  // the exit code, or the signal that ended it
    bool operator==(const ChildExit&) const = default;
};

// Blocks until our child `pid` has exited, then reaps it, or leaves the zombie for a later call
// with KeepZombie. Absent when `pid` is not (or no longer) a child of ours.
enum class Reaping { Reap, KeepZombie };
std::optional<ChildExit> waitForChildExit(pid_t pid, Reaping reaping);

// A child of the launcher. Its process group is its own (setpgid in the child before exec): an
// EndsWithShell child leads a group, an Independent one a session. The pid, and so the group id,
// stays ours while the child is unreaped. A service that has exited is therefore left a zombie
// until nothing else is left in its group: until then its group id cannot pass to another
// process, so every signal to the group reaches the service's own processes only.
class LinuxChildProcess final : public ChildProcess {
public:
    LinuxChildProcess(pid_t pid, ChildLifetime lifetime) : pid_(pid), holdsGroup_(lifetime == ChildLifetime::EndsWithShell) {}

    bool isRunning() const override;
    // SIGTERM to the child's whole group, under the reaper's lock, so that a recycled pid is never
    // hit; does nothing once the child has exited.
    void terminate() override;
    int pid() const override { return pid_; }

    // How it ended; absent while it runs.
    std::optional<ChildExit> exit() const;
    // True once the child has exited and nothing else is left in its group; the exited service is
    // reaped then. Once seen empty, the group is never signalled again: its id may then be given
    // to another process.
    bool groupEnded();
    // SIGKILL to what is left of the group, and to the child itself should it have left the group.
    void killGroup();

    // Starts the thread that reaps this child. False (and no thread) when one cannot be started.
    static bool startReaper(const std::shared_ptr<LinuxChildProcess>& child);

private:
    void waitAndReap();  // on the reaper thread

    const pid_t pid_;
    const bool holdsGroup_;  // a service: left unreaped until its group is empty
    mutable std::mutex mutex_;
    bool exited_ = false;  // set under the mutex, in the same step that reaps an Independent child
    std::optional<ChildExit> exit_;
    bool groupEmpty_ = false;  // set under the mutex, in the same step that reaps a service
};

// Starts children with a vfork-style clone and execve, and reaps each one on a thread of its own
// (one blocking waitid per pid; never waitpid(-1), which would steal WebKit's helper processes).
// Linux only: it relies on clone(), MAP_STACK, close_range and PR_SET_PDEATHSIG.
class LinuxProcessLauncher final : public ProcessLauncher {
public:
    LinuxProcessLauncher() = default;
    // A child that inherits the shell's environment inherits these variables as the shell was
    // started with them (see PosixEnvironment).
    explicit LinuxProcessLauncher(ShellOnlyVariables shellOnlyVariables)
        : shellOnlyVariables_(std::move(shellOnlyVariables)) {}

    // Main thread only (see the contract in process_launcher.h). An EndsWithShell child is tied to
    // the calling *thread* by PR_SET_PDEATHSIG, which is one more reason to stay on it.
    Result<std::shared_ptr<ChildProcess>> launch(const LaunchSpec& spec) override;
    Result<std::shared_ptr<LinuxChildProcess>> launchChild(const LaunchSpec& spec);
    // The executable must be an executable file; `wrapper` (see handsOverToNode) also needs a node.
    bool canRun(const LaunchSpec& spec) override;

    // Main thread, before the first launch: `wrapper` is a runtime that, as the bundle's
    // runtime/node, starts the first node found in an absolute folder on the PATH it is given,
    // other than itself, else `systemNode`.
    void handsOverToNode(std::string wrapper, std::string systemNode = "/usr/bin/node") {
        nodeWrapper_ = std::move(wrapper);
        systemNode_ = std::move(systemNode);
    }

    // Main thread. The services are the EndsWithShell children: true when every one has exited
    // and its group is empty (grandchildren included).
    bool servicesEnded();
    // Main thread. SIGKILL to what is left of each service's group.
    void killServicesLeft();
    // Main thread, before the first launch: each service's group is noted in `record` (which
    // must outlive the launcher), for the sweep at the next start should this shell be killed.
    void recordServicesIn(ServiceRecord* record) { record_ = record; }

private:
    ShellOnlyVariables shellOnlyVariables_;
    std::string nodeWrapper_;
    std::string systemNode_;
    ServiceRecord* record_ = nullptr;
    std::vector<std::shared_ptr<LinuxChildProcess>> services_;
};

// What follows the shutdown pass, which asked the services to stop without waiting: the shell,
// out of sight, gives them a grace to end with everything they started, then kills what is left
// and gives the kernel a moment to reap it. Driven by the caller's polls, so it never blocks.
class ServiceGrace {
public:
    static constexpr double kGraceSeconds = 3.0;
    static constexpr double kReapSeconds = 1.0;

    ServiceGrace(LinuxProcessLauncher& launcher, double startedAt) : launcher_(launcher), startedAt_(startedAt) {}

    // `now` on the same monotonic clock as `startedAt`. True once nothing is left to wait for:
    // every service group is empty, or the grace and the reap time have both passed.
    bool poll(double now);
    // Whether the grace ran out and SIGKILL was sent.
    bool killed() const { return killed_; }

private:
    LinuxProcessLauncher& launcher_;
    const double startedAt_;
    bool killed_ = false;
};

}  // namespace lorvane
