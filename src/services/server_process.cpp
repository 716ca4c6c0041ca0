// Starts the local web application server from the app's resources.
#include "app/app_delegate.h"
#include "services/paths.h"
#include "services/service_environment.h"
#include "services/voice_public_url.h"

namespace lorvane {

void AppDelegate::startBundledServer() {
    const auto resources = platform_.places.resourceDirectory();
    if (!resources) {
        showLaunchError();
        return;
    }
    const std::string runtime = joinPath(*resources, "runtime/node");
    const std::string script = joinPath(*resources, "server/server.mjs");
    // Checked before the log is touched, so the previous run's log survives for the user to read.
    if (!platform_.files.isExecutableFile(runtime) || !platform_.files.fileExists(script)) {
        showLaunchError();
        return;
    }

    openLog(serverLogPath(), state_.serverLogHandle);

    const std::string support = platform_.places.userDataFolder();
    const std::string gateway = joinPath(support, "Lorvane/gateway");
    (void)platform_.files.createDirectories(gateway);  // the server reports a missing folder itself
    // No file, or one that is not UTF-8, is no address.
    const auto publicURLFile = platform_.files.readUtf8File(joinPath(support, "Lorvane/voice-phone-public-url"));
    const auto publicURL = publicURLFile ? validVoicePublicURL(publicURLFile.value()) : std::nullopt;

    LaunchSpec spec;
    spec.executable = runtime;
    spec.arguments = {script};
    spec.workingDirectory = *resources;
    spec.environment = serverEnvironment(platform_.environment.snapshot(),
                                         {state_.appPort, state_.voicePort, gateway, publicURL});
    spec.output = ChildOutput::toFile(state_.serverLogHandle);
    spec.lifetime = ChildLifetime::EndsWithShell;

    // A runtime that will not find its program is started all the same, so that the log says why;
    // the launch-error page comes at once rather than after the readiness limit.
    const bool runs = platform_.launcher.canRun(spec);
    auto launched = platform_.launcher.launch(spec);
    if (launched) state_.serverProcess = launched.value();
    if (!launched || !runs) showLaunchError();
}

}  // namespace lorvane
