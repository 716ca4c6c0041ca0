// Child processes on Linux: a vfork-style clone + execve with a clean descriptor table and signal
// state, exec failures reported back through a close-on-exec pipe, and one reaper thread per child.
#include "platform/linux/linux_process_launcher.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/posix/descriptors.h"
#include "platform/posix/posix_environment.h"

extern char** environ;

namespace lorvane {
namespace {

// The child's code runs on a stack the sanitizers do not know, in the memory of a thread that is
// held still meanwhile; instrumenting it would only report that stack as wild.
#define LORVANE_CHILD_CODE __attribute__((no_sanitize("address", "undefined")))


std::string describe(const char* what, const std::string& subject, int error) {
    return std::string(what) + " " + subject + ": " + std::strerror(error);
}

// ---- Step 1, in the shell: the file actions (argv, environment, output and error pipe) ----

// Null-terminated pointer array over `strings`, which must outlive it.
std::vector<char*> pointersTo(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (auto& text : strings) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// The argument and environment arrays of one launch, built before the child starts: the child
// shares the shell's memory until exec and must not allocate.
struct ExecArrays {
    std::vector<std::string> argumentStrings;
    std::vector<char*> argv;
    std::vector<std::string> environmentStrings;
    std::vector<char*> envp;  // empty: the shell's own environ

    ExecArrays(const LaunchSpec& spec, const ShellOnlyVariables& shellOnlyVariables) {
        argumentStrings.push_back(spec.executable);
        argumentStrings.insert(argumentStrings.end(), spec.arguments.begin(), spec.arguments.end());
        argv = pointersTo(argumentStrings);
        // An inherited environment is passed as it is unless the shell set or changed variables for itself.
        std::optional<Environment> inherited;
        if (!spec.environment && !shellOnlyVariables.empty()) inherited = PosixEnvironment(shellOnlyVariables).snapshot();
        const Environment* environment = spec.environment ? &*spec.environment : inherited ? &*inherited : nullptr;
        if (!environment) return;
        for (const auto& [name, value] : *environment) environmentStrings.push_back(name + "=" + value);
        envp = pointersTo(environmentStrings);
    }
    ExecArrays(const ExecArrays&) = delete;
    ExecArrays& operator=(const ExecArrays&) = delete;
};

// The descriptor the child's standard output and error are copied from; an empty one leaves them
// as the shell has them.
Result<UniqueFd> openOutput(const ChildOutput& output) {
    switch (output.kind) {
    case ChildOutput::Kind::InheritFromShell:
        return UniqueFd();
    case ChildOutput::Kind::NullDevice: {
        UniqueFd null(::open("/dev/null", O_WRONLY | O_CLOEXEC | O_NOCTTY));
        if (null.get() < 0) return Failure{describe("cannot open", "/dev/null", errno)};
        if (null.get() < 3) null = duplicateAboveStandardStreams(null.get());
        if (null.get() < 0) return Failure{describe("cannot duplicate", "/dev/null", errno)};
        return null;
    }
    case ChildOutput::Kind::File:
        // A closed handle has no descriptor; it falls back to the shell's streams, as an absent
        // handle does (ChildOutput::toFile).
        if (!output.file || output.file->descriptor() < 0) return UniqueFd();
        // A private copy: the child gets the file even if the handle is closed meanwhile.
        if (UniqueFd copy = duplicateAboveStandardStreams(output.file->descriptor()); copy.get() >= 0) return copy;
        return Failure{describe("cannot duplicate", "the output handle", errno)};
    }
    return UniqueFd();
}

// The pipe on which the child reports a failure before exec. Both ends are close-on-exec from the
// start, so that a concurrent fork on another thread cannot carry them into an unrelated child.
struct ErrorPipe {
    UniqueFd read;
    UniqueFd write;
};
Result<ErrorPipe> openErrorPipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return Failure{describe("cannot create", "the error pipe", errno)};
    ErrorPipe pipe{UniqueFd(ends[0]), UniqueFd(ends[1])};
    if (pipe.read.get() < 3) pipe.read = duplicateAboveStandardStreams(pipe.read.get());
    if (pipe.write.get() < 3) pipe.write = duplicateAboveStandardStreams(pipe.write.get());
    if (pipe.read.get() < 0 || pipe.write.get() < 0) return Failure{describe("cannot duplicate", "the error pipe", errno)};
    return pipe;
}

// ---- Steps 2 and 3, in the child: close descriptors, then exec ----

// What the child reports through the error pipe when it cannot get to exec.
enum class ChildStage : int { WorkingDirectory = 1, Exec = 2, Output = 3, ProcessGroup = 4 };
struct ChildError {
    ChildStage stage;
    int error;
};

// Everything the child needs, prepared before it starts.
struct ChildPlan {
    const char* executable;
    char* const* argv;
    char* const* envp;             // null: the shell's own environ
    const char* workingDirectory;  // null: stay where the shell is
    int outputFd;                  // -1: leave 1 and 2 as they are
    int errorFd;                   // write end of the error pipe, close-on-exec
    bool endsWithShell;
    pid_t shellPid;
    long descriptorLimit;  // for closing descriptors where close_range is missing
};

// The child installs no handler, so no signal can interrupt this write with EINTR, and a report
// this small goes into the empty pipe whole.
[[noreturn]] LORVANE_CHILD_CODE void failInChild(const ChildPlan& plan, ChildStage stage, int error) {
    const ChildError report{stage, error};
    (void)!::write(plan.errorFd, &report, sizeof report);
    ::_exit(127);
}

// Handlers of the shell must never run in the child, and ignored signals (SIGPIPE in a GUI app)
// would stay ignored across exec, so every disposition goes back to its default.
LORVANE_CHILD_CODE void resetSignalDispositions() {
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
        ::sigaction(signalNumber, &defaultAction, nullptr);  // fails harmlessly for KILL, STOP
    }
}

// Closes every descriptor from `first` through `last`, one by one up to the descriptor limit on a
// kernel older than close_range (5.9).
LORVANE_CHILD_CODE void closeRange(int first, int last, long descriptorLimit) {
    if (first > last) return;
    if (::syscall(SYS_close_range, static_cast<unsigned>(first), static_cast<unsigned>(last), 0u) == 0) return;
    const long end = last < descriptorLimit ? last : descriptorLimit - 1;
    for (long fd = first; fd <= end; ++fd) ::close(static_cast<int>(fd));
}

// Standard output and error onto the planned descriptor, then every descriptor from 3 up closed
// but the error pipe, which exec closes (close-on-exec).
LORVANE_CHILD_CODE void closeDescriptors(const ChildPlan& plan) {
    if (plan.outputFd >= 0) {
        // dup2 clears close-on-exec on 1 and 2; outputFd itself is >= 3 and goes below.
        if (::dup2(plan.outputFd, STDOUT_FILENO) < 0) failInChild(plan, ChildStage::Output, errno);
        if (::dup2(plan.outputFd, STDERR_FILENO) < 0) failInChild(plan, ChildStage::Output, errno);
    }
    closeRange(3, plan.errorFd - 1, plan.descriptorLimit);
    closeRange(plan.errorFd + 1, INT_MAX, plan.descriptorLimit);
}

// Runs in the child until exec; all signals are blocked on entry.
[[noreturn]] LORVANE_CHILD_CODE void runChild(const ChildPlan& plan) {
    resetSignalDispositions();
    // A group of its own for a service, so that the shell can end it with whatever it started and
    // a terminal's Ctrl+C or hang-up, aimed at the shell's group, does not reach it; a session of
    // its own for the launcher script, which outlives the shell and must not hear the terminal.
    if (plan.endsWithShell ? ::setpgid(0, 0) != 0 : ::setsid() < 0) failInChild(plan, ChildStage::ProcessGroup, errno);
    if (plan.endsWithShell) {
        // PDEATHSIG fires when the *thread* that started the child ends, not the process: launches
        // must come from the main thread, which lives as long as the shell.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        // The shell may have died before the request took effect; then nobody will send it.
        if (::getppid() != plan.shellPid) ::_exit(127);
    }
    closeDescriptors(plan);
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

// ---- Step 4, in the shell: spawn ----

// The child runs in the shell's memory on a stack of its own, and the calling thread is held until
// the child has exec'd or exited (CLONE_VFORK), as posix_spawn does. A plain fork would copy the
// page tables of a process that has a web view mapped, then fault its pages in again as the child
// runs: tens of milliseconds on the main thread for every service started. With every signal
// blocked meanwhile, no handler of the shell can run in the child before it has reset the
// dispositions; the child unblocks them just before exec. Returns -1 with errno set on failure.
pid_t spawn(const ChildPlan& plan) {
    constexpr std::size_t kStackBytes = 256 * 1024;
    void* stack = ::mmap(nullptr, kStackBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (stack == MAP_FAILED) return -1;
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t pid = ::clone(childEntry, static_cast<char*>(stack) + kStackBytes, CLONE_VM | CLONE_VFORK | SIGCHLD,
                              const_cast<ChildPlan*>(&plan));
    const int error = errno;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::munmap(stack, kStackBytes);
    errno = error;
    return pid;
}

// ---- Step 5, in the shell: wait for exec ----

// End of file on the error pipe means exec succeeded (the pipe closed on exec); a report means it
// did not, and the child, which exited at once, is reaped here.
std::optional<Failure> waitForExec(UniqueFd errorRead, pid_t pid, const LaunchSpec& spec) {
    ChildError report{};
    ssize_t received;
    do {
        received = ::read(errorRead.get(), &report, sizeof report);
    } while (received < 0 && errno == EINTR);
    if (received <= 0) return std::nullopt;
    waitForChildExit(pid, Reaping::Reap);
    if (received != static_cast<ssize_t>(sizeof report)) return Failure{"cannot start " + spec.executable};
    switch (report.stage) {
    case ChildStage::WorkingDirectory:
        return Failure{describe("cannot enter working directory", spec.workingDirectory, report.error)};
    case ChildStage::Output:
        return Failure{describe("cannot redirect the output of", spec.executable, report.error)};
    case ChildStage::ProcessGroup:
        return Failure{describe("cannot give a process group of its own to", spec.executable, report.error)};
    case ChildStage::Exec:
        break;
    }
    return Failure{describe("cannot run", spec.executable, report.error)};
}

long descriptorLimit() {
    const long limit = ::sysconf(_SC_OPEN_MAX);
    return limit > 0 ? limit : 1024;
}

}  // namespace

bool LinuxProcessLauncher::canRun(const LaunchSpec& spec) {
    struct stat executable {};
    const auto isProgram = [](const std::string& path, struct stat& found) {
        return ::stat(path.c_str(), &found) == 0 && S_ISREG(found.st_mode) && ::access(path.c_str(), X_OK) == 0;
    };
    if (!isProgram(spec.executable, executable)) return false;
    // The same file, however its path is spelt.
    struct stat wrapper {};
    if (nodeWrapper_.empty() || ::stat(nodeWrapper_.c_str(), &wrapper) != 0 || wrapper.st_dev != executable.st_dev ||
        wrapper.st_ino != executable.st_ino) {
        return true;
    }
    // The wrapper's own search, on the PATH the child is given (or the shell's, which it inherits).
    std::string path;
    if (spec.environment) {
        const auto entry = spec.environment->find("PATH");
        if (entry != spec.environment->end()) path = entry->second;
    } else if (const char* inherited = ::getenv("PATH")) {
        path = inherited;
    }
    std::vector<std::string> candidates;
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find(':', start), path.size());
        if (end > start && path[start] == '/') candidates.push_back(path.substr(start, end - start) + "/node");
        start = end + 1;
    }
    candidates.push_back(systemNode_);
    // A PATH that names the wrapper's own folder does not count: the wrapper passes itself over.
    return std::any_of(candidates.begin(), candidates.end(), [&](const std::string& candidate) {
        struct stat found {};
        return isProgram(candidate, found) && !(found.st_dev == executable.st_dev && found.st_ino == executable.st_ino);
    });
}

