// The record of the services' process groups, and the start-up sweep that reads it.
#include "platform/linux/linux_service_record.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace lorvane {
namespace {

// From Linux 6.9: the signal goes to the process group of the pidfd's process, which must still
// be running, so the group cannot have changed hands between the check and the kill.
constexpr unsigned kSignalProcessGroup = 1u << 2;
constexpr int kLeaderExitWaitMilliseconds = 500;

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string bootId() {
    std::string id = readWhole("/proc/sys/kernel/random/boot_id");
    while (!id.empty() && (id.back() == '\n' || id.back() == ' ')) id.pop_back();
    return id;
}

bool isRunningAs(pid_t pid, unsigned long long startTime) {
    const auto identity = processIdentity(pid);
    return identity && identity->startTime == startTime;
}

// Ends the group of `leader` if the leader still runs with the recorded start time. The pidfd
// pins the process, so the start time read after opening it is that of the process it names.
bool endGroupOf(pid_t leader, unsigned long long startTime) {
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, leader, 0));
    if (pidfd < 0) return false;
    const auto identity = processIdentity(leader);
    const bool ours = identity && identity->startTime == startTime;
    if (ours) {
        // A leader that moved to a group of another's making is ended alone.
        if (identity->group == leader &&
            ::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, kSignalProcessGroup) != 0) {
            ::kill(-leader, SIGKILL);  // a kernel without group signals through a pidfd
        }
        ::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0u);
        // The pidfd becomes readable when the process has exited, and with it its sockets close.
        struct pollfd exited {pidfd, POLLIN, 0};
        ::poll(&exited, 1, kLeaderExitWaitMilliseconds);
    }
    ::close(pidfd);
    return ours;
}

struct RecordedGroup {
    pid_t leader;
    unsigned long long startTime;
};

// The groups of a record written in this boot; none for a record of another boot, whose pids
// and start times mean nothing now.
std::vector<RecordedGroup> groupsIn(const std::string& path, const std::string& boot) {
    std::istringstream lines(readWhole(path));
    std::string word;
    std::string recordedBoot;
    if (!(lines >> word >> recordedBoot) || word != "boot" || recordedBoot != boot) return {};
    std::vector<RecordedGroup> groups;
    RecordedGroup group{};
    while (lines >> word >> group.leader >> group.startTime) {
        if (word == "group" && group.leader > 1) groups.push_back(group);
    }
    return groups;
}

// "shell-<pid>-<start time>": the shell that wrote the record.
std::optional<RecordedGroup> shellOf(const std::string& fileName) {
    RecordedGroup shell{};
    char tail = 0;
    if (std::sscanf(fileName.c_str(), "shell-%d-%llu%c", &shell.leader, &shell.startTime, &tail) != 2) return std::nullopt;
    return shell;
}

}  // namespace

std::optional<ProcessIdentity> processIdentity(pid_t pid) {
    const std::string stat = readWhole("/proc/" + std::to_string(pid) + "/stat");
    // The command name may hold spaces and parentheses; the fields start after the last ')'.
    const auto nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos) return std::nullopt;
    std::istringstream fields(stat.substr(nameEnd + 1));
    std::string field;
    ProcessIdentity identity{};
    // State is field 3, the process group field 5, the start time field 22.
    for (int number = 3; number <= 22 && fields >> field; ++number) {
        if (number == 5) identity.group = static_cast<pid_t>(std::strtol(field.c_str(), nullptr, 10));
        if (number == 22) {
            identity.startTime = std::strtoull(field.c_str(), nullptr, 10);
            return identity;
        }
    }
    return std::nullopt;
}

bool groupHasMembersBesides(pid_t group, pid_t except) {
    std::error_code error;
    std::filesystem::directory_iterator entries("/proc", error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const std::string name = entries->path().filename().string();
        char* end = nullptr;
        const long pid = std::strtol(name.c_str(), &end, 10);
        if (*end != '\0' || pid <= 0 || pid == except) continue;
        const auto identity = processIdentity(static_cast<pid_t>(pid));
        if (identity && identity->group == group) return true;
    }
    return static_cast<bool>(error);
}

int ServiceRecord::sweep() {
    std::error_code error;
    std::filesystem::directory_iterator entries(folder_, error);
    if (error) return 0;
    const std::string boot = bootId();
    int ended = 0;
    for (const auto& entry : entries) {
        const auto shell = shellOf(entry.path().filename().string());
        if (!shell || isRunningAs(shell->leader, shell->startTime)) continue;
        for (const RecordedGroup& group : groupsIn(entry.path().string(), boot)) {
            if (endGroupOf(group.leader, group.startTime)) ++ended;
        }
        std::filesystem::remove(entry.path(), error);
    }
    return ended;
}

std::optional<std::string> ServiceRecord::ownFile() {
    const auto self = processIdentity(::getpid());
    if (!self) return std::nullopt;
    return folder_ + "/shell-" + std::to_string(::getpid()) + "-" + std::to_string(self->startTime);
}

void ServiceRecord::note(pid_t leader) {
    const auto identity = processIdentity(leader);
    const auto file = ownFile();
    std::error_code error;
    std::filesystem::create_directories(folder_, error);
    if (!identity || !file || error) return;
    const int fd = ::open(file->c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    std::string lines;
    if (::lseek(fd, 0, SEEK_END) == 0) lines = "boot " + bootId() + "\n";
    lines += "group " + std::to_string(leader) + " " + std::to_string(identity->startTime) + "\n";
    (void)!::write(fd, lines.data(), lines.size());
    ::close(fd);
}

void ServiceRecord::remove() {
    std::error_code error;
    if (const auto file = ownFile()) std::filesystem::remove(*file, error);
}

}  // namespace lorvane
