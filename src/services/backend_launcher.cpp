// Finds and starts a developer's launcher script, which brings up its own backend beside ours.
#include <vector>

#include "app/app_delegate.h"
#include "services/paths.h"

namespace lorvane {

namespace {
constexpr std::string_view kLauncherName = "start-lorvane.sh";
}

std::optional<std::string> AppDelegate::backendLauncherPath() const {
    std::vector<std::string> candidates;
    const auto environment = platform_.environment.snapshot();
    // Taken as written: a value with stray spaces names another folder, and an empty one none. A
    // relative value names a folder under the shell's current one; the script starts in its own
    // folder, so the path it is run by must not be relative.
    if (auto workspace = environment.find("LORVANE_WORKSPACE");
        workspace != environment.end() && !workspace->second.empty()) {
        candidates.push_back(joinPath(platform_.files.absolutePath(workspace->second), kLauncherName));
    }
    const std::string home = platform_.places.home();
    candidates.push_back(joinPath(joinPath(platform_.places.userDataFolder(), "Lorvane/backend"), kLauncherName));
    candidates.push_back(joinPath(home, "Quendrel/lorvane/start-lorvane.sh"));
    candidates.push_back(joinPath(home, "lorvane/start-lorvane.sh"));

    for (const auto& candidate : candidates) {
        if (platform_.files.isExecutableFile(candidate)) return candidate;
    }
    return std::nullopt;
}

void AppDelegate::startLocalBackendIfAvailable() {
    const auto script = backendLauncherPath();
    if (!script) return;
    LaunchSpec spec;
    spec.executable = *script;
    spec.workingDirectory = parentFolder(*script);
    spec.output = ChildOutput::nullDevice();
    // Not tracked and not stopped at quit: what the script starts is the developer's to manage.
    spec.lifetime = ChildLifetime::Independent;
    (void)platform_.launcher.launch(spec);
}

}  // namespace lorvane
