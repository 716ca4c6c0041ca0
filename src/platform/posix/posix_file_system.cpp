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

#include "platform/posix/posix_file_system.h"

namespace lorvane {
namespace {

// The only file the shell reads is the one-line voice public URL file; anything beyond this is
// not such a file and is treated as unreadable rather than read into memory.
constexpr std::size_t kMaximumReadBytes = 1024 * 1024;

// Moves `fd` to a close-on-exec descriptor >= 3: a GUI app may run with 0-2 closed, and a log
// descriptor there would be clobbered when a child's streams are set up.
int moveAboveStandardStreams(int fd) {
    if (fd < 0 || fd >= 3) return fd;
    int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    int error = errno;
    ::close(fd);
    errno = error;
    return moved;
}

// The failure `what` with the system's words for errno.
Failure systemFailure(const std::string& what) { return Failure{what + ": " + std::strerror(errno)}; }

void closeQuietly(int fd) {
    int error = errno;
    ::close(fd);
    errno = error;
}

// Well-formed UTF-8 as in RFC 3629 / Unicode table 3-7: no overlong forms, no surrogates
// (U+D800..U+DFFF), nothing above U+10FFFF.
bool isValidUtf8(std::string_view text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    std::size_t i = 0;
    while (i < size) {
        const unsigned char lead = bytes[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length;
        unsigned char low = 0x80;  // bounds of the first continuation byte
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;   // overlong below U+0800
            if (lead == 0xED) high = 0x9F;  // surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;   // overlong below U+10000
            if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
        } else {
            return false;  // continuation byte as lead, C0/C1 overlongs, F5..FF
        }
        if (size - i < length) return false;
        if (bytes[i + 1] < low || bytes[i + 1] > high) return false;
        for (std::size_t k = 2; k < length; ++k) {
            if (bytes[i + k] < 0x80 || bytes[i + k] > 0xBF) return false;
        }
        i += length;
    }
    return true;
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
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return systemFailure("cannot open " + path);
    fd = moveAboveStandardStreams(fd);
    if (fd < 0) return systemFailure("cannot move the descriptor of " + path);
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const Failure failure = systemFailure("cannot configure " + path);
        closeQuietly(fd);
        return failure;
    }
    return std::shared_ptr<FileHandle>(std::make_shared<PosixFileHandle>(fd));
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
