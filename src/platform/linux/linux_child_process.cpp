// A launched child on Linux: its reaper thread, and the signals to its process group that end a
// service with everything it started.
#include <cerrno>
#include <csignal>

#include <pthread.h>
#include <sys/wait.h>

#include "platform/linux/linux_process_launcher.h"
#include "platform/linux/linux_service_record.h"

namespace lorvane {

std::optional<ChildExit> waitForChildExit(pid_t pid, Reaping reaping) {
    const int options = WEXITED | (reaping == Reaping::KeepZombie ? WNOWAIT : 0);
    siginfo_t info{};
    int result;
    do {
        result = ::waitid(P_PID, static_cast<id_t>(pid), &info, options);
    } while (result != 0 && errno == EINTR);
    if (result != 0) return std::nullopt;
    return ChildExit{info.si_code == CLD_EXITED ? ChildExit::Kind::Exited : ChildExit::Kind::Signalled, info.si_status};
}

bool LinuxChildProcess::isRunning() const {
    std::lock_guard lock(mutex_);
    return !exited_;
}

// An unreaped pid cannot have been recycled, and neither can the id of the group it leads, so the
// signal reaches our child's own group only. A child that left its group gets the signal itself.
void LinuxChildProcess::terminate() {
    std::lock_guard lock(mutex_);
    if (exited_) return;
    if (::kill(-pid_, SIGTERM) != 0) ::kill(pid_, SIGTERM);
}

std::optional<ChildExit> LinuxChildProcess::exit() const {
    std::lock_guard lock(mutex_);
    return exit_;
}

// The exited service is still unreaped here, so its group id is still its own: members found
// are ours. With none left, the zombie is reaped and the group is never looked at again.
bool LinuxChildProcess::groupEnded() {
    std::lock_guard lock(mutex_);
    if (!exited_) return false;
    if (!groupEmpty_ && !groupHasMembersBesides(pid_, pid_)) {
        if (holdsGroup_ && exit_) waitForChildExit(pid_, Reaping::Reap);
        groupEmpty_ = true;
    }
    return groupEmpty_;
}

void LinuxChildProcess::killGroup() {
    std::lock_guard lock(mutex_);
    if (groupEmpty_) return;
    ::kill(-pid_, SIGKILL);
    if (!exited_) ::kill(pid_, SIGKILL);
}

// Waits without reaping, then marks the child exited under the lock; an Independent child is
// reaped in the same step, so that no signal sent under the lock can reach a process that took
// over the pid. A service stays a zombie for groupEnded() to reap.
void LinuxChildProcess::waitAndReap() {
    const std::optional<ChildExit> ended = waitForChildExit(pid_, Reaping::KeepZombie);
    std::lock_guard lock(mutex_);
    // On failure (ECHILD: someone else reaped it, or SIGCHLD is ignored) the pid is no longer
    // ours either, so it is treated as exited, with its group gone, all the same.
    if (ended && !holdsGroup_) waitForChildExit(pid_, Reaping::Reap);
    if (!ended) groupEmpty_ = true;
    exit_ = ended;
    exited_ = true;
}

bool LinuxChildProcess::startReaper(const std::shared_ptr<LinuxChildProcess>& child) {
    pthread_attr_t attributes;
    if (::pthread_attr_init(&attributes) != 0) return false;
    ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    auto* argument = new std::shared_ptr<LinuxChildProcess>(child);
    const auto reap = [](void* owned) -> void* {
        const std::shared_ptr<LinuxChildProcess> self = std::move(*static_cast<std::shared_ptr<LinuxChildProcess>*>(owned));
        delete static_cast<std::shared_ptr<LinuxChildProcess>*>(owned);
        self->waitAndReap();
        return nullptr;
    };
    pthread_t thread;
    // pthread_create reports failure as a value, where std::thread would throw.
    const int error = ::pthread_create(&thread, &attributes, reap, argument);
    ::pthread_attr_destroy(&attributes);
    if (error != 0) delete argument;
    return error == 0;
}

bool LinuxProcessLauncher::servicesEnded() {
    bool ended = true;
    for (const auto& service : services_) ended = service->groupEnded() && ended;
    return ended;
}

void LinuxProcessLauncher::killServicesLeft() {
    for (const auto& service : services_) service->killGroup();
}

bool ServiceGrace::poll(double now) {
    if (launcher_.servicesEnded()) return true;
    const double waited = now - startedAt_;
    if (!killed_ && waited >= kGraceSeconds) {
        launcher_.killServicesLeft();
        killed_ = true;
        return launcher_.servicesEnded();
    }
    // Past this, what is left cannot be killed (a process stuck in the kernel) or is a zombie that
    // its new parent does not reap; the shell does not wait for either.
    return killed_ && waited >= kGraceSeconds + kReapSeconds;
}

}  // namespace lorvane
