// Where things live on this platform: the app's resources and the user's folders.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace lorvane {

// How this copy of the app reached the machine, and so how a newer release replaces it.
enum class PackageKind {
    DiskImage,      // an image the user downloads and copies the app out of
    SystemPackage,  // a package the system's package manager installs
};

class Places {
public:
    virtual ~Places() = default;
    // The folder holding runtime/, server/ and voice-worker/; absent when it does not exist.
    virtual std::optional<std::string> resourceDirectory() const = 0;
    // The user's folder for application logs (the app adds "Lorvane/<name>.log").
    virtual std::string userLogFolder() const = 0;
    // The user's folder for application data (the app adds "Lorvane/...").
    virtual std::string userDataFolder() const = 0;
    // The user's home folder, as an absolute path.
    virtual std::string home() const = 0;
    // The version of the installed app ("1.2.3"), absent when the build carries none.
    virtual std::optional<std::string> installedVersion() const = 0;
    // The kind of package the app is installed from; fixed for a build.
    virtual PackageKind packageKind() const = 0;
};

// The shell's own process environment, as it passes it on to the processes it starts.
class ProcessEnvironmentSource {
public:
    virtual ~ProcessEnvironmentSource() = default;
    // A full copy of the environment as it is at the moment of the call, without what a backend
    // set for its own toolkit only.
    virtual std::map<std::string, std::string> snapshot() const = 0;
};

}  // namespace lorvane
