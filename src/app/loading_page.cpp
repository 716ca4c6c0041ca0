// The loading page's exact bytes: dark background, the product mark and a one-line status.
#include "app/loading_page.h"

namespace lorvane {

const std::string_view kLoadingPageHtml =
    "<!doctype html>\n"
    "<html lang=\"ru\">\n"
    "<head>\n"
    "  <meta charset=\"utf-8\">\n"
    "  <meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
    "  <style>\n"
    "    :root { color-scheme: dark; }\n"
    "    * { box-sizing: border-box; }\n"
    "    body { margin: 0; min-height: 100vh; display: grid; place-items: center;\n"
    "      background: #07111f; color: #eef7ff; font: 16px -apple-system, BlinkMacSystemFont, sans-serif; }\n"
    "    main { text-align: center; padding: 40px; }\n"
    "    .mark { width: 54px; height: 54px; margin: 0 auto 22px; border-radius: 17px;\n"
    "      background: linear-gradient(145deg, #2e9eff, #68c4ff); box-shadow: 0 18px 55px #2e9eff55; }\n"
    "    h1 { margin: 0 0 10px; font-size: 28px; letter-spacing: -.03em; }\n"
    "    p { margin: 0; color: #9fb2c8; }\n"
    "  </style>\n"
    "</head>\n"
    "<body><main><div class=\"mark\"></div><h1>Lorvane</h1><p>Запускаем локальное приложение…</p></main></body>\n"
    "</html>";

}  // namespace lorvane
