// The Linux places: XDG folders, the home folder and the resources where the install layout puts them.
#include <pwd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/linux/linux_places.h"
#include "platform/linux/linux_process_launcher.h"
#include "platform/posix/posix_environment.h"
#include "platform/posix/posix_file_system.h"
#include "posix_test_support.h"

namespace lorvane {
namespace {

using namespace posix_test;

TEST(LinuxPlaces, UserFoldersFollowXdgAndFallBackUnderHome) {
    const passwd* entry = ::getpwuid(::getuid());
    ASSERT_TRUE(entry) << "the test user needs a password database entry";
    const std::string passwd = entry->pw_dir;
    const std::string here = fs::current_path().string();
    const struct {
        Environment environment;
        std::string home;
        std::string logs;
        std::string data;
    } cases[] = {
        {{{"HOME", "/home/u"}, {"XDG_STATE_HOME", "/x/state"}, {"XDG_DATA_HOME", "/x/data/"}},
         "/home/u", "/x/state", "/x/data"},
        // Relative values, and so empty ones, are ignored.
        {{{"HOME", "/home/u/"}, {"XDG_STATE_HOME", "x/state"}, {"XDG_DATA_HOME", ""}},
         "/home/u", "/home/u/.local/state", "/home/u/.local/share"},
        {{}, passwd, passwd + "/.local/state", passwd + "/.local/share"},
        {{{"HOME", ""}}, passwd, passwd + "/.local/state", passwd + "/.local/share"},
        // Read from the shell's current folder: the services start elsewhere.
        {{{"HOME", "u/"}}, here + "/u", here + "/u/.local/state", here + "/u/.local/share"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.home);
        const LinuxPlaces places(c.environment, "");
        EXPECT_EQ(places.home(), c.home);
        EXPECT_EQ(places.userLogFolder(), c.logs);
        EXPECT_EQ(places.userDataFolder(), c.data);
    }
}

TEST(LinuxPlaces, ResourceDirectoryFollowsTheInstallLayoutThenTheBuildTree) {
    TempDir dir;
    for (const char* folder : {"with/bin", "with/share/lorvane", "without/bin", "file/bin", "deep/libexec/lorvane",
                               "deep/share/lorvane", "both/bin", "both/share/lorvane", "both/share/games/lorvane"}) {
        fs::create_directories(dir.path / folder);
    }
    writeFile(dir / "file/share/lorvane", "");
    const std::string standard = "../share/lorvane";
    const struct {
        std::string executable;
        std::string fromExecutable;  // where the install layout puts the resources
        std::optional<std::string> expected;
    } cases[] = {
        {dir / "with/bin/lorvane", standard, dir / "with/share/lorvane"},
        {dir / "without/../with/bin/lorvane", standard, dir / "with/share/lorvane"},
        {dir / "without/bin/lorvane", standard, std::nullopt},
        {dir / "file/bin/lorvane", standard, std::nullopt},
        {"", standard, std::nullopt},
        {dir / "deep/libexec/lorvane/lorvane", "../../share/lorvane", dir / "deep/share/lorvane"},
        {dir / "both/bin/lorvane", "../share/games/lorvane", dir / "both/share/games/lorvane"},
        // The build tree lays the resources out beside bin/ whatever the install layout.
        {dir / "with/bin/lorvane", "../share/games/lorvane", dir / "with/share/lorvane"},
        {dir / "deep/libexec/lorvane/lorvane", standard, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.executable + " " + c.fromExecutable);
        EXPECT_EQ(LinuxPlaces({}, c.executable, c.fromExecutable).resourceDirectory(), c.expected);
    }
}

}  // namespace
}  // namespace lorvane
