// The Linux places: XDG folders, the home folder and the resources where the install layout puts them.
#ifdef __linux__
#include <filesystem>
#include <vector>

#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/posix/posix_platform.h"
#include "posix_test_support.h"

namespace lorvane {
namespace {

using posix_test::TempDir;

std::string passwordDatabaseHome() {
    std::vector<char> buffer(1 << 16);
    struct passwd entry {};
    struct passwd* found = nullptr;
    ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found);
    return found ? found->pw_dir : "";
}

TEST(PosixLinuxPlacesTest, UserFoldersFollowXdgAndFallBackUnderHome) {
    const std::string passwdHome = passwordDatabaseHome();
    ASSERT_FALSE(passwdHome.empty()) << "the test user needs a password database entry";
    const std::string here = std::filesystem::current_path().string();
    const struct {
        const char* name;
        Environment environment;
        std::string home;
        std::string logs;
        std::string data;
    } cases[] = {
        {"absolute XDG values", {{"HOME", "/home/u"}, {"XDG_STATE_HOME", "/x/state"}, {"XDG_DATA_HOME", "/x/data"}},
         "/home/u", "/x/state", "/x/data"},
        {"relative XDG values are ignored", {{"HOME", "/home/u"}, {"XDG_STATE_HOME", "x/state"}, {"XDG_DATA_HOME", "."}},
         "/home/u", "/home/u/.local/state", "/home/u/.local/share"},
        {"empty XDG values are ignored", {{"HOME", "/home/u"}, {"XDG_STATE_HOME", ""}, {"XDG_DATA_HOME", ""}},
         "/home/u", "/home/u/.local/state", "/home/u/.local/share"},
        {"no XDG values", {{"HOME", "/home/u"}}, "/home/u", "/home/u/.local/state", "/home/u/.local/share"},
        {"trailing slashes", {{"HOME", "/home/u/"}, {"XDG_DATA_HOME", "/x/data/"}},
         "/home/u", "/home/u/.local/state", "/x/data"},
        {"no HOME: password database", {}, passwdHome, passwdHome + "/.local/state", passwdHome + "/.local/share"},
        {"empty HOME: password database", {{"HOME", ""}}, passwdHome, passwdHome + "/.local/state",
         passwdHome + "/.local/share"},
        {"relative HOME: from the current folder", {{"HOME", "u/"}}, here + "/u", here + "/u/.local/state",
         here + "/u/.local/share"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const LinuxPlaces places(c.environment, "");
        EXPECT_EQ(places.home(), c.home);
        EXPECT_EQ(places.userLogFolder(), c.logs);
        EXPECT_EQ(places.applicationSupport(), c.data);
    }
}

TEST(PosixLinuxPlacesTest, ResourceDirectoryFollowsTheInstallLayoutThenTheBuildTree) {
    TempDir dir;
    for (const char* folder : {"with/bin", "with/share/lorvane", "without/bin", "file/bin", "file/share",
                               "deep/libexec/lorvane", "deep/share/lorvane", "games/bin", "games/share/games/lorvane",
                               "both/bin", "both/share/lorvane", "both/share/games/lorvane"}) {
        std::filesystem::create_directories(dir.path() / folder);
    }
    posix_test::writeFile(dir / "file/share/lorvane", "");
    const std::string standard = "../share/lorvane";
    const struct {
        const char* name;
        std::string executable;
        std::string fromExecutable;
        std::optional<std::string> expected;
    } cases[] = {
        {"present", dir / "with/bin/lorvane", standard, dir / "with/share/lorvane"},
        {"reached through dot-dot", dir / "without/../with/bin/lorvane", standard, dir / "with/share/lorvane"},
        {"absent", dir / "without/bin/lorvane", standard, std::nullopt},
        {"a file in its place", dir / "file/bin/lorvane", standard, std::nullopt},
        {"executable unknown", "", standard, std::nullopt},
        {"binary two folders down", dir / "deep/libexec/lorvane/lorvane",
         "../../share/lorvane", dir / "deep/share/lorvane"},
        {"data folder elsewhere", dir / "games/bin/lorvane",
         "../share/games/lorvane", dir / "games/share/games/lorvane"},
        {"the install layout first", dir / "both/bin/lorvane",
         "../share/games/lorvane", dir / "both/share/games/lorvane"},
        {"build tree of another layout", dir / "with/bin/lorvane",
         "../share/games/lorvane", dir / "with/share/lorvane"},
        {"neither", dir / "deep/libexec/lorvane/lorvane", standard, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(LinuxPlaces({}, c.executable, c.fromExecutable).resourceDirectory(), c.expected);
    }
}

TEST(PosixLinuxPlacesTest, DefaultPlacesReadTheRunningProcess) {
    TempDir dir;
    const char* previous = ::getenv("XDG_STATE_HOME");
    const std::string saved = previous ? previous : "";
    ::setenv("XDG_STATE_HOME", dir.path().c_str(), 1);
    const LinuxPlaces places;
    if (previous) {
        ::setenv("XDG_STATE_HOME", saved.c_str(), 1);
    } else {
        ::unsetenv("XDG_STATE_HOME");
    }
    EXPECT_EQ(places.userLogFolder(), dir.path().string());
    // Resolved from this very binary: present exactly when the build laid out share/lorvane beside it.
    const auto expected = std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() / "share/lorvane";
    if (std::filesystem::is_directory(expected)) {
        EXPECT_EQ(places.resourceDirectory(), expected.string());
    } else {
        EXPECT_EQ(places.resourceDirectory(), std::nullopt);
    }
}

}  // namespace
}  // namespace lorvane
#endif
