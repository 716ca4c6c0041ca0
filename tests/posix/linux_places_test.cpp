// The Linux places: XDG folders, the home folder and the resources where the install layout puts them.
#include <pwd.h>
#include <unistd.h>

#include "platform/linux/linux_places.h"
#include "posix_test_support.h"

namespace lorvane {
namespace {

using namespace posix_test;

TEST(LinuxPlaces, UserFoldersFollowXdgAndFallBackUnderHome) {
    const passwd* entry = ::getpwuid(::getuid());
    ASSERT_TRUE(entry) << "the test user needs a password database entry";
    const std::string passwd = entry->pw_dir;
    // The environment, and the home, log and data folders it gives. Relative values, and so empty
    // ones, are ignored.
    const std::tuple<Environment, std::string, std::string, std::string> cases[] = {
        {{{"HOME", "/home/u"}, {"XDG_STATE_HOME", "/x/state"}, {"XDG_DATA_HOME", "/x/data/"}},
         "/home/u", "/x/state", "/x/data"},
        {{{"HOME", "/home/u/"}, {"XDG_STATE_HOME", "x/state"}, {"XDG_DATA_HOME", ""}},
         "/home/u", "/home/u/.local/state", "/home/u/.local/share"},
        {{{"HOME", ""}}, passwd, passwd + "/.local/state", passwd + "/.local/share"},
    };
    for (const auto& [environment, home, logs, data] : cases) {
        const LinuxPlaces places(environment, "");
        EXPECT_EQ(std::tuple(places.home(), places.userLogFolder(), places.userDataFolder()), std::tuple(home, logs, data));
    }
}

// The standard layout, which the build tree lays out too.
TEST(LinuxPlaces, ResourcesAreInShareBesideBin) {
    TempDir dir;
    fs::create_directories(dir.path / "with/share/lorvane");
    fs::create_directories(dir.path / "without/bin");
    EXPECT_EQ(LinuxPlaces({}, dir / "with/bin/lorvane", "../share/lorvane").resourceDirectory(), dir / "with/share/lorvane");
    EXPECT_EQ(LinuxPlaces({}, dir / "without/bin/lorvane", "../share/lorvane").resourceDirectory(), std::nullopt);
}

}  // namespace
}  // namespace lorvane
