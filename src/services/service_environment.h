// The environments the two local services are started with: the shell's own plus their settings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/process_launcher.h"

namespace lorvane {

struct ServerSettings {
    std::int64_t appPort = 0;
    std::int64_t voicePort = 0;
    std::string gatewayStateDir;
    std::optional<std::string> voicePublicURL;  // set only when the user's file held a valid URL
};

// The inherited variables stay; the server's own replace any inherited ones of the same name.
Environment serverEnvironment(Environment inherited, const ServerSettings& settings);

// The worker gets only its three variables on top of the inherited ones (no PORT or HOST).
Environment voiceWorkerEnvironment(Environment inherited, std::int64_t voicePort, const std::string& dataDir);

}  // namespace lorvane
