// The shell's note of its services' process groups, for the next start after a shell that was
// killed outright (SIGKILL) and could not end them.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace lorvane {

// One file per shell in `folder`, named for the shell's pid and start time, holding the boot id
// and, for each service, the pid of its group's leader with the leader's start time. Start times
// are /proc's clock ticks since boot: with the pid they name one process of one boot.
//
// What the sweep ends is provably the app's: a recorded leader that still runs with its recorded
// start time holds its pid, and so its group id, which no other process can then have. A group
// whose leader is gone is left alone: its id may have been freed and taken by another program's
// group since, and nothing on the system tells the two apart.
class ServiceRecord {
public:
    explicit ServiceRecord(std::string folder) : folder_(std::move(folder)) {}

    // Main thread, at the start of the primary instance, before any service is started. For each
    // record of a shell that no longer runs: SIGKILL to the group of every recorded leader still
    // running, a short wait (half a second at most) for those leaders to exit so that their ports
    // are free, then the record is removed. Records of running shells are not touched. Returns
    // the number of groups it ended.
    int sweep();
    // Main thread, right after a service started: adds its group to this shell's record. A record
    // that cannot be written is no failure of the launch.
    void note(pid_t leader);
    // Main thread, once every service group has ended: this shell's record goes.
    void remove();

private:
    std::optional<std::string> ownFile();

    std::string folder_;
};

// The start time of process `pid` in clock ticks since boot, and its process group; absent when
// there is no such process.
struct ProcessIdentity {
    unsigned long long startTime;
    pid_t group;
};
std::optional<ProcessIdentity> processIdentity(pid_t pid);

// Whether any process but `except` is in process group `group`, as /proc shows it; true when /proc
// cannot be read, as nothing can then be ruled out.
bool groupHasMembersBesides(pid_t group, pid_t except);

}  // namespace lorvane
