// The launch-error page: exact bytes around the log path, and the path escaped as HTML text.
#include <gtest/gtest.h>

#include "fake_platform.h"
#include "delegate_access.h"
#include "readiness/launch_error_page.h"

namespace lorvane {
namespace {

const std::string kExpectedPrefix =
    "<!doctype html>\n"
    "<html lang=\"ru\"><head><meta charset=\"utf-8\"><style>\n"
    "  :root { color-scheme: dark; }\n"
    "  body { margin: 0; min-height: 100vh; display: grid; place-items: center; background: #07111f;\n"
    "    color: #eef7ff; font: 16px -apple-system, BlinkMacSystemFont, sans-serif; }\n"
    "  main { max-width: 680px; padding: 42px; text-align: center; }\n"
    "  h1 { font-size: 26px; } p { color: #aebed0; line-height: 1.55; }\n"
    "  code { color: #68c4ff; overflow-wrap: anywhere; }\n"
    "</style></head><body><main><h1>Не удалось запустить локальный интерфейс</h1>\n"
    "<p>Закройте приложение и откройте его снова. Журнал запуска:<br><code>";
const std::string kExpectedSuffix = "</code></p>\n</main></body></html>";

struct PathCase {
    std::string path;
    std::string quoted;
};

class LaunchErrorPageText : public ::testing::TestWithParam<PathCase> {};

TEST_P(LaunchErrorPageText, QuotesThePathBetweenTheFixedPieces) {
    const auto& c = GetParam();
    EXPECT_EQ(launchErrorPage(c.path), kExpectedPrefix + c.quoted + kExpectedSuffix);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, LaunchErrorPageText,
    ::testing::Values(
        PathCase{"/home/anna/.local/state/Lorvane/server.log", "/home/anna/.local/state/Lorvane/server.log"},
        // Spaces and non-ASCII letters stay plain text, never percent-encoded.
        PathCase{"/home/Анна Петрова/журналы/server.log", "/home/Анна Петрова/журналы/server.log"},
        PathCase{"/tmp/a&b/server.log", "/tmp/a&amp;b/server.log"},
        PathCase{"/tmp/</code><script>x()</script>/server.log",
                 "/tmp/&lt;/code&gt;&lt;script&gt;x()&lt;/script&gt;/server.log"},
        PathCase{"/tmp/\"quoted\"/it's/server.log", "/tmp/&quot;quoted&quot;/it's/server.log"},
        PathCase{"", ""}));

TEST(LaunchErrorPage, PrefixAndSuffixHaveTheirFixedSizes) {
    EXPECT_EQ(kExpectedPrefix.size(), 690u);
    EXPECT_EQ(kExpectedSuffix.size(), 33u);
}

TEST(LaunchErrorPage, ShownTwiceLoadsTheSamePageTwiceAndTouchesNothingElse) {
    fake::FakePlatform fake;
    fake.places.logs = "/home/u/.local/state";
    auto delegate = std::make_shared<AppDelegate>(fake.platform(), testUpdateEndpoints());
    auto& state = AppDelegateTestAccess::state(*delegate);
    state.webView = fake.application.createWebView({}, {});
    fake.events.clear();

    AppDelegateTestAccess::showLaunchError(*delegate);
    AppDelegateTestAccess::showLaunchError(*delegate);

    ASSERT_EQ(fake.application.webView->loads.size(), 2u);
    const std::string expected = kExpectedPrefix + "/home/u/.local/state/Lorvane/server.log" + kExpectedSuffix;
    for (const auto& load : fake.application.webView->loads) {
        EXPECT_TRUE(load.isHtml);
        EXPECT_EQ(load.html, expected);
    }
    // No log folder or file is created just to quote its path.
    EXPECT_EQ(fake.eventsStartingWith("fs."), std::vector<std::string>{});
}

}  // namespace
}  // namespace lorvane
