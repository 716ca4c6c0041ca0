// What happens once the app has launched: window, loading page, services, polling, update check.
#include "app/app_delegate.h"
#include "app/loading_page.h"
#include "app/main_menu.h"
#include "readiness/readiness.h"

namespace lorvane {

namespace {

constexpr double kAutomaticUpdateCheckDelaySeconds = 3.0;

WindowSpec mainWindowSpec() {
    WindowSpec spec;
    spec.contentWidth = 1440;
    spec.contentHeight = 900;
    spec.minWidth = 1024;
    spec.minHeight = 700;
    spec.title = "Lorvane";
    spec.features = WindowFeature::Closable | WindowFeature::Minimizable | WindowFeature::Resizable |
                    WindowFeature::ContentUnderTitleBar;
    return spec;
}

}  // namespace

void AppDelegate::applicationDidFinishLaunching() {
    Application& app = platform_.application;
    app.setMainMenu(buildMainMenu());

    state_.webView =
        app.createWebView(WebViewSpec{"LorvaneMac/0.1", WebsiteDataStore::PersistentDefault}, weak_from_this());
    state_.window = app.createWindow(mainWindowSpec(), state_.webView);
    state_.window->present();
    // Shown before any service starts, so a server that cannot start can replace it at once.
    state_.webView->loadHtml(std::string(kLoadingPageHtml));

    startLocalBackendIfAvailable();
    startBundledVoiceWorker();
    startBundledServer();

    // The time limit counts from the end of service start-up.
    state_.readinessStartedAt = platform_.clock.now();
    // Stored before the first probe, so a probe that ends polling can stop it.
    state_.readinessTimer = platform_.queue.scheduleRepeating(readiness::kPollIntervalSeconds, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->checkServerReadiness();
    });
    checkServerReadiness();

    app.activate();
    platform_.queue.postAfter(kAutomaticUpdateCheckDelaySeconds, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->checkForUpdates(UpdateCheckTrigger::Automatic);
    });
}

}  // namespace lorvane
