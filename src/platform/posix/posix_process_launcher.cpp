// Child processes on POSIX: a vfork-style clone + execve with a clean descriptor table and signal
// state, exec failures reported back through a close-on-exec pipe, and one reaper thread per child.
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#ifdef __linux__
#include <sys/prctl.h>
#include <sys/syscall.h>
#endif

#include "platform/posix/posix_platform.h"

extern char** environ;

namespace lorvane {
namespace {

// Owns one descriptor of the shell.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.release();
        }
        return *this;
    }
    int get() const { return fd_; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

// A close-on-exec copy of `fd` numbered 3 or above. A GUI app may run with 0-2 closed, and the
// child's dup2 onto 1 and 2 must never land on one of these private descriptors.
UniqueFd highDuplicate(int fd) { return UniqueFd(::fcntl(fd, F_DUPFD_CLOEXEC, 3)); }

// A pipe whose both ends are close-on-exec (atomically where the system allows it, so that a
// concurrent fork on another thread cannot carry the ends into an unrelated child).
bool makeCloseOnExecPipe(int ends[2]) {
#ifdef __linux__
    return ::pipe2(ends, O_CLOEXEC) == 0;
#else
    if (::pipe(ends) != 0) return false;
    ::fcntl(ends[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(ends[1], F_SETFD, FD_CLOEXEC);
    return true;
#endif
}

std::string describe(const char* what, const std::string& subject, int error) {
    return std::string(what) + " " + subject + ": " + std::strerror(error);
}

// What the child reports through the error pipe when it cannot get to exec.
enum class ChildStage : int { WorkingDirectory = 1, Exec = 2, Output = 3 };
struct ChildError {
    ChildStage stage;
    int error;
};

// The child's code runs on a stack the sanitizers do not know, in the memory of a thread that is
// held still meanwhile; instrumenting it would only report that stack as wild.
#define LORVANE_CHILD_CODE __attribute__((no_sanitize("address", "undefined")))

// Everything the child needs, prepared before it starts: the child shares the shell's memory
// until exec and may only make async-signal-safe calls, so it must not allocate.
struct ChildPlan {
    const char* executable;
    char* const* argv;
    char* const* envp;        // null: the shell's own environ
    const char* workingDirectory;  // null: stay where the shell is
    int outputFd;             // -1: leave 1 and 2 as they are
    int errorFd;              // write end of the error pipe, close-on-exec
    bool endsWithShell;
    pid_t shellPid;
    long descriptorLimit;     // for closing descriptors where close_range is missing
};

[[noreturn]] LORVANE_CHILD_CODE void failInChild(const ChildPlan& plan, ChildStage stage, int error) {
    ChildError report{stage, error};
    ssize_t written;
    do {
        written = ::write(plan.errorFd, &report, sizeof report);
    } while (written < 0 && errno == EINTR);
    ::_exit(127);
}

// Closes every descriptor from `first` through `last`.
LORVANE_CHILD_CODE void closeRange(int first, int last, long descriptorLimit) {
    if (first > last) return;
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, static_cast<unsigned>(first), static_cast<unsigned>(last), 0u) == 0) return;
#endif
    long end = last < descriptorLimit ? last : descriptorLimit - 1;
    for (long fd = first; fd <= end; ++fd) ::close(static_cast<int>(fd));
}

// Runs in the child until exec; all signals are blocked on entry.
[[noreturn]] LORVANE_CHILD_CODE void runChild(const ChildPlan& plan) {
    // Handlers of the shell must never run here, and ignored signals (SIGPIPE in a GUI app) would
    // stay ignored across exec, so every disposition goes back to its default first.
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
        ::sigaction(signalNumber, &defaultAction, nullptr);  // fails harmlessly for KILL, STOP
    }

#ifdef __linux__
    if (plan.endsWithShell) {
        // PDEATHSIG fires when the *thread* that started the child ends, not the process: launches
        // must come from the main thread, which lives as long as the shell.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        // The shell may have died before the request took effect; then nobody will send it.
        if (::getppid() != plan.shellPid) ::_exit(127);
    }
#endif

    if (plan.outputFd >= 0) {
        // dup2 clears close-on-exec on 1 and 2; outputFd itself is >= 3 and goes at exec.
        if (::dup2(plan.outputFd, STDOUT_FILENO) < 0) failInChild(plan, ChildStage::Output, errno);
        if (::dup2(plan.outputFd, STDERR_FILENO) < 0) failInChild(plan, ChildStage::Output, errno);
    }
    // Only the error pipe survives until exec, which closes it (close-on-exec).
    closeRange(3, plan.errorFd - 1, plan.descriptorLimit);
    closeRange(plan.errorFd + 1, INT_MAX, plan.descriptorLimit);

    if (plan.workingDirectory && ::chdir(plan.workingDirectory) != 0) {
        failInChild(plan, ChildStage::WorkingDirectory, errno);
    }

    sigset_t empty;
    sigemptyset(&empty);
    ::sigprocmask(SIG_SETMASK, &empty, nullptr);
    ::execve(plan.executable, plan.argv, plan.envp ? plan.envp : environ);
    failInChild(plan, ChildStage::Exec, errno);
}

