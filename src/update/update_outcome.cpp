// The update check's pure decisions: the verdict on an answer and the alert texts.
#include "update/update_outcome.h"

#include "update/manifest.h"
#include "update/version_order.h"

namespace lorvane {

UpdateOutcome decideUpdate(const std::optional<HttpResponse>& response, std::string installedVersion) {
    auto manifestVersion = readManifestVersion(response);
    if (!manifestVersion) return {UpdateVerdict::Failed, "", std::move(installedVersion)};
    // Only a strictly later manifest counts: an equal or older one (a server rolled back, or a
    // build newer than the published release) is not offered.
    const bool newer = compareVersionsNumerically(manifestVersion.value(), installedVersion) > 0;
    return {newer ? UpdateVerdict::NewerRelease : UpdateVerdict::NotNewer,
            std::move(manifestVersion.value()), std::move(installedVersion)};
}

Alert newerReleaseAlert(const std::string& manifestVersion) {
    return {"Доступно обновление Lorvane " + manifestVersion,
            "Скачайте новый DMG и замените приложение. Официальная Apple-подпись на этом этапе не используется.",
            {"Открыть загрузки", "Позже"}};
}

Alert upToDateAlert(const std::string& installedVersion) {
    return {"Установлена актуальная версия", "Lorvane " + installedVersion, {"OK"}};
}

Alert checkFailedAlert() {
    return {"Не удалось проверить обновления", "Проверьте подключение к интернету и повторите позже.", {"OK"}};
}

std::optional<Alert> alertForOutcome(const UpdateOutcome& outcome, bool showCurrentVersion) {
    switch (outcome.verdict) {
        case UpdateVerdict::NewerRelease:
            return newerReleaseAlert(outcome.manifestVersion);
        case UpdateVerdict::NotNewer:
            if (showCurrentVersion) return upToDateAlert(outcome.installedVersion);
            return std::nullopt;
        case UpdateVerdict::Failed:
            if (showCurrentVersion) return checkFailedAlert();
            return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace lorvane
