// Where the two service logs live, and how a log is emptied and opened before each start.
#include "app/app_delegate.h"
#include "services/paths.h"

namespace lorvane {

namespace {
constexpr std::string_view kLogFolder = "Lorvane";
}

std::string AppDelegate::serverLogPath() const {
    return joinPath(joinPath(platform_.places.userLogFolder(), kLogFolder), "server.log");
}

std::string AppDelegate::voiceLogPath() const {
    return joinPath(joinPath(platform_.places.userLogFolder(), kLogFolder), "voice-worker.log");
}

// Each step goes on whatever the previous one did: a log that cannot be prepared must never keep
// its service from starting, it only leaves the handle absent.
void AppDelegate::openLog(const std::string& logPath, std::shared_ptr<FileHandle>& handleField) {
    (void)platform_.files.createDirectories(parentFolder(logPath));
    (void)platform_.files.createEmptyFile(logPath);
    auto opened = platform_.files.openForWriting(logPath);
    handleField = opened ? opened.value() : nullptr;
    // Empty it once more through the handle: another writer may have appended since step two.
    if (handleField) (void)handleField->truncate(0);
}

}  // namespace lorvane