LORVANE_CHILD_CODE int childEntry(void* plan) { runChild(*static_cast<const ChildPlan*>(plan)); }

// The child runs in the shell's memory on a stack of its own, and the calling thread is held until
// the child has exec'd or exited (CLONE_VFORK), as posix_spawn does. A plain fork would copy the
// page tables of a process that has a web view mapped, then fault its pages in again as the child
// runs: tens of milliseconds on the main thread for every service started.
pid_t startChild(const ChildPlan& plan) {
    constexpr std::size_t kStackBytes = 256 * 1024;
    void* stack = ::mmap(nullptr, kStackBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (stack == MAP_FAILED) return -1;
    const pid_t pid = ::clone(childEntry, static_cast<char*>(stack) + kStackBytes, CLONE_VM | CLONE_VFORK | SIGCHLD,
                              const_cast<ChildPlan*>(&plan));
    const int error = errno;
    ::munmap(stack, kStackBytes);
    errno = error;
    return pid;
}

// Shared between a ChildProcess and the thread that reaps it.
struct ChildState {
    explicit ChildState(pid_t processId) : pid(processId) {}
    const pid_t pid;
    std::mutex mutex;
    bool exited = false;  // set, under the mutex, in the same step that reaps the pid
};

class PosixChildProcess final : public ChildProcess {
public:
    explicit PosixChildProcess(std::shared_ptr<ChildState> state) : state_(std::move(state)) {}

    bool isRunning() const override {
        std::lock_guard lock(state_->mutex);
        return !state_->exited;
    }
    // Under the reaper's mutex: an unreaped pid cannot have been recycled, so the signal can only
    // reach our own child (or its zombie, harmlessly).
    void terminate() override {
        std::lock_guard lock(state_->mutex);
        if (!state_->exited) ::kill(state_->pid, SIGTERM);
    }
    int pid() const override { return state_->pid; }

private:
    std::shared_ptr<ChildState> state_;
};

// The reaper: waits without reaping, then reaps and marks the child exited in one locked step.
void* reapChild(void* argument) {
    auto* owned = static_cast<std::shared_ptr<ChildState>*>(argument);
    std::shared_ptr<ChildState> state = std::move(*owned);
    delete owned;

    siginfo_t info{};
    int result;
    do {
        result = ::waitid(P_PID, static_cast<id_t>(state->pid), &info, WEXITED | WNOWAIT);
    } while (result != 0 && errno == EINTR);

    std::lock_guard lock(state->mutex);
    // On failure (ECHILD: someone else reaped it, or SIGCHLD is ignored) the pid is no longer
    // ours either, so it is treated as exited all the same.
    if (result == 0) {
        int status = 0;
        while (::waitpid(state->pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    state->exited = true;
    return nullptr;
}

bool startReaper(const std::shared_ptr<ChildState>& state) {
    pthread_attr_t attributes;
    if (::pthread_attr_init(&attributes) != 0) return false;
    ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    auto* argument = new std::shared_ptr<ChildState>(state);
    pthread_t thread;
    // pthread_create reports failure as a value, where std::thread would throw.
    int error = ::pthread_create(&thread, &attributes, reapChild, argument);
    ::pthread_attr_destroy(&attributes);
    if (error != 0) delete argument;
    return error == 0;
}

// Null-terminated pointer array over `strings`, which must outlive it.
std::vector<char*> pointersTo(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (auto& text : strings) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

long descriptorLimit() {
    long limit = ::sysconf(_SC_OPEN_MAX);
    return limit > 0 ? limit : 1024;
}

}  // namespace

Result<std::shared_ptr<ChildProcess>> PosixProcessLauncher::launch(const LaunchSpec& spec) {
    if (spec.executable.empty()) return Failure{"no executable given"};

    std::vector<std::string> argumentStrings{spec.executable};
    argumentStrings.insert(argumentStrings.end(), spec.arguments.begin(), spec.arguments.end());
    std::vector<char*> argv = pointersTo(argumentStrings);

    // An inherited environment is passed as it is unless the shell added variables for itself.
    std::optional<Environment> inherited;
    if (!spec.environment && !shellOnlyVariables_.empty()) inherited = PosixEnvironment(shellOnlyVariables_).snapshot();
    const Environment* environment = spec.environment ? &*spec.environment : inherited ? &*inherited : nullptr;
    std::vector<std::string> environmentStrings;
    std::vector<char*> envp;
    if (environment) {
        for (const auto& [name, value] : *environment) environmentStrings.push_back(name + "=" + value);
        envp = pointersTo(environmentStrings);
    }

    UniqueFd output;
    switch (spec.output.kind) {
    case ChildOutput::Kind::InheritFromShell:
        break;
    case ChildOutput::Kind::NullDevice:
        output = UniqueFd(::open("/dev/null", O_WRONLY | O_CLOEXEC | O_NOCTTY));
        if (output.get() < 0) return Failure{describe("cannot open", "/dev/null", errno)};
        if (output.get() < 3) output = highDuplicate(output.get());
        if (output.get() < 0) return Failure{describe("cannot duplicate", "/dev/null", errno)};
        break;
    case ChildOutput::Kind::File:
        // A closed handle has no descriptor; it falls back to the shell's streams, as an absent
        // handle does (ChildOutput::toFile).
        if (spec.output.file && spec.output.file->descriptor() >= 0) {
            // A private copy: the child gets the file even if the handle is closed meanwhile.
            output = highDuplicate(spec.output.file->descriptor());
            if (output.get() < 0) return Failure{describe("cannot duplicate", "the output handle", errno)};
        }
        break;
    }

    int pipeEnds[2];
    if (!makeCloseOnExecPipe(pipeEnds)) return Failure{describe("cannot create", "the error pipe", errno)};
    UniqueFd errorRead(pipeEnds[0]);
    UniqueFd errorWrite(pipeEnds[1]);
    if (errorRead.get() < 3) errorRead = highDuplicate(errorRead.get());
    if (errorWrite.get() < 3) errorWrite = highDuplicate(errorWrite.get());
    if (errorRead.get() < 0 || errorWrite.get() < 0) {
        return Failure{describe("cannot duplicate", "the error pipe", errno)};
    }

    const ChildPlan plan{
        spec.executable.c_str(),
        argv.data(),
        environment ? envp.data() : nullptr,
        spec.workingDirectory.empty() ? nullptr : spec.workingDirectory.c_str(),
        output.get(),
        errorWrite.get(),
        spec.lifetime == ChildLifetime::EndsWithShell,
        ::getpid(),
        descriptorLimit(),
    };

    // With every signal blocked while the child starts, no handler of the shell can run in the
    // child before it has reset the dispositions; the child unblocks them just before exec.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t pid = startChild(plan);
    const int startError = errno;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (pid < 0) return Failure{describe("cannot start", spec.executable, startError)};

    errorWrite.reset();
    output.reset();

    // End of file means exec succeeded (the pipe closed on exec); a full report means it did not.
    ChildError report{};
    ssize_t received;
    do {
        received = ::read(errorRead.get(), &report, sizeof report);
    } while (received < 0 && errno == EINTR);

    if (received > 0) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (received != static_cast<ssize_t>(sizeof report)) return Failure{"cannot start " + spec.executable};
        switch (report.stage) {
        case ChildStage::WorkingDirectory:
            return Failure{describe("cannot enter working directory", spec.workingDirectory, report.error)};
        case ChildStage::Output:
            return Failure{describe("cannot redirect the output of", spec.executable, report.error)};
        case ChildStage::Exec:
            break;
        }
        return Failure{describe("cannot run", spec.executable, report.error)};
    }

    auto state = std::make_shared<ChildState>(pid);
    if (!startReaper(state)) {
        // Without a reaper the child would be left a zombie forever; this launch fails instead.
        ::kill(pid, SIGKILL);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return Failure{"cannot start a reaper thread for " + spec.executable};
    }
    return std::shared_ptr<ChildProcess>(std::make_shared<PosixChildProcess>(std::move(state)));
}

}  // namespace lorvane
