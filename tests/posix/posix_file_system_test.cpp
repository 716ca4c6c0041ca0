// The real disk as the shell uses it: the one text file it reads (the voice public URL file),
// whole, well-formed UTF-8 and of bounded size, or not at all; and the log files.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "platform/linux/linux_places.h"
#include "platform/linux/linux_process_launcher.h"
#include "platform/posix/posix_environment.h"
#include "platform/posix/posix_file_system.h"
#include "posix_test_support.h"

namespace lorvane {
namespace {

using namespace posix_test;

TEST(ReadUtf8File, GivesWellFormedTextOfBoundedSizeOnly) {
    TempDir dir;
    const std::string limit(1024 * 1024, 'a');
    // Two, three and four byte forms, nothing, the highest code point, exactly the size limit.
    const std::string valid[] = {"https://x/ \xC3\xA9 \xD0\x9F \xE2\x82\xAC \xF0\x9F\x98\x80", "", "\xF4\x8F\xBF\xBF",
                                 limit};
    // Beyond the limit, a stray continuation byte, an invalid byte, overlong two, three and four
    // byte forms, a surrogate, beyond U+10FFFF, cut off at the end, a lead byte followed by ASCII,
    // a bad third byte.
    const std::string invalid[] = {limit + "a",    "a\x80",          "\xFF",         "\xC0\xAF",
                                   "\xE0\x80\xAF", "\xF0\x80\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                                   "ok\xE2\x82",   "\xC3(",          "\xE2\x82("};
    PosixFileSystem files;
    const auto read = [&](const std::string& path) {
        const auto text = files.readUtf8File(path);
        return text ? std::optional(text.value()) : std::nullopt;
    };
    for (const auto& text : valid) EXPECT_EQ(read(writeFile(dir / "text", text)), text);
    for (const auto& text : invalid) EXPECT_EQ(read(writeFile(dir / "text", text)), std::nullopt) << text;
    EXPECT_EQ(read(dir / "missing"), std::nullopt);
    EXPECT_EQ(read(dir.path.string()), std::nullopt);
    // A pipe nobody writes must not hold the main thread.
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(read(dir / "fifo"), std::nullopt);
}

// A log is made 0666 less the umask, and opened close-on-exec (the processes WebKit starts must not
// hold it) above the standard streams, which a desktop session may start the shell without: there
// a child's streams would clobber it. It is closed once: a second quit request closes the logs
// again, when another file may have taken the number.
TEST(FileHandle, ALogIsOpenedCloseOnExecAboveTheStandardStreamsAndClosedOnce) {
    TempDir dir;
    PosixFileSystem files;
    const mode_t umask = ::umask(022);
    ASSERT_TRUE(files.createEmptyFile(dir / "log").ok());
    ::umask(umask);
    EXPECT_EQ(fs::status(dir / "log").permissions(), fs::perms(0644));
    const int input = ::dup(STDIN_FILENO);
    ::close(STDIN_FILENO);
    auto log = files.openForWriting(dir / "log");
    ::dup2(input, STDIN_FILENO);
    ::close(input);
    ASSERT_TRUE(log.ok()) << log.reason();
    const int number = log.value()->descriptor();
    EXPECT_GE(number, 3);
    EXPECT_TRUE(::fcntl(number, F_GETFD) & FD_CLOEXEC);
    log.value()->close();
    EXPECT_EQ(::fcntl(number, F_GETFD), -1) << "still open";
    const int other = ::open("/dev/null", O_RDONLY);
    ASSERT_EQ(::dup2(other, number), number);
    ::close(other);
    log.value()->close();
    EXPECT_NE(::fcntl(number, F_GETFD), -1) << "closed what took the number since";
    ::close(number);
}

}  // namespace
}  // namespace lorvane
