// In-memory platform for the core's tests; see fake_platform.h.
#include "fake_platform.h"

#include <algorithm>
#include <stdexcept>

namespace lorvane::fake {

// ---- queue and timers -------------------------------------------------------------------------

void FakeMainQueue::post(std::function<void()> work) {
    entries_.push_back({clock_.now(), sequence_++, std::move(work), nullptr});
}

void FakeMainQueue::postAfter(double seconds, std::function<void()> work) {
    events_.push_back("queue.postAfter " + std::to_string(seconds));
    entries_.push_back({clock_.now() + seconds, sequence_++, std::move(work), nullptr});
}

std::shared_ptr<Timer> FakeMainQueue::scheduleRepeating(double intervalSeconds, std::function<void()> tick) {
    events_.push_back("queue.scheduleRepeating " + std::to_string(intervalSeconds));
    auto timer = std::make_shared<FakeTimer>();
    timer->interval = intervalSeconds;
    entries_.push_back({clock_.now() + intervalSeconds, sequence_++, std::move(tick), timer});
    return timer;
}

bool FakeMainQueue::runNextDueBy(double limit) {
    std::erase_if(entries_, [](const Entry& e) { return e.timer && !e.timer->isValid(); });
    auto next = std::min_element(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
        return a.due != b.due ? a.due < b.due : a.sequence < b.sequence;
    });
    if (next == entries_.end() || next->due > limit) return false;
    Entry entry = std::move(*next);
    entries_.erase(next);
    if (entry.due > clock_.now()) clock_.set(entry.due);
    if (entry.timer) {
        // Re-arm before the tick, so a tick that invalidates its own timer ends the series.
        entries_.push_back({entry.due + entry.timer->interval, sequence_++, entry.work, entry.timer});
    }
    entry.work();
    return true;
}

void FakeMainQueue::advance(double seconds) {
    const double target = clock_.now() + seconds;
    while (runNextDueBy(target)) {
    }
    clock_.set(target);
}

void FakeMainQueue::runUntilIdle() {
    while (runNextDueBy(clock_.now())) {
    }
}

std::size_t FakeMainQueue::pendingCount() const {
    return std::count_if(entries_.begin(), entries_.end(),
                         [](const Entry& e) { return !e.timer || e.timer->isValid(); });
}

// ---- HTTP -------------------------------------------------------------------------------------

void FakeHttpClient::get(const HttpRequest& request, Completion done) {
    events_.push_back("http.get " + request.url);
    exchanges_.push_back({request, std::move(done), false});
}

std::size_t FakeHttpClient::unanswered() const {
    return std::count_if(exchanges_.begin(), exchanges_.end(), [](const Exchange& e) { return !e.answered; });
}

void FakeHttpClient::respond(std::size_t index, std::optional<HttpResponse> response) {
    Exchange& exchange = exchanges_.at(index);
    if (exchange.answered) throw std::logic_error("request answered twice");
    exchange.answered = true;
    queue_.post([done = exchange.done, response = std::move(response)]() mutable { done(std::move(response)); });
}

void FakeHttpClient::respondStatus(std::size_t index, int status, std::string body) {
    respond(index, HttpResponse{status, std::move(body)});
}

void FakeHttpClient::respondNext(std::optional<HttpResponse> response) {
    for (std::size_t i = 0; i < exchanges_.size(); ++i) {
        if (!exchanges_[i].answered) return respond(i, std::move(response));
    }
    throw std::logic_error("no unanswered request");
}

// ---- files ------------------------------------------------------------------------------------

static std::string parentOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

bool FakeFileSystem::createDirectories(const std::string& path) {
    events_.push_back("fs.createDirectories " + path);
    if (files.count(path)) return false;
    for (std::string p = path; p != "/" && !p.empty(); p = parentOf(p)) directories.insert(p);
    return true;
}

bool FakeFileSystem::createEmptyFile(const std::string& path) {
    events_.push_back("fs.createEmptyFile " + path);
    if (!directories.count(parentOf(path)) || directories.count(path)) return false;
    files[path] = "";
    return true;
}

Result<std::shared_ptr<FileHandle>> FakeFileSystem::openForWriting(const std::string& path) {
    events_.push_back("fs.openForWriting " + path);
    if (!files.count(path)) return Failure{"no such file"};
    auto handle = std::make_shared<FakeFileHandle>(path);
    openedHandles.push_back(handle);
    return std::shared_ptr<FileHandle>(handle);
}

bool FakeFileSystem::isExecutableFile(const std::string& path) {
    return files.count(path) && executables.count(path);
}

bool FakeFileSystem::fileExists(const std::string& path) {
    return files.count(path) || directories.count(path);
}

