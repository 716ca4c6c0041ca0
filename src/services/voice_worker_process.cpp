// Starts the voice worker beside the server; every failure here is silent by design, since the
// web application works without voice notes.
#include "app/app_delegate.h"
#include "services/paths.h"
#include "services/service_environment.h"

namespace lorvane {

void AppDelegate::startBundledVoiceWorker() {
    const auto resources = platform_.places.resourceDirectory();
    if (!resources) return;
    const std::string runtime = joinPath(*resources, "runtime/node");
    const std::string script = joinPath(*resources, "voice-worker/src/server.mjs");
    if (!platform_.files.isExecutableFile(runtime) || !platform_.files.fileExists(script)) return;

    const std::string dataDir = joinPath(platform_.places.userDataFolder(), "Lorvane/voice");
    (void)platform_.files.createDirectories(dataDir);

    openLog(voiceLogPath(), state_.voiceLogHandle);

    LaunchSpec spec;
    spec.executable = runtime;
    spec.arguments = {script};
    spec.workingDirectory = joinPath(*resources, "voice-worker");
    spec.environment = voiceWorkerEnvironment(platform_.environment.snapshot(), state_.voicePort, dataDir);
    spec.output = ChildOutput::toFile(state_.voiceLogHandle);
    spec.lifetime = ChildLifetime::EndsWithShell;

    auto launched = platform_.launcher.launch(spec);
    if (launched) state_.voiceProcess = launched.value();
}

}  // namespace lorvane
