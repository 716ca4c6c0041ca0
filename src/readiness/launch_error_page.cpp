// Builds the launch-error page and shows it in the web view.
#include "readiness/launch_error_page.h"

#include "app/app_delegate.h"

namespace lorvane {

namespace {

constexpr std::string_view kPrefix =
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

constexpr std::string_view kSuffix = "</code></p>\n</main></body></html>";

static_assert(kPrefix.size() == 690, "the page prefix is fixed byte for byte");
static_assert(kSuffix.size() == 33, "the page suffix is fixed byte for byte");

}  // namespace

std::string escapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string launchErrorPage(std::string_view serverLogPath) {
    std::string page(kPrefix);
    page += escapeHtml(serverLogPath);
    page += kSuffix;
    return page;
}

void AppDelegate::showLaunchError() {
    // The web view exists from the launch sequence on; before it there is nowhere to show a page.
    if (!state_.webView) return;
    state_.webView->loadHtml(launchErrorPage(serverLogPath()));
}

}  // namespace lorvane
