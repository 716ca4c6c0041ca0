// The process environment as a map, and the wall clock.
#include <ctime>

#include <gtest/gtest.h>

#include "platform/posix/posix_platform.h"

extern char** environ;

namespace lorvane {
namespace {

TEST(PosixEnvironmentTest, SnapshotSplitsAtTheFirstEqualsSignAndSkipsMalformedEntries) {
    char entries[][24] = {"PLAIN=value", "EMPTY=", "EQUALS=a=b", "NO_SEPARATOR", "=nameless", "PLAIN=second"};
    char* table[] = {entries[0], entries[1], entries[2], entries[3], entries[4], entries[5], nullptr};
    char** previous = environ;
    environ = table;
    const Environment snapshot = PosixEnvironment().snapshot();
    environ = previous;
    const Environment expected{{"PLAIN", "value"}, {"EMPTY", ""}, {"EQUALS", "a=b"}};
    EXPECT_EQ(snapshot, expected);
}

TEST(PosixSystemClockTest, NowIsTheWallClockInSeconds) {
    const double before = static_cast<double>(std::time(nullptr));
    const double now = SystemClock().now();
    EXPECT_GE(now, before);
    EXPECT_LT(now, before + 2.0);
}

}  // namespace
}  // namespace lorvane
