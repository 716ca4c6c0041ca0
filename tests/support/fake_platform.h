// A whole platform in memory: virtual time, scripted HTTP, recording UI, files and processes.
// Every fake appends what it is asked to do to one shared event list, so tests can check order.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace lorvane::fake {

using EventLog = std::vector<std::string>;

class FakeClock final : public Clock {
public:
    double now() const override { return now_; }
    void set(double seconds) { now_ = seconds; }

private:
    double now_ = 1'700'000'000.0;
};

class FakeTimer final : public Timer {
public:
    void invalidate() override { valid_ = false; ++invalidations; }
    bool isValid() const override { return valid_; }
    double interval = 0;
    int invalidations = 0;

private:
    bool valid_ = true;
};

// Runs posted closures and timers on virtual time, in due-time order (ties in posting order).
class FakeMainQueue final : public MainQueue {
public:
    FakeMainQueue(FakeClock& clock, EventLog& events) : clock_(clock), events_(events) {}
    void post(std::function<void()> work) override;
    void postAfter(double seconds, std::function<void()> work) override;
    std::shared_ptr<Timer> scheduleRepeating(double intervalSeconds, std::function<void()> tick) override;

    // Moves virtual time forward by `seconds`, running everything that falls due on the way.
    void advance(double seconds);
    // Runs everything already due (and whatever that posts for now) without moving time.
    void runUntilIdle();
    // Closures and live timers still waiting.
    std::size_t pendingCount() const;

private:
    struct Entry {
        double due;
        long sequence;
        std::function<void()> work;
        std::shared_ptr<FakeTimer> timer;  // set for repeating timers
    };
    bool runNextDueBy(double limit);

    FakeClock& clock_;
    EventLog& events_;
    std::vector<Entry> entries_;
    long sequence_ = 0;
};

// Answers only when a test says so, and then as the real client does: on the main queue, after
// respond() has returned, so the answer is seen once the queue runs.
class FakeHttpClient final : public HttpClient {
public:
    FakeHttpClient(FakeMainQueue& queue, EventLog& events) : queue_(queue), events_(events) {}
    void get(const HttpRequest& request, Completion done) override;

    struct Exchange {
        HttpRequest request;
        Completion done;
        bool answered = false;
    };
    const std::vector<Exchange>& exchanges() const { return exchanges_; }
    std::size_t unanswered() const;
    // Posts the completion of request `index` to the main queue; absent = no response.
    void respond(std::size_t index, std::optional<HttpResponse> response);
    void respondStatus(std::size_t index, int status, std::string body = "");
    // Answers the oldest unanswered request.
    void respondNext(std::optional<HttpResponse> response);

private:
    FakeMainQueue& queue_;
    EventLog& events_;
    std::vector<Exchange> exchanges_;
};

class FakeFileHandle final : public FileHandle {
public:
    explicit FakeFileHandle(std::string filePath) : path(std::move(filePath)) {}
    bool truncate(std::uint64_t) override { ++truncations; return true; }
    bool close() override { ++closes; return closes == 1; }
    int descriptor() const override { return -1; }
    std::string path;
    int truncations = 0;
    int closes = 0;
};

// An in-memory tree: folders, files with text, and which files are executable.
class FakeFileSystem final : public FileSystem {
public:
    explicit FakeFileSystem(EventLog& events) : events_(events) {}
    bool createDirectories(const std::string& path) override;
    bool createEmptyFile(const std::string& path) override;
    Result<std::shared_ptr<FileHandle>> openForWriting(const std::string& path) override;
    bool isExecutableFile(const std::string& path) override;
    bool fileExists(const std::string& path) override;
    std::string absolutePath(const std::string& path) override;
    std::optional<std::string> readUtf8File(const std::string& path) override;

    void addFile(const std::string& path, std::string text = "", bool executable = false);
    std::set<std::string> directories;
    std::map<std::string, std::string> files;
    std::set<std::string> executables;
    std::string currentFolder = "/current";
    std::vector<std::shared_ptr<FakeFileHandle>> openedHandles;

private:
    EventLog& events_;
};

class FakeChildProcess final : public ChildProcess {
public:
    bool isRunning() const override { return running; }
    void terminate() override;
    int pid() const override { return pidValue; }
    bool running = true;
    int pidValue = 0;
    int terminations = 0;
    EventLog* events = nullptr;
    std::string name;
};

class FakeProcessLauncher final : public ProcessLauncher {
public:
    explicit FakeProcessLauncher(EventLog& events) : events_(events) {}
    Result<std::shared_ptr<ChildProcess>> launch(const LaunchSpec& spec) override;
    std::vector<LaunchSpec> launches;
    std::vector<std::shared_ptr<FakeChildProcess>> children;
    std::set<std::string> failingExecutables;  // launches of these fail

private:
    EventLog& events_;
};

