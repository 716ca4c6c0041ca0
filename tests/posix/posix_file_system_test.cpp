// Files and folders on a real disk: directories, log files and their handles, executables, text.
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/posix/posix_platform.h"
#include "posix_test_support.h"

namespace lorvane {
namespace {

using posix_test::TempDir;
using posix_test::readFile;
using posix_test::writeFile;

mode_t permissionsOf(const std::string& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

TEST(PosixFileSystemTest, CreateDirectoriesIsTrueExactlyWhenAFolderIsThereAfterwards) {
    TempDir dir;
    writeFile(dir / "file", "x");
    std::filesystem::create_directory(dir.path() / "existing");
    const struct {
        std::string path;
        bool expected;
    } cases[] = {
        {dir / "a/b/c", true},
        {dir / "existing", true},
        {dir / "file", false},
        {dir / "file/below", false},
        {"", false},
    };
    PosixFileSystem files;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(files.createDirectories(c.path), c.expected);
        EXPECT_EQ(std::filesystem::is_directory(c.path), c.expected);
    }
}

TEST(PosixFileSystemTest, CreateEmptyFileEmptiesOldContentWithDefaultPermissions) {
    TempDir dir;
    writeFile(dir / "old.log", "text of the previous launch", 0600);
    const mode_t previousMask = ::umask(022);
    PosixFileSystem files;
    const bool createdNew = files.createEmptyFile(dir / "new.log");
    const bool emptiedOld = files.createEmptyFile(dir / "old.log");
    ::umask(previousMask);

    EXPECT_TRUE(createdNew);
    EXPECT_TRUE(emptiedOld);
    EXPECT_EQ(readFile(dir / "old.log"), "");
    EXPECT_EQ(readFile(dir / "new.log"), "");
    EXPECT_EQ(permissionsOf(dir / "new.log"), 0644u);
    EXPECT_FALSE(files.createEmptyFile(dir.path().string()));
    EXPECT_FALSE(files.createEmptyFile(dir / "missing/file.log"));
}

TEST(PosixFileSystemTest, OpenForWritingWritesFromTheStartWithoutTruncating) {
    TempDir dir;
    writeFile(dir / "log", "abcdef");
    auto handle = PosixFileSystem().openForWriting(dir / "log");
    ASSERT_TRUE(handle.ok()) << handle.reason();
    ASSERT_EQ(::write(handle.value()->descriptor(), "XY", 2), 2);
    EXPECT_EQ(readFile(dir / "log"), "XYcdef");
    // Close-on-exec, so that children started by anyone else (WebKit's helpers) do not get it.
    EXPECT_TRUE(::fcntl(handle.value()->descriptor(), F_GETFD) & FD_CLOEXEC);
}

TEST(PosixFileSystemTest, OpenForWritingFailsOnWhatIsNotAnExistingWritableFile) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    PosixFileSystem files;
    EXPECT_FALSE(files.openForWriting(dir / "missing").ok());
    EXPECT_FALSE(files.openForWriting(dir.path().string()).ok());
    // A pipe nobody reads must fail, not block the main thread.
    EXPECT_FALSE(files.openForWriting(dir / "fifo").ok());
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

TEST(PosixFileSystemTest, OpenedDescriptorStaysClearOfTheStandardStreams) {
    TempDir dir;
    writeFile(dir / "log", "");
    const int savedInput = ::dup(STDIN_FILENO);
    ::close(STDIN_FILENO);  // a GUI app may start without standard input
    auto handle = PosixFileSystem().openForWriting(dir / "log");
    if (savedInput >= 0) {
        ::dup2(savedInput, STDIN_FILENO);
        ::close(savedInput);
    }
    ASSERT_TRUE(handle.ok()) << handle.reason();
    EXPECT_GE(handle.value()->descriptor(), 3);
}

TEST(PosixFileSystemTest, TruncateCutsTheFileAndMovesTheWritePositionThere) {
    TempDir dir;
    writeFile(dir / "log", "hello world");
    auto handle = PosixFileSystem().openForWriting(dir / "log");
    ASSERT_TRUE(handle.ok()) << handle.reason();
    const int fd = handle.value()->descriptor();

    EXPECT_TRUE(handle.value()->truncate(5));
    ASSERT_EQ(::write(fd, "!", 1), 1);
    EXPECT_EQ(readFile(dir / "log"), "hello!");

    EXPECT_TRUE(handle.value()->truncate(0));
    ASSERT_EQ(::write(fd, "x", 1), 1);
    EXPECT_EQ(readFile(dir / "log"), "x");
}

TEST(PosixFileSystemTest, CloseIsHarmlessTheSecondTime) {
    TempDir dir;
    writeFile(dir / "log", "");
    auto handle = PosixFileSystem().openForWriting(dir / "log");
    ASSERT_TRUE(handle.ok()) << handle.reason();
    const int fd = handle.value()->descriptor();
    EXPECT_TRUE(handle.value()->close());
    EXPECT_EQ(handle.value()->descriptor(), -1);
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1);  // really closed
    EXPECT_FALSE(handle.value()->close());
    EXPECT_FALSE(handle.value()->truncate(0));
}

TEST(PosixFileSystemTest, IsExecutableFileOnlyForRegularFilesWithExecutePermission) {
    TempDir dir;
    posix_test::writeScript(dir / "runnable", "exit 0\n");
    writeFile(dir / "plain", "exit 0\n", 0644);
    std::filesystem::create_directory(dir.path() / "folder");
    ::chmod((dir / "folder").c_str(), 0755);
    std::filesystem::create_symlink(dir / "runnable", dir.path() / "link-to-runnable");
    std::filesystem::create_symlink(dir / "folder", dir.path() / "link-to-folder");
    const struct {
        const char* name;
        bool executable;
        bool exists;
    } cases[] = {
        {"runnable", true, true},        {"plain", false, true},
        {"folder", false, true},         {"missing", false, false},
        {"link-to-runnable", true, true}, {"link-to-folder", false, true},
    };
    PosixFileSystem files;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(files.isExecutableFile(dir / c.name), c.executable);
        EXPECT_EQ(files.fileExists(dir / c.name), c.exists);
    }
}

