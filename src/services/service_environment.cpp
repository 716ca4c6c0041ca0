// Builds the server's and the voice worker's environments.
#include "services/service_environment.h"

#include "app/local_origin.h"

namespace lorvane {

Environment serverEnvironment(Environment env, const ServerSettings& settings) {
    env["NODE_ENV"] = "production";
    env["PORT"] = std::to_string(settings.appPort);
    env["HOST"] = "127.0.0.1";
    env["LORVANE_API_URL"] = "http://127.0.0.1:5055";
    env["LORVANE_VOICE_API_URL"] = localOrigin(settings.voicePort);
    env["LORVANE_GATEWAY_STATE_DIR"] = settings.gatewayStateDir;
    // Only ever set: a value the user exported themselves survives an absent or invalid file.
    if (settings.voicePublicURL) env["LORVANE_VOICE_PUBLIC_URL"] = *settings.voicePublicURL;
    return env;
}

Environment voiceWorkerEnvironment(Environment env, std::int64_t voicePort, const std::string& dataDir) {
    env["NODE_ENV"] = "production";
    env["LORVANE_VOICE_PORT"] = std::to_string(voicePort);
    env["LORVANE_VOICE_DATA_DIR"] = dataDir;
    return env;
}

}  // namespace lorvane