class FakePlaces final : public Places {
public:
    std::optional<std::string> resourceDirectory() const override { return resources; }
    std::string userLogFolder() const override { return logs; }
    std::string applicationSupport() const override { return support; }
    std::string home() const override { return homeFolder; }
    std::optional<std::string> installedVersion() const override { return version; }
    PackageKind packageKind() const override { return kind; }
    std::optional<std::string> resources = "/app/share/lorvane";
    std::string logs = "/home/user/.local/state";
    std::string support = "/home/user/.local/share";
    std::string homeFolder = "/home/user";
    std::optional<std::string> version = "1.0.0";
    PackageKind kind = PackageKind::DiskImage;
};

class FakeEnvironment final : public ProcessEnvironmentSource {
public:
    std::map<std::string, std::string> snapshot() const override { return variables; }
    std::map<std::string, std::string> variables{{"PATH", "/usr/bin:/bin"}};
};

class FakeWebView final : public WebView {
public:
    explicit FakeWebView(EventLog& events) : events_(events) {}
    void loadHtml(const std::string& html) override;
    void loadRequest(const WebRequest& request) override;
    void evaluateJavaScript(const std::string& script,
                            std::function<void(std::optional<ScriptError>)> done) override;

    struct Load {
        bool isHtml;
        std::string html;    // for loadHtml
        WebRequest request;  // for loadRequest
    };
    std::vector<Load> loads;
    struct Evaluation {
        std::string script;
        std::function<void(std::optional<ScriptError>)> done;
    };
    std::vector<Evaluation> evaluations;
    // Finishes evaluation `index` as the page would, with an error or none.
    void finishScript(std::size_t index, std::optional<ScriptError> error);
    std::size_t requestLoads() const;

private:
    EventLog& events_;
};

class FakeWindow final : public Window {
public:
    explicit FakeWindow(EventLog& events) : events_(events) {}
    void center() override { events_.push_back("window.center"); }
    void makeKeyAndOrderFront() override { events_.push_back("window.makeKeyAndOrderFront"); }
    WindowSpec spec;

private:
    EventLog& events_;
};

class FakeApplication final : public Application {
public:
    FakeApplication(FakeMainQueue& queue, EventLog& events) : queue_(queue), events_(events) {}
    void setActivationPolicyRegular() override { events_.push_back("app.setActivationPolicyRegular"); }
    void setMainMenu(const MenuBar& menuBar) override;
    std::shared_ptr<WebView> createWebView(const WebViewSpec& spec,
                                           std::weak_ptr<WebViewUIDelegate> uiDelegate) override;
    std::shared_ptr<Window> createWindow(const WindowSpec& spec, std::shared_ptr<WebView> content) override;
    void activateIgnoringOtherApps() override { events_.push_back("app.activateIgnoringOtherApps"); }
    // Records the alert. A scripted answer (the front of alertAnswers) is posted to the main
    // queue; without one the alert stays open until answerAlert().
    void showAlert(const Alert& alert, std::function<void(AlertAnswer)> onAnswer) override;
    void openURL(const std::string& url) override;

    std::optional<MenuBar> menuBar;
    std::optional<WebViewSpec> webViewSpec;
    std::weak_ptr<WebViewUIDelegate> uiDelegate;
    std::shared_ptr<FakeWebView> webView;
    std::shared_ptr<FakeWindow> window;
    std::shared_ptr<WebView> windowContent;
    // Answers alert `index` (in showing order) now, as the user would.
    void answerAlert(std::size_t index, AlertAnswer answer);
    std::size_t openAlerts() const;

    std::vector<Alert> alerts;
    std::deque<AlertAnswer> alertAnswers;  // scripted answers, in order
    std::vector<std::string> openedURLs;

private:
    FakeMainQueue& queue_;
    EventLog& events_;
    std::vector<std::function<void(AlertAnswer)>> alertCallbacks_;  // empty once answered
};

// One fake of everything, wired together; `platform()` hands the core its references.
class FakePlatform {
public:
    FakePlatform();
    Platform& platform() { return platform_; }

    void advance(double seconds) { queue.advance(seconds); }
    void runUntilIdle() { queue.runUntilIdle(); }
    // Events that start with `prefix`, in order.
    std::vector<std::string> eventsStartingWith(const std::string& prefix) const;

    EventLog events;
    FakeClock clock;
    FakeMainQueue queue{clock, events};
    FakeHttpClient http{queue, events};
    FakeProcessLauncher launcher{events};
    FakeFileSystem files{events};
    FakePlaces places;
    FakeEnvironment environment;
    FakeApplication application{queue, events};

private:
    Platform platform_;
};

}  // namespace lorvane::fake
