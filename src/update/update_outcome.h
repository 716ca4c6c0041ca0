// What one update check found, and which alert (if any) tells the user about it.
#pragma once

#include <optional>
#include <string>

#include "platform/application.h"
#include "platform/http_client.h"
#include "platform/places.h"

namespace lorvane {

// Stands in for the installed version when the build carries none, so that any real release
// is offered as newer.
inline constexpr const char* kUnknownInstalledVersion = "0.0.0";

enum class UpdateVerdict {
    Failed,        // no usable manifest; see readManifestVersion
    NewerRelease,  // the manifest's version orders after the installed one
    NotNewer,      // equal to or before the installed one
};

// What started a check, which decides how much of its outcome the user hears of.
enum class UpdateCheckTrigger {
    Automatic,  // the check at launch: it speaks up only for a newer release
    FromMenu,   // the user asked: every outcome gets its alert
};

struct UpdateOutcome {
    UpdateVerdict verdict = UpdateVerdict::Failed;
    std::string manifestVersion;   // empty when the check failed
    std::string installedVersion;
};

// Pure: reads the answer and orders the manifest's version against `installedVersion`.
UpdateOutcome decideUpdate(const Result<HttpResponse>& response, std::string installedVersion);

// The three alerts. Versions are inserted exactly as given, without trimming. How to install the
// newer release depends on what the user installed this one from (`kind`).
Alert newerReleaseAlert(const std::string& manifestVersion, PackageKind kind);  // the first button opens the downloads
Alert upToDateAlert(const std::string& installedVersion);
Alert checkFailedAlert();

// The alert for `outcome`, or none. A newer release is always announced; the other outcomes
// only when the user asked, so the check at launch stays silent.
std::optional<Alert> alertForOutcome(const UpdateOutcome& outcome, UpdateCheckTrigger trigger, PackageKind kind);

}  // namespace lorvane
