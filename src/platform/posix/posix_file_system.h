// Files and folders on any POSIX system: the log handles, folders and resource checks of the seam.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/file_system.h"

namespace lorvane {

// A write descriptor owned by the shell; closed by close() or when the last reference goes.
class PosixFileHandle final : public FileHandle {
public:
    explicit PosixFileHandle(int descriptor) : descriptor_(descriptor) {}
    ~PosixFileHandle() override;
    PosixFileHandle(const PosixFileHandle&) = delete;
    PosixFileHandle& operator=(const PosixFileHandle&) = delete;

    Result<void> truncate(std::uint64_t length) override;
    Result<void> close() override;
    int descriptor() const override { return descriptor_; }

private:
    int descriptor_;
};

class PosixFileSystem final : public FileSystem {
public:
    Result<void> createDirectories(const std::string& path) override;
    Result<void> createEmptyFile(const std::string& path) override;
    Result<std::shared_ptr<FileHandle>> openForWriting(const std::string& path) override;
    bool isExecutableFile(const std::string& path) override;
    bool fileExists(const std::string& path) override;
    std::string absolutePath(const std::string& path) override;
    Result<std::string> readUtf8File(const std::string& path) override;
};

}  // namespace lorvane
