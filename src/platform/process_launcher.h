// Starting child processes: the local services and the external launcher script.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/result.h"

namespace lorvane {

using Environment = std::map<std::string, std::string>;

// Where a child's standard output and standard error go; both streams always share one target.
struct ChildOutput {
    enum class Kind { InheritFromShell, NullDevice, File };
    Kind kind = Kind::InheritFromShell;
    std::shared_ptr<FileHandle> file;  // set only for Kind::File

    static ChildOutput inherit() { return {}; }
    static ChildOutput nullDevice() { return {Kind::NullDevice, nullptr}; }
    // An absent handle falls back to the shell's own streams, as an unset stream does.
    static ChildOutput toFile(std::shared_ptr<FileHandle> handle) {
        return handle ? ChildOutput{Kind::File, std::move(handle)} : inherit();
    }
};

// Whether the child is one of the shell's services, which end with the shell, or runs on its own.
enum class ChildLifetime {
    // Ended at quit with everything it started; the kernel sends SIGTERM when the shell dies
    // without quitting (where the system offers it).
    EndsWithShell,
    // Left running, as the external launcher is, and kept apart from the terminal the shell was
    // started from, so that a Ctrl+C or hang-up aimed at the shell does not reach it.
    Independent,
};

struct LaunchSpec {
    std::string executable;                 // absolute path, run directly (no shell)
    std::vector<std::string> arguments;     // not including argv[0], which is the executable path
    std::string workingDirectory;           // empty: the shell's own current directory
    std::optional<Environment> environment; // absent: the environment the shell passes on (ProcessEnvironmentSource)
    ChildOutput output;
    ChildLifetime lifetime = ChildLifetime::Independent;
};

class ChildProcess {
public:
    virtual ~ChildProcess() = default;
    // True from a successful launch until the child has exited (it is reaped by the launcher).
    virtual bool isRunning() const = 0;
    // Sends SIGTERM to the child and to what it started that is still with it (on POSIX, its
    // process group), and returns at once; does nothing once the child has exited.
    virtual void terminate() = 0;
    virtual int pid() const = 0;
};

class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;
    // Main thread only. Starts the child with standard input inherited, every other descriptor of
    // the shell closed and signal dispositions and mask at their defaults. Fails (as a value) when
    // the executable cannot be run or the working directory cannot be entered. The launcher reaps
    // the child; dropping the returned object neither stops nor waits for it.
    virtual Result<std::shared_ptr<ChildProcess>> launch(const LaunchSpec& spec) = 0;
    // Main thread. Whether launching `spec` would get as far as the program it is for: its
    // executable is an executable file, and where the backend knows it for a wrapper that looks
    // for its program only once it runs (the Linux bundle's runtime/node, which starts the
    // machine's node), that program is there for the environment `spec` passes on. Such a wrapper
    // still starts without it, to say why, and ends at once.
    virtual bool canRun(const LaunchSpec& spec) = 0;
};

}  // namespace lorvane
