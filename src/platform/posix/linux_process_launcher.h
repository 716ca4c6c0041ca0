// The process launcher of the Linux desktop: clone + execve, one reaper thread per child.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/process_launcher.h"

namespace lorvane {

// Starts children with a vfork-style clone and execve, and reaps each one on a thread of its own
// (one blocking waitid per pid; never waitpid(-1), which would steal WebKit's helper processes).
// Linux only: it relies on clone(), MAP_STACK, close_range and PR_SET_PDEATHSIG.
class LinuxProcessLauncher final : public ProcessLauncher {
public:
    LinuxProcessLauncher() = default;
    // A child that inherits the shell's environment does not inherit these variables, which the
    // shell set for its own toolkit (see PosixEnvironment).
    explicit LinuxProcessLauncher(std::vector<std::string> shellOnlyVariables)
        : shellOnlyVariables_(std::move(shellOnlyVariables)) {}

    // Main thread only (see the contract in process_launcher.h). An EndsWithShell child is tied to
    // the calling *thread* by PR_SET_PDEATHSIG, which is one more reason to stay on it.
    Result<std::shared_ptr<ChildProcess>> launch(const LaunchSpec& spec) override;

private:
    std::vector<std::string> shellOnlyVariables_;
};

}  // namespace lorvane