Result<std::shared_ptr<ChildProcess>> LinuxProcessLauncher::launch(const LaunchSpec& spec) {
    auto child = launchChild(spec);
    if (!child.ok()) return Failure{child.reason()};
    return std::shared_ptr<ChildProcess>(child.value());
}

Result<std::shared_ptr<LinuxChildProcess>> LinuxProcessLauncher::launchChild(const LaunchSpec& spec) {
    if (spec.executable.empty()) return Failure{"no executable given"};
    const ExecArrays arrays(spec, shellOnlyVariables_);
    auto output = openOutput(spec.output);
    if (!output.ok()) return Failure{output.reason()};
    auto errorPipe = openErrorPipe();
    if (!errorPipe.ok()) return Failure{errorPipe.reason()};

    const ChildPlan plan{
        spec.executable.c_str(),
        arrays.argv.data(),
        arrays.envp.empty() ? nullptr : arrays.envp.data(),
        spec.workingDirectory.empty() ? nullptr : spec.workingDirectory.c_str(),
        output.value().get(),
        errorPipe.value().write.get(),
        spec.lifetime == ChildLifetime::EndsWithShell,
        ::getpid(),
        descriptorLimit(),
    };
    const pid_t pid = spawn(plan);
    if (pid < 0) return Failure{describe("cannot start", spec.executable, errno)};
    // Only the child may hold the write end now, so its exec or exit ends the read below.
    errorPipe.value().write.reset();
    output.value().reset();
    if (auto failure = waitForExec(std::move(errorPipe.value().read), pid, spec)) return *failure;

    // Noted while the child is still unreaped, so that the pid is certainly this child's.
    if (spec.lifetime == ChildLifetime::EndsWithShell && record_) record_->note(pid);
    auto child = std::make_shared<LinuxChildProcess>(pid, spec.lifetime);
    if (!LinuxChildProcess::startReaper(child)) {
        // Without a reaper the child would be left a zombie forever; this launch fails instead.
        ::kill(-pid, SIGKILL);
        waitForChildExit(pid, Reaping::Reap);
        return Failure{"cannot start a reaper thread for " + spec.executable};
    }
    if (spec.lifetime == ChildLifetime::EndsWithShell) services_.push_back(child);
    return child;
}

}  // namespace lorvane
