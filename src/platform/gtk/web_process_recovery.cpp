// The reload budget after web process ends, and the page shown once it is spent.
#include "platform/gtk/web_process_recovery.h"

namespace lorvane::gtk {

bool ReloadBudget::take(gint64 now) {
    while (!reloads_.empty() && now - reloads_.front() >= kWindowMicroseconds) reloads_.pop_front();
    if (reloads_.size() >= kReloads) return false;
    reloads_.push_back(now);
    return true;
}

const char* const kStoppedPageHtml =
    "<!doctype html>\n"
    "<html lang=\"ru\"><head><meta charset=\"utf-8\"><title>Lorvane</title><style>\n"
    "  :root { color-scheme: dark; }\n"
    "  body { margin: 0; min-height: 100vh; display: grid; place-items: center; background: #07111f;\n"
    "    color: #eef7ff; font: 16px -apple-system, BlinkMacSystemFont, sans-serif; }\n"
    "  main { max-width: 620px; padding: 42px; text-align: center; }\n"
    "  h1 { font-size: 26px; } p { color: #aebed0; line-height: 1.55; }\n"
    "  button { font: inherit; border: 0; border-radius: 10px; padding: 10px 20px; background: #2e9eff; color: #fff; }\n"
    "</style></head><body><main><h1>Страница перестала работать</h1>\n"
    "<p>Процесс, который показывает страницу, несколько раз подряд завершился с ошибкой.</p>\n"
    "<button autofocus onclick=\"window.webkit.messageHandlers.lorvaneReload.postMessage('reload')\">"
    "Обновить страницу</button>\n"
    "</main></body></html>";

}  // namespace lorvane::gtk
