// The update check's pure decisions: the verdict on an answer and the alert texts.
#include "update/update_outcome.h"

#include "update/manifest.h"
#include "update/version_order.h"

namespace lorvane {

UpdateOutcome decideUpdate(const Result<HttpResponse>& response, std::string installedVersion) {
    auto manifestVersion = readManifestVersion(response);
    if (!manifestVersion) return {UpdateVerdict::Failed, "", std::move(installedVersion)};
    // Only a strictly later manifest counts: an equal or older one (a server rolled back, or a
    // build newer than the published release) is not offered.
    const bool newer = compareVersionsNumerically(manifestVersion.value(), installedVersion) > 0;
    return {newer ? UpdateVerdict::NewerRelease : UpdateVerdict::NotNewer,
            std::move(manifestVersion.value()), std::move(installedVersion)};
}

namespace {

// What the user does with the download: the same step, told for the package they installed from.
const char* newerReleaseInstructions(PackageKind kind) {
    switch (kind) {
        case PackageKind::DiskImage:
            return "Скачайте новый DMG и замените приложение. Официальная Apple-подпись на этом этапе не "
                   "используется.";
        case PackageKind::SystemPackage:
            return "Скачайте новый пакет и установите его.";
    }
    return "";
}

}  // namespace

Alert newerReleaseAlert(const std::string& manifestVersion, PackageKind kind) {
    return {"Доступно обновление Lorvane " + manifestVersion, newerReleaseInstructions(kind),
            {"Открыть загрузки", "Позже"}};
}

Alert upToDateAlert(const std::string& installedVersion) {
    return {"Установлена актуальная версия", "Lorvane " + installedVersion, {"OK"}};
}

Alert checkFailedAlert() {
    return {"Не удалось проверить обновления", "Проверьте подключение к интернету и повторите позже.", {"OK"}};
}

std::optional<Alert> alertForOutcome(const UpdateOutcome& outcome, UpdateCheckTrigger trigger, PackageKind kind) {
    const bool asked = trigger == UpdateCheckTrigger::FromMenu;
    switch (outcome.verdict) {
        case UpdateVerdict::NewerRelease:
            return newerReleaseAlert(outcome.manifestVersion, kind);
        case UpdateVerdict::NotNewer:
            if (asked) return upToDateAlert(outcome.installedVersion);
            return std::nullopt;
        case UpdateVerdict::Failed:
            if (asked) return checkFailedAlert();
            return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace lorvane
