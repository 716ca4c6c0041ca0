// Helpers for the tests on real processes and folders: a temporary folder, files, processes seen
// through /proc, and bounded polling of what reports nothing to the test.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "platform/process_launcher.h"

namespace lorvane::posix_test {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed with everything in it. Canonical,
// so that it compares equal with the working directory a child reports.
struct TempDir {
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "lorvane-posix-XXXXXX").string();
        path = fs::canonical(::mkdtemp(pattern.data()));
    }
    ~TempDir() { fs::remove_all(path); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    fs::path path;
};

inline std::string readFile(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// Writes `content` with `mode`, making the folders above it; returns the path.
inline std::string writeFile(const std::string& path, const std::string& content, mode_t mode = 0644) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    ::chmod(path.c_str(), mode);
    return path;
}

inline bool contains(const std::string& path, const std::string& text) { return readFile(path).find(text) != std::string::npos; }

// The pid a script wrote into `file`, or -1.
inline pid_t pidIn(const std::string& file) {
    const std::string text = readFile(file);
    return text.empty() ? -1 : static_cast<pid_t>(std::stol(text));
}

inline std::string linkOf(const fs::path& path) {
    std::error_code error;
    return fs::read_symlink(path, error).string();
}

// A process as the kernel shows it: argv and environment as they were at exec, working directory,
// where each open descriptor leads, and its status lines (signal masks, state).
struct Seen {
    std::vector<std::string> argv;
    std::string cwd;
    Environment environment;
    std::map<std::string, std::string> descriptors;
    std::string status;
};

inline Seen seen(pid_t pid) {
    const fs::path process = "/proc/" + std::to_string(pid);
    Seen seen{{}, linkOf(process / "cwd"), {}, {}, readFile(process / "status")};
    std::istringstream argv(readFile(process / "cmdline")), environment(readFile(process / "environ"));
    for (std::string item; std::getline(argv, item, '\0');) seen.argv.push_back(item);
    for (std::string item; std::getline(environment, item, '\0');) {
        seen.environment.emplace(item.substr(0, item.find('=')), item.substr(item.find('=') + 1));
    }
    std::error_code error;
    for (const auto& fd : fs::directory_iterator(process / "fd", error)) {
        seen.descriptors[fd.path().filename().string()] = linkOf(fd.path());
    }
    return seen;
}

// True while `pid` runs: it exists and is not a zombie.
inline bool alive(pid_t pid) {
    const std::string status = readFile("/proc/" + std::to_string(pid) + "/status");
    return !status.empty() && status.find("State:\tZ") == std::string::npos;
}

// Orphans of the test's children come to the test process, standing in for the desktop session's
// subreaper, for as long as this lives.
struct Subreaper {
    Subreaper() { EXPECT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0); }
    ~Subreaper() { ::prctl(PR_SET_CHILD_SUBREAPER, 0); }
};

// Polls `condition` until it holds or `seconds` have passed: for real processes and files.
template <class Condition>
bool eventually(Condition condition, double seconds = 10) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace lorvane::posix_test
