// Files and folders on POSIX: the log files handed to children, the data folders and the checks
// on resources and the voice public URL file.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string_view>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/descriptors.h"
#include "platform/posix/posix_file_system.h"
#include "services/utf8.h"

namespace lorvane {
namespace {

// The only file the shell reads is the one-line voice public URL file; anything beyond this is
// not such a file and is treated as unreadable rather than read into memory.
constexpr std::size_t kMaximumReadBytes = 1024 * 1024;

// The failure `what` with the system's words for errno.
Failure systemFailure(const std::string& what) { return Failure{what + ": " + std::strerror(errno)}; }

void closeQuietly(int fd) {
    int error = errno;
    ::close(fd);
    errno = error;
}

}  // namespace

PosixFileHandle::~PosixFileHandle() { close(); }

Result<void> PosixFileHandle::truncate(std::uint64_t length) {
    if (descriptor_ < 0) return Failure{"closed"};
    if (length > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return Failure{"too long"};
    const auto offset = static_cast<off_t>(length);
    int result;
    do {
        result = ::ftruncate(descriptor_, offset);
    } while (result != 0 && errno == EINTR);
    if (result != 0) return systemFailure("cannot truncate");
    if (::lseek(descriptor_, offset, SEEK_SET) != offset) return systemFailure("cannot seek");
    return {};
}

Result<void> PosixFileHandle::close() {
    if (descriptor_ < 0) return Failure{"closed already"};
    // Never retried: on Linux the descriptor is gone even when close reports EINTR.
    int result = ::close(descriptor_);
    descriptor_ = -1;
    if (result != 0 && errno != EINTR) return systemFailure("cannot close");
    return {};
}

Result<void> PosixFileSystem::createDirectories(const std::string& path) {
    if (path.empty()) return Failure{"no path"};
    std::error_code error;
    std::filesystem::create_directories(path, error);  // mode 0777 & ~umask, like mkdir -p
    if (std::filesystem::is_directory(path)) return {};
    return Failure{"cannot create " + path + (error ? ": " + error.message() : ": not a folder")};
}

Result<void> PosixFileSystem::createEmptyFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (fd < 0) return systemFailure("cannot create " + path);
    if (::close(fd) != 0 && errno != EINTR) return systemFailure("cannot close " + path);
    return {};
}

Result<std::shared_ptr<FileHandle>> PosixFileSystem::openForWriting(const std::string& path) {
    // O_NONBLOCK only for the open itself: a FIFO without a reader fails instead of blocking the
    // main thread.
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) return systemFailure("cannot open " + path);
    if (fd.get() < 3) {
        // The failure is worded before the descriptor below goes, with its errno.
        UniqueFd moved = duplicateAboveStandardStreams(fd.get());
        if (moved.get() < 0) return systemFailure("cannot move the descriptor of " + path);
        fd = std::move(moved);
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return systemFailure("cannot configure " + path);
    return std::shared_ptr<FileHandle>(std::make_shared<PosixFileHandle>(fd.release()));
}

bool PosixFileSystem::isExecutableFile(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    return ::access(path.c_str(), X_OK) == 0;
}

bool PosixFileSystem::fileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

std::string PosixFileSystem::absolutePath(const std::string& path) {
    // With no current folder to be had (it was removed), the path stays as it is.
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.string();
}

Result<std::string> PosixFileSystem::readUtf8File(const std::string& path) {
    // O_NONBLOCK so that a FIFO cannot hold the main thread; only regular files are read at all.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return systemFailure("cannot open " + path);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        closeQuietly(fd);
        return Failure{path + " is not a regular file"};
    }
    std::string text;
    char buffer[16 * 1024];
    std::optional<Failure> failure;
    for (;;) {
        ssize_t received = ::read(fd, buffer, sizeof buffer);
        if (received < 0 && errno == EINTR) continue;
        if (received < 0) {
            failure = systemFailure("cannot read " + path);
            break;
        }
        if (received == 0) break;
        text.append(buffer, static_cast<std::size_t>(received));
        if (text.size() > kMaximumReadBytes) {
            failure = Failure{path + " is larger than any file the app reads"};
            break;
        }
    }
    closeQuietly(fd);
    if (failure) return *failure;
    if (!isValidUtf8(text)) return Failure{path + " is not UTF-8"};
    return text;
}

}  // namespace lorvane
