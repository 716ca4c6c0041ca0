// Where things live on a Linux desktop: the XDG folders and the install layout.
#pragma once

#include <optional>
#include <string>

#include "platform/places.h"
#include "platform/process_launcher.h"

namespace lorvane {

// The XDG and /proc view of the places: logs in $XDG_STATE_HOME, data in $XDG_DATA_HOME (each when
// absolute, else under the home folder), resources beside the executable in the install layout.
// Works from an environment snapshot and an executable path taken at construction, so tests can
// bring their own; the default constructor takes both from the running process.
class LinuxPlaces final : public Places {
public:
    LinuxPlaces();
    LinuxPlaces(Environment environment, std::string executablePath);
    // `resourcesFromExecutable`: the resource folder relative to the executable's folder in the
    // install layout; the two-argument form takes the one the build compiled in.
    LinuxPlaces(Environment environment, std::string executablePath, std::string resourcesFromExecutable);

    std::optional<std::string> resourceDirectory() const override;
    std::string userLogFolder() const override;
    std::string userDataFolder() const override;
    std::string home() const override;
    std::optional<std::string> installedVersion() const override;
    PackageKind packageKind() const override;

private:
    // `variable` when it holds an absolute path, else the home folder + `fallbackUnderHome`.
    std::string xdgFolder(const char* variable, const char* fallbackUnderHome) const;

    Environment environment_;
    std::string executablePath_;  // empty when unknown: then there is no resource directory
    std::string resourcesFromExecutable_;
};

}  // namespace lorvane
