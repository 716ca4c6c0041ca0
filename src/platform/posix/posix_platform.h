// The POSIX services of the platform seam: child processes, files, places, environment and clock.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/places.h"
#include "platform/posix/linux_process_launcher.h"
#include "platform/process_launcher.h"

namespace lorvane {

// A write descriptor owned by the shell; closed by close() or when the last reference goes.
class PosixFileHandle final : public FileHandle {
public:
    explicit PosixFileHandle(int descriptor) : descriptor_(descriptor) {}
    ~PosixFileHandle() override;
    PosixFileHandle(const PosixFileHandle&) = delete;
    PosixFileHandle& operator=(const PosixFileHandle&) = delete;

    bool truncate(std::uint64_t length) override;
    bool close() override;
    int descriptor() const override { return descriptor_; }

private:
    int descriptor_;
};

class PosixFileSystem final : public FileSystem {
public:
    bool createDirectories(const std::string& path) override;
    bool createEmptyFile(const std::string& path) override;
    Result<std::shared_ptr<FileHandle>> openForWriting(const std::string& path) override;
    bool isExecutableFile(const std::string& path) override;
    bool fileExists(const std::string& path) override;
    std::string absolutePath(const std::string& path) override;
    std::optional<std::string> readUtf8File(const std::string& path) override;
};

// The XDG and /proc view of the places (see DESIGN.md, "Linux mapping of the platform's places").
// Works from an environment snapshot and an executable path taken at construction, so tests can
// bring their own; the default constructor takes both from the running process.
class LinuxPlaces final : public Places {
public:
    LinuxPlaces();
    LinuxPlaces(Environment environment, std::string executablePath);
    // `resourcesFromExecutable`: the resource folder relative to the executable's folder in the
    // install layout; the two-argument form takes the one the build compiled in.
    LinuxPlaces(Environment environment, std::string executablePath, std::string resourcesFromExecutable);
    static LinuxPlaces forThisProcess() { return LinuxPlaces(); }

    std::optional<std::string> resourceDirectory() const override;
    std::string userLogFolder() const override;
    std::string applicationSupport() const override;
    std::string home() const override;
    std::optional<std::string> installedVersion() const override;
    PackageKind packageKind() const override;

private:
    // `variable` when it holds an absolute path, else the home folder + `fallbackUnderHome`.
    std::string xdgFolder(const char* variable, const char* fallbackUnderHome) const;

    Environment environment_;
    std::string executablePath_;  // empty when unknown: then there is no resource directory
    std::string resourcesFromExecutable_;
};

// The process's `environ`, copied afresh on every call, with the variables the shell set or
// changed for its toolkit (a renderer choice) put back as the shell was started with them: what
// the shell passes on to the processes it starts is the environment it was started with.
class PosixEnvironment final : public ProcessEnvironmentSource {
public:
    PosixEnvironment() = default;
    explicit PosixEnvironment(ShellOnlyVariables shellOnlyVariables)
        : shellOnlyVariables_(std::move(shellOnlyVariables)) {}

    Environment snapshot() const override;

private:
    ShellOnlyVariables shellOnlyVariables_;
};

class SystemClock final : public Clock {
public:
    double now() const override;
};

}  // namespace lorvane
