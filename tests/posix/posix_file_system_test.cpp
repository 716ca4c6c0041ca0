// Reading the one text file the shell reads (the voice public URL file) from a real disk: whole,
// well-formed UTF-8 and of bounded size, or not at all. The log files are the services tests'.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "platform/posix/posix_platform.h"
#include "posix_test_support.h"

namespace lorvane {
namespace {

using namespace posix_test;

TEST(ReadUtf8File, GivesWellFormedTextOfBoundedSizeOnly) {
    TempDir dir;
    const std::string limit(1024 * 1024, 'a');
    const struct {
        const char* name;
        std::string content;
        bool valid;
    } cases[] = {
        {"two, three and four byte forms", "https://x/ \xC3\xA9 \xD0\x9F \xE2\x82\xAC \xF0\x9F\x98\x80", true},
        {"empty", "", true},
        {"the highest code point", "\xF4\x8F\xBF\xBF", true},
        {"exactly the size limit", limit, true},
        {"beyond the size limit", limit + "a", false},
        {"a stray continuation byte", "a\x80", false},
        {"an invalid byte", "\xFF", false},
        {"an overlong two-byte form", "\xC0\xAF", false},
        {"an overlong three-byte form", "\xE0\x80\xAF", false},
        {"an overlong four-byte form", "\xF0\x80\x80\xAF", false},
        {"a surrogate", "\xED\xA0\x80", false},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", false},
        {"cut off at the end", "ok\xE2\x82", false},
        {"a lead byte followed by ASCII", "\xC3(", false},
        {"a bad third byte", "\xE2\x82(", false},
    };
    PosixFileSystem files;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(dir / "text", c.content);
        EXPECT_EQ(files.readUtf8File(dir / "text"), c.valid ? std::optional(c.content) : std::nullopt);
    }
    EXPECT_EQ(files.readUtf8File(dir / "missing"), std::nullopt);
    EXPECT_EQ(files.readUtf8File(dir.path.string()), std::nullopt);
    // A pipe nobody writes must not hold the main thread.
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(files.readUtf8File(dir / "fifo"), std::nullopt);
}

}  // namespace
}  // namespace lorvane
