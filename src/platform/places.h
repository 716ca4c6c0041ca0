// Where things live on this platform: the app's resources and the user's folders.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace lorvane {

class Places {
public:
    virtual ~Places() = default;
    // The folder holding runtime/, server/ and voice-worker/; absent when it does not exist.
    virtual std::optional<std::string> resourceDirectory() const = 0;
    // The user's folder for application logs (the app adds "Lorvane/<name>.log").
    virtual std::string userLogFolder() const = 0;
    // The user's folder for application data (the app adds "Lorvane/...").
    virtual std::string applicationSupport() const = 0;
    // The user's home folder.
    virtual std::string home() const = 0;
    // The version of the installed app ("1.2.3"), absent when the build carries none.
    virtual std::optional<std::string> installedVersion() const = 0;
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
