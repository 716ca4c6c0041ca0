// Where things live on Linux: resources where the install layout puts them, user folders after XDG.
#include <cerrno>
#include <filesystem>
#include <system_error>
#include <vector>

#include <pwd.h>
#include <unistd.h>

#include "build_config.h"
#include "platform/linux/linux_places.h"
#include "platform/posix/posix_environment.h"

namespace lorvane {
namespace {

// The running executable, resolved by the kernel; empty where /proc offers no such link.
std::string currentExecutablePath() {
#ifdef __linux__
    std::error_code error;
    std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) return path.string();
#endif
    return {};
}

// The build tree lays the bundle out in share/lorvane beside bin/ whatever the install layout, so a
// build configured for another layout still runs from where it was built.
constexpr const char* kBuildTreeResourcesFromExecutable = "../share/lorvane";

// "/a/b/" and "/a/b" name the same folder; the app appends "/Lorvane/..." to these.
std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::optional<std::string> existingFolder(const std::filesystem::path& candidate) {
    std::error_code error;
    std::filesystem::path resolved = std::filesystem::weakly_canonical(candidate, error);
    if (error) resolved = candidate.lexically_normal();
    if (!std::filesystem::is_directory(resolved, error)) return std::nullopt;
    return withoutTrailingSlashes(resolved.string());
}

std::optional<std::string> passwordDatabaseHome() {
    long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
    for (;;) {
        struct passwd entry {};
        struct passwd* found = nullptr;
        int error = ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found);
        if (error == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (error != 0 || found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] == '\0') {
            return std::nullopt;
        }
        return std::string(found->pw_dir);
    }
}

}  // namespace

LinuxPlaces::LinuxPlaces() : LinuxPlaces(PosixEnvironment().snapshot(), currentExecutablePath()) {}

LinuxPlaces::LinuxPlaces(Environment environment, std::string executablePath)
    : LinuxPlaces(std::move(environment), std::move(executablePath), LORVANE_RESOURCES_FROM_BINDIR) {}

LinuxPlaces::LinuxPlaces(Environment environment, std::string executablePath, std::string resourcesFromExecutable)
    : environment_(std::move(environment)),
      executablePath_(std::move(executablePath)),
      resourcesFromExecutable_(std::move(resourcesFromExecutable)) {}

std::optional<std::string> LinuxPlaces::resourceDirectory() const {
    if (executablePath_.empty()) return std::nullopt;
    const std::filesystem::path binDirectory = std::filesystem::path(executablePath_).parent_path();
    if (auto installed = existingFolder(binDirectory / resourcesFromExecutable_)) return installed;
    return existingFolder(binDirectory / kBuildTreeResourcesFromExecutable);
}

std::string LinuxPlaces::userLogFolder() const { return xdgFolder("XDG_STATE_HOME", ".local/state"); }

std::string LinuxPlaces::userDataFolder() const { return xdgFolder("XDG_DATA_HOME", ".local/share"); }

std::string LinuxPlaces::home() const {
    auto variable = environment_.find("HOME");
    if (variable != environment_.end() && !variable->second.empty()) {
        // A relative HOME is read from the shell's current folder. The children start elsewhere,
        // so every path built on it must already be absolute.
        std::error_code error;
        const std::filesystem::path absolute = std::filesystem::absolute(variable->second, error);
        return withoutTrailingSlashes(error ? variable->second : absolute.string());
    }
    // Without a password entry either there is no better answer than the root folder.
    return withoutTrailingSlashes(passwordDatabaseHome().value_or("/"));
}

std::optional<std::string> LinuxPlaces::installedVersion() const {
    const std::string version = LORVANE_VERSION;
    if (version.empty()) return std::nullopt;
    return version;
}

// Linux installs come from the distribution's package manager (or a `cmake --install`, which
// is updated the same way: by installing the newer build over it).
PackageKind LinuxPlaces::packageKind() const { return PackageKind::SystemPackage; }

std::string LinuxPlaces::xdgFolder(const char* variable, const char* fallbackUnderHome) const {
    // The XDG base directory rules ignore relative values (and so empty ones).
    auto found = environment_.find(variable);
    if (found != environment_.end() && !found->second.empty() && found->second.front() == '/') {
        return withoutTrailingSlashes(found->second);
    }
    std::string base = home();
    if (base != "/") base += '/';
    return base + fallbackUnderHome;
}

}  // namespace lorvane
