// What the two services are started with: their environments, and the voice public URL the
// server is given from the user's file.
#include <gtest/gtest.h>

#include "services/service_environment.h"
#include "services/voice_public_url.h"

namespace lorvane {

TEST(ServiceEnvironment, TheServicesOwnVariablesOverTheInheritedOnes) {
    const Environment inherited{{"PATH", "/usr/bin"}, {"PORT", "8080"}, {"HOST", "0.0.0.0"}, {"NODE_ENV", "test"}};
    Environment server{{"PATH", "/usr/bin"}, {"PORT", "3001"}, {"HOST", "127.0.0.1"}, {"NODE_ENV", "production"},
                       {"LORVANE_API_URL", "http://127.0.0.1:5055"}, {"LORVANE_VOICE_API_URL", "http://127.0.0.1:6061"},
                       {"LORVANE_GATEWAY_STATE_DIR", "/data/gateway"}};
    EXPECT_EQ(serverEnvironment(inherited, {3001, 6061, "/data/gateway", std::nullopt}), server);
    // The public URL is only ever set: without a valid file the user's own value passes through.
    Environment mine = inherited;
    mine["LORVANE_VOICE_PUBLIC_URL"] = "https://mine.ts.net";
    server["LORVANE_VOICE_PUBLIC_URL"] = "https://mine.ts.net";
    EXPECT_EQ(serverEnvironment(mine, {3001, 6061, "/data/gateway", std::nullopt}), server);
    server["LORVANE_VOICE_PUBLIC_URL"] = "https://phone.ts.net/";
    EXPECT_EQ(serverEnvironment(mine, {3001, 6061, "/data/gateway", "https://phone.ts.net/"}), server);
    // The worker keeps the inherited PORT and HOST.
    EXPECT_EQ(voiceWorkerEnvironment(inherited, 6061, "/data/voice"),
              (Environment{{"PATH", "/usr/bin"}, {"PORT", "8080"}, {"HOST", "0.0.0.0"}, {"NODE_ENV", "production"},
                           {"LORVANE_VOICE_PORT", "6061"}, {"LORVANE_VOICE_DATA_DIR", "/data/voice"}}));
}

// The file's text, trimmed of Unicode white space, is an https origin on the mesh VPN's names
// and nothing more; anything else is no URL at all.
TEST(VoicePublicUrl, AcceptsOnlyAnHttpsOriginOnTheMeshNames) {
    const std::string good = "https://phone.tail1234.ts.net";
    const std::pair<std::string, std::optional<std::string>> rows[] = {
        {"\u00A0\u2003" + good + " \r\n", good}, {good + ":8443/", good + ":8443/"},
        {good + "/voice", std::nullopt}, {good + "?", std::nullopt}, {good + "\n" + good, std::nullopt},
        {"http://phone.tail1234.ts.net", std::nullopt}, {"https://phone.tail1234.TS.NET", std::nullopt},
        {"https://phone.ts.net.evil.com", std::nullopt}, {"https://phonets.net", std::nullopt},
        {"https://anna@phone.tail1234.ts.net", std::nullopt}, {" \n", std::nullopt},
        {"\xE0\x82\xA0" + good, std::nullopt},  // U+00A0 in an overlong form is no white space
    };
    for (const auto& [text, expected] : rows) EXPECT_EQ(validVoicePublicURL(text), expected) << text;
}

}  // namespace lorvane
