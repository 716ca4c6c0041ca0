// A whole platform in memory: virtual clock and queue, scripted HTTP, recorded UI, files and
// processes. Every fake appends what it is asked to do to one event log, so a test reads one list
// for both what happened and in which order.
#pragma once

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace lorvane::fake {

using EventLog = std::vector<std::string>;

// What every recording fake holds: the log it appends to.
struct Recorder {
    explicit Recorder(EventLog& log) : events(log) {}
    EventLog& events;
};

// A request as logged: its URL, its time-out, and whether it bypasses the cache.
inline std::string describe(const std::string& url, double timeout, CachePolicy cache) {
    return url + " " + std::to_string(static_cast<int>(timeout)) + "s" +
           (cache == CachePolicy::ReloadIgnoringLocalCache ? " fresh" : "");
}

struct FakeTimer final : Timer {
    void invalidate() override { valid = false; }
    bool isValid() const override { return valid; }
    bool valid = true;
};

// Runs posted closures and timer ticks on virtual time, in due-time order (ties in posting order);
// the queue is also the clock that tells that time.
struct FakeMainQueue final : MainQueue, Clock {
    double now() const override { return seconds; }
    void post(std::function<void()> work) override { entries.emplace(seconds, std::move(work)); }
    void postAfter(double delay, std::function<void()> work) override { entries.emplace(now() + delay, std::move(work)); }
    std::shared_ptr<Timer> scheduleRepeating(double interval, std::function<void()> tick) override {
        auto timer = std::make_shared<FakeTimer>();
        repeat(timer, interval, std::move(tick));
        return timer;
    }
    // Each tick books the next before it runs, so a tick that invalidates its timer ends the series.
    void repeat(std::shared_ptr<FakeTimer> timer, double interval, std::function<void()> tick) {
        entries.emplace(seconds + interval, [=, this] {
            if (!timer->valid) return;
            repeat(timer, interval, tick);
            tick();
        });
    }
    // Moves virtual time forward by `by` seconds, running whatever falls due on the way; advance(0)
    // runs what is due now, and what that posts for now.
    void advance(double by) {
        const double target = seconds + by;
        while (!entries.empty() && entries.begin()->first <= target) {
            auto due = entries.extract(entries.begin());
            seconds = std::max(seconds, due.key());
            due.mapped()();
        }
        seconds = target;
    }
    double seconds = 1'700'000'000.0;
    std::multimap<double, std::function<void()>> entries;  // by due time, equal times in posting order
};

// Answers only when a test says so, and then as the real client does: on the main queue, after
// respond() has returned.
struct FakeHttpClient final : HttpClient, Recorder {
    FakeHttpClient(FakeMainQueue& q, EventLog& log) : Recorder(log), queue(q) {}
    void get(const HttpRequest& r, Completion done) override {
        events.push_back("http.get " + describe(r.url, r.timeoutSeconds, r.cachePolicy) +
                         (r.needs == HttpAnswerNeeded::StatusOnly ? " status-only" : ""));
        completions.push_back(std::move(done));
    }
    // Answers the oldest request still unanswered.
    void respond(Result<HttpResponse> response) {
        queue.post([done = std::move(completions.front()), response = std::move(response)] { done(response); });
        completions.pop_front();
    }
    FakeMainQueue& queue;
    std::deque<Completion> completions;
};

struct FakeFileHandle final : FileHandle, Recorder {
    FakeFileHandle(std::string p, EventLog& log) : Recorder(log), path(std::move(p)) {}
    Result<void> truncate(std::uint64_t) override { return {}; }
    Result<void> close() override {
        events.push_back("file.close " + path);
        return {};
    }
    int descriptor() const override { return -1; }
    std::string path;
};

// Only the files in `files` exist, all executable; folders and logs are always made and opened.
struct FakeFileSystem final : FileSystem, Recorder {
    using Recorder::Recorder;
    Result<void> createDirectories(const std::string&) override { return {}; }
    Result<void> createEmptyFile(const std::string&) override { return {}; }
    Result<std::shared_ptr<FileHandle>> openForWriting(const std::string& path) override {
        return std::shared_ptr<FileHandle>(std::make_shared<FakeFileHandle>(path, events));
    }
    bool isExecutableFile(const std::string& path) override { return files.count(path) > 0; }
    bool fileExists(const std::string& path) override { return files.count(path) > 0; }
    std::string absolutePath(const std::string& path) override { return path; }
    Result<std::string> readUtf8File(const std::string& path) override { return Failure{"no " + path}; }
    std::set<std::string> files;
};

struct FakeChildProcess final : ChildProcess, Recorder {
    FakeChildProcess(std::string n, EventLog& log) : Recorder(log), name(std::move(n)) {}
    bool isRunning() const override { return running; }
    void terminate() override { events.push_back("child.terminate " + name); }
    int pid() const override { return 0; }
    std::string name;
    bool running = true;
};

// Every launch succeeds; a child is named by its script, or by its executable when it has none.
struct FakeProcessLauncher final : ProcessLauncher, Recorder {
    using Recorder::Recorder;
    Result<std::shared_ptr<ChildProcess>> launch(const LaunchSpec& spec) override {
        const std::string name = spec.arguments.empty() ? spec.executable : spec.arguments.front();
        events.push_back("launch " + name);
        children.push_back(std::make_shared<FakeChildProcess>(name, events));
        return std::shared_ptr<ChildProcess>(children.back());
    }
    bool canRun(const LaunchSpec&) override { return true; }
    std::vector<std::shared_ptr<FakeChildProcess>> children;
};

struct FakePlaces final : Places {
    std::optional<std::string> resourceDirectory() const override { return resources; }
    std::string userLogFolder() const override { return logs; }
    std::string userDataFolder() const override { return support; }
    std::string home() const override { return homeFolder; }
    std::optional<std::string> installedVersion() const override { return version; }
    PackageKind packageKind() const override { return kind; }
    std::optional<std::string> resources = "/app/share/lorvane";
    std::string logs = "/home/user/.local/state";
    std::string support = "/home/user/.local/share";
    std::string homeFolder = "/home/user";
    std::optional<std::string> version = "1.0.0";
    PackageKind kind = PackageKind::SystemPackage;
};

struct FakeEnvironment final : ProcessEnvironmentSource {
    Environment snapshot() const override { return variables; }
    Environment variables{{"PATH", "/usr/bin:/bin"}};
};

// The web view doubles as the window that shows it.
struct FakeWebView final : WebView, Window, Recorder {
    using Recorder::Recorder;
    void present() override { events.push_back("window.present"); }
    // Logged by the page's heading, which tells the loading page from the launch-error page.
    void loadHtml(const std::string& html) override {
        const auto from = html.find("<h1>") + 4;
        events.push_back("webView.loadHtml " + html.substr(from, html.find("</h1>") - from));
        ++loads;
    }
    void loadRequest(const WebRequest& r) override {
        events.push_back("webView.loadRequest " + describe(r.url, r.timeoutSeconds, r.cachePolicy));
        ++loads;
    }
    void evaluateJavaScript(const std::string&, std::function<void(Result<void>)> done) override {
        events.push_back("webView.evaluateJavaScript");
        scripts.push_back(std::move(done));
    }
    std::size_t loads = 0;  // pages and requests
    std::vector<std::function<void(Result<void>)>> scripts;  // completions, in order
};

struct FakeApplication final : Application, Recorder {
    using Recorder::Recorder;
    void setMainMenu(const MenuBar&) override { events.push_back("app.setMainMenu"); }
    std::shared_ptr<WebView> createWebView(const WebViewSpec& spec, std::weak_ptr<WebViewUIDelegate>) override {
        const bool kept = spec.dataStore == WebsiteDataStore::PersistentDefault;
        events.push_back(kept ? "app.createWebView persistent" : "app.createWebView ephemeral");
        return webView = std::make_shared<FakeWebView>(events);
    }
    std::shared_ptr<Window> createWindow(const WindowSpec&, std::shared_ptr<WebView>) override {
        events.push_back("app.createWindow");
        return webView;
    }
    void activate() override { events.push_back("app.activate"); }
    // Stays open until the test answers it with answer(), as the user would.
    void showAlert(const Alert& alert, std::function<void(AlertAnswer)> onAnswer) override {
        std::string buttons;
        for (const auto& b : alert.buttons) buttons += (buttons.empty() ? "" : ", ") + b;
        events.push_back("alert " + alert.messageText + " | " + alert.informativeText + " | " + buttons);
        alerts.push_back(std::move(onAnswer));
    }
    void answer(std::size_t index, AlertAnswer a) { std::exchange(alerts.at(index), nullptr)(a); }
    void openURL(const std::string& url) override { events.push_back("app.openURL " + url); }
    void showAbout(const std::string& version) override { events.push_back("app.showAbout " + version); }
    void quit() override { events.push_back("app.quit"); }
    std::shared_ptr<FakeWebView> webView;
    std::vector<std::function<void(AlertAnswer)>> alerts;  // in showing order; empty once answered
};

// One fake of everything, wired together; `platform()` hands the core its references.
struct FakePlatform {
    Platform& platform() { return wired; }
    void advance(double seconds) { queue.advance(seconds); }
    EventLog events;
    FakeMainQueue queue;
    FakeMainQueue& clock = queue;
    FakeHttpClient http{queue, events};
    FakeProcessLauncher launcher{events};
    FakeFileSystem files{events};
    FakePlaces places;
    FakeEnvironment environment;
    FakeApplication application{events};
    Platform wired{queue, clock, http, launcher, files, places, environment, application};
};

}  // namespace lorvane::fake