std::string FakeFileSystem::absolutePath(const std::string& path) {
    return !path.empty() && path.front() == '/' ? path : currentFolder + "/" + path;
}

std::optional<std::string> FakeFileSystem::readUtf8File(const std::string& path) {
    auto it = files.find(path);
    if (it == files.end()) return std::nullopt;
    return it->second;
}

void FakeFileSystem::addFile(const std::string& path, std::string text, bool executable) {
    for (std::string p = parentOf(path); p != "/" && !p.empty(); p = parentOf(p)) directories.insert(p);
    files[path] = std::move(text);
    if (executable) executables.insert(path);
}

// ---- processes --------------------------------------------------------------------------------

void FakeChildProcess::terminate() {
    if (events) events->push_back("child.terminate " + name);
    ++terminations;
}

Result<std::shared_ptr<ChildProcess>> FakeProcessLauncher::launch(const LaunchSpec& spec) {
    events_.push_back("launcher.launch " + spec.executable +
                      (spec.arguments.empty() ? "" : " " + spec.arguments.front()));
    launches.push_back(spec);
    if (failingExecutables.count(spec.executable)) return Failure{"launch refused"};
    auto child = std::make_shared<FakeChildProcess>();
    child->pidValue = 1000 + static_cast<int>(children.size());
    child->events = &events_;
    child->name = spec.arguments.empty() ? spec.executable : spec.arguments.front();
    children.push_back(child);
    return std::shared_ptr<ChildProcess>(child);
}

// ---- web view, window, application -----------------------------------------------------------

void FakeWebView::loadHtml(const std::string& html) {
    events_.push_back("webView.loadHtml");
    loads.push_back({true, html, {}});
}

void FakeWebView::loadRequest(const WebRequest& request) {
    events_.push_back("webView.loadRequest " + request.url);
    loads.push_back({false, "", request});
}

void FakeWebView::evaluateJavaScript(const std::string& script,
                                     std::function<void(std::optional<ScriptError>)> done) {
    events_.push_back("webView.evaluateJavaScript");
    evaluations.push_back({script, std::move(done)});
}

void FakeWebView::finishScript(std::size_t index, std::optional<ScriptError> error) {
    auto done = std::move(evaluations.at(index).done);
    if (!done) throw std::logic_error("script finished twice");
    done(std::move(error));
}

std::size_t FakeWebView::requestLoads() const {
    return std::count_if(loads.begin(), loads.end(), [](const Load& l) { return !l.isHtml; });
}

void FakeApplication::setMainMenu(const MenuBar& bar) {
    events_.push_back("app.setMainMenu");
    menuBar = bar;
}

std::shared_ptr<WebView> FakeApplication::createWebView(const WebViewSpec& spec,
                                                        std::weak_ptr<WebViewUIDelegate> delegate) {
    events_.push_back("app.createWebView");
    webViewSpec = spec;
    uiDelegate = std::move(delegate);
    webView = std::make_shared<FakeWebView>(events_);
    return webView;
}

std::shared_ptr<Window> FakeApplication::createWindow(const WindowSpec& spec, std::shared_ptr<WebView> content) {
    events_.push_back("app.createWindow");
    window = std::make_shared<FakeWindow>(events_);
    window->spec = spec;
    windowContent = std::move(content);
    return window;
}

void FakeApplication::showAlert(const Alert& alert, std::function<void(AlertAnswer)> onAnswer) {
    events_.push_back("app.showAlert " + alert.messageText);
    alerts.push_back(alert);
    alertCallbacks_.push_back(std::move(onAnswer));
    if (alertAnswers.empty()) return;
    const AlertAnswer answer = alertAnswers.front();
    alertAnswers.pop_front();
    queue_.post([this, index = alerts.size() - 1, answer] { answerAlert(index, answer); });
}

void FakeApplication::answerAlert(std::size_t index, AlertAnswer answer) {
    auto onAnswer = std::move(alertCallbacks_.at(index));
    if (!onAnswer) throw std::logic_error("alert answered twice");
    alertCallbacks_[index] = nullptr;
    onAnswer(answer);
}

std::size_t FakeApplication::openAlerts() const {
    return std::count_if(alertCallbacks_.begin(), alertCallbacks_.end(), [](const auto& c) { return bool(c); });
}

void FakeApplication::openURL(const std::string& url) {
    events_.push_back("app.openURL " + url);
    openedURLs.push_back(url);
}

FakePlatform::FakePlatform()
    : platform_{queue, clock, http, launcher, files, places, environment, application} {}

std::vector<std::string> FakePlatform::eventsStartingWith(const std::string& prefix) const {
    std::vector<std::string> matching;
    for (const auto& e : events) {
        if (e.rfind(prefix, 0) == 0) matching.push_back(e);
    }
    return matching;
}

}  // namespace lorvane::fake
