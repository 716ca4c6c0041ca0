// The two services' environments: inherited variables kept, the services' own set on top.
#include <gtest/gtest.h>

#include "services/service_environment.h"

namespace lorvane {
namespace {

TEST(ServiceEnvironment, ServerGetsItsVariablesOverTheInheritedOnes) {
    Environment inherited{{"PATH", "/usr/bin"}, {"PORT", "8080"}, {"HOST", "0.0.0.0"},
                          {"NODE_ENV", "development"}, {"LORVANE_VOICE_PUBLIC_URL", "https://mine.ts.net"}};
    Environment env = serverEnvironment(inherited, {3001, 6061, "/data/Lorvane/gateway", std::nullopt});
    EXPECT_EQ(env, (Environment{{"PATH", "/usr/bin"},
                                {"PORT", "3001"},
                                {"HOST", "127.0.0.1"},
                                {"NODE_ENV", "production"},
                                {"LORVANE_API_URL", "http://127.0.0.1:5055"},
                                {"LORVANE_VOICE_API_URL", "http://127.0.0.1:6061"},
                                {"LORVANE_GATEWAY_STATE_DIR", "/data/Lorvane/gateway"},
                                // No valid file: the user's own value passes through untouched.
                                {"LORVANE_VOICE_PUBLIC_URL", "https://mine.ts.net"}}));
}

TEST(ServiceEnvironment, ValidPublicUrlReplacesAnInheritedOne) {
    Environment env = serverEnvironment({{"LORVANE_VOICE_PUBLIC_URL", "https://old.ts.net"}},
                                        {3001, 6061, "/g", std::string("https://phone.tail1.ts.net")});
    EXPECT_EQ(env.at("LORVANE_VOICE_PUBLIC_URL"), "https://phone.tail1.ts.net");
}

TEST(ServiceEnvironment, ServerWithoutPublicUrlHasNone) {
    Environment env = serverEnvironment({}, {3001, 6061, "/g", std::nullopt});
    EXPECT_EQ(env.count("LORVANE_VOICE_PUBLIC_URL"), 0u);
    EXPECT_EQ(env.size(), 6u);
}

TEST(ServiceEnvironment, WorkerGetsOnlyItsThreeVariablesAndKeepsInheritedPortAndHost) {
    Environment inherited{{"PORT", "8080"}, {"HOST", "0.0.0.0"}, {"NODE_ENV", "test"}, {"LANG", "ru_RU.UTF-8"}};
    Environment env = voiceWorkerEnvironment(inherited, 6061, "/data/Lorvane/voice");
    EXPECT_EQ(env, (Environment{{"PORT", "8080"},
                                {"HOST", "0.0.0.0"},
                                {"LANG", "ru_RU.UTF-8"},
                                {"NODE_ENV", "production"},
                                {"LORVANE_VOICE_PORT", "6061"},
                                {"LORVANE_VOICE_DATA_DIR", "/data/Lorvane/voice"}}));
}

}  // namespace
}  // namespace lorvane
