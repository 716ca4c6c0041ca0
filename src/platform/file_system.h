// Files and folders, as the services need them: log files, data folders and the resource checks.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/result.h"

namespace lorvane {

// An open write handle on a file; a child process can be given it as its output.
class FileHandle {
public:
    virtual ~FileHandle() = default;
    // Cuts the file to `length` bytes and moves the write position there.
    virtual Result<void> truncate(std::uint64_t length) = 0;
    // Closes the handle. Later calls fail harmlessly. Descriptors that children inherited stay open.
    virtual Result<void> close() = 0;
    // The native descriptor, or -1 once closed (or for handles that have none, such as fakes).
    virtual int descriptor() const = 0;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Creates `path` and any missing parents with default permissions; succeeds if it exists as a
    // directory afterwards.
    virtual Result<void> createDirectories(const std::string& path) = 0;
    // Creates an empty file at `path`, or empties the file already there.
    virtual Result<void> createEmptyFile(const std::string& path) = 0;
    // Opens an existing file for writing at offset 0, without creating or truncating it.
    virtual Result<std::shared_ptr<FileHandle>> openForWriting(const std::string& path) = 0;
    // True when a regular file exists at `path` and the current user may execute it.
    virtual bool isExecutableFile(const std::string& path) = 0;
    // True when anything (file or folder) exists at `path`.
    virtual bool fileExists(const std::string& path) = 0;
    // `path` as the system reads it from the shell's current folder: unchanged when absolute, else
    // appended to that folder (not normalised, links not followed).
    virtual std::string absolutePath(const std::string& path) = 0;
    // The whole file as text; a failure when it is missing, unreadable or not valid UTF-8.
    virtual Result<std::string> readUtf8File(const std::string& path) = 0;
};

}  // namespace lorvane