TEST(PosixFileSystemTest, ReadUtf8FileGivesWellFormedTextOnly) {
    TempDir dir;
    const std::string limit(1024 * 1024, 'a');
    const struct {
        const char* name;
        std::string content;
        bool valid;
    } cases[] = {
        {"ascii line", "https://voice.example.org/\n", true},
        {"two, three and four byte forms", "\xC3\xA9 \xD0\x9F \xE2\x82\xAC \xF0\x9F\x98\x80", true},
        {"empty file", "", true},
        {"highest code point", "\xF4\x8F\xBF\xBF", true},
        {"exactly the size limit", limit, true},
        {"beyond the size limit", limit + "a", false},
        {"stray continuation byte", "a\x80", false},
        {"invalid byte", "\xFF", false},
        {"overlong two-byte slash", "\xC0\xAF", false},
        {"overlong three-byte slash", "\xE0\x80\xAF", false},
        {"overlong four-byte form", "\xF0\x80\x80\xAF", false},
        {"surrogate", "\xED\xA0\x80", false},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", false},
        {"truncated sequence at the end", "ok\xE2\x82", false},
        {"lead byte followed by ascii", "\xC3(", false},
    };
    PosixFileSystem files;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(dir / "text", c.content);
        auto text = files.readUtf8File(dir / "text");
        EXPECT_EQ(text.has_value(), c.valid);
        if (c.valid && text) {
            EXPECT_EQ(*text, c.content);
        }
    }
    EXPECT_EQ(files.readUtf8File(dir / "missing"), std::nullopt);
    EXPECT_EQ(files.readUtf8File(dir.path().string()), std::nullopt);
}

TEST(PosixFileSystemTest, ReadUtf8FileIsAbsentForAFileWithoutReadPermission) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads files whatever their permissions";
    TempDir dir;
    writeFile(dir / "secret", "https://voice.example.org/", 0000);
    EXPECT_EQ(PosixFileSystem().readUtf8File(dir / "secret"), std::nullopt);
}

}  // namespace
}  // namespace lorvane
