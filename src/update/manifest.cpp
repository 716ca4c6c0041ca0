// Reads the release manifest without exceptions: every bad answer becomes a Failure value.
#include "update/manifest.h"

#include <nlohmann/json.hpp>

namespace lorvane {

Result<std::string> readManifestVersion(const Result<HttpResponse>& response) {
    // Transport errors and time-outs arrive as failures; the check treats them like any other
    // unusable answer.
    if (!response) return Failure{response.reason()};
    // Only a plain 200 carries the manifest; 201, redirects left unfollowed and errors do not,
    // even when their body happens to look like one.
    if (response->status != 200) return Failure{"status " + std::to_string(response->status)};
    if (!response->body) return Failure{"no body"};

    const auto manifest = nlohmann::json::parse(*response->body, nullptr, /*allow_exceptions=*/false);
    if (manifest.is_discarded()) return Failure{"body is not JSON"};
    if (!manifest.is_object()) return Failure{"top level is not an object"};
    const auto version = manifest.find("version");
    if (version == manifest.end()) return Failure{"no \"version\""};
    if (!version->is_string()) return Failure{"\"version\" is not a string"};
    return version->get<std::string>();
}

}  // namespace lorvane
