// A stand-in for the shell in tests about what happens around it: a forked process that launches
// children through a launcher of its own, reports their pids, and waits to be killed.
#pragma once

#include <csignal>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/posix/posix_platform.h"

namespace lorvane::posix_test {

struct ForkedShell {
    pid_t pid = -1;
    std::vector<int> children;  // in the order of the specs; -1 for a launch that failed

    bool launchedAll(std::size_t count) const {
        if (children.size() != count) return false;
        for (const int child : children) {
            if (child <= 0) return false;
        }
        return true;
    }
};

struct ShellSetup {
    // The services' groups are noted here, as the desktop does.
    std::optional<std::string> recordFolder;
    // A group of its own, with SIGHUP and SIGINT ignored, as the desktop handles them: for sending
    // a terminal's signals to the shell's group without hitting the test.
    bool ownGroupIgnoringTerminal = false;
};

inline ForkedShell forkShell(const std::vector<LaunchSpec>& specs, const ShellSetup& setup = {}) {
    int report[2];
    if (::pipe(report) != 0) return {};
    const pid_t shell = ::fork();
    if (shell == 0) {
        ::close(report[0]);
        if (setup.ownGroupIgnoringTerminal) {
            ::setpgid(0, 0);
            ::signal(SIGHUP, SIG_IGN);
            ::signal(SIGINT, SIG_IGN);
        }
        std::optional<ServiceRecord> record;
        LinuxProcessLauncher launcher;
        if (setup.recordFolder) launcher.recordServicesIn(&record.emplace(*setup.recordFolder));
        for (const LaunchSpec& spec : specs) {
            auto child = launcher.launch(spec);
            const int pid = child.ok() ? child.value()->pid() : -1;
            (void)!::write(report[1], &pid, sizeof pid);
        }
        for (;;) ::pause();
    }
    ::close(report[1]);
    ForkedShell forked{shell, {}};
    int pid = -1;
    while (shell > 0 && forked.children.size() < specs.size() && ::read(report[0], &pid, sizeof pid) == sizeof pid) {
        forked.children.push_back(pid);
    }
    ::close(report[0]);
    return forked;
}

}  // namespace lorvane::posix_test
