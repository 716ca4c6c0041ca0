// Fuzzes the update outcome with an arbitrary status and body.
#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "fuzz_check.h"
#include "update/update_outcome.h"
#include "update/version_order.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // The first byte picks an answer shape: no response, or a status near the interesting ones.
    static constexpr int kStatuses[] = {0, 200, 200, 200, 201, 204, 301, 404, 500};
    const int pick = data[0] % 9;
    const bool noBody = data[1] & 1;
    const std::string body(reinterpret_cast<const char*>(data + 2), size - 2);
    std::optional<lorvane::HttpResponse> response;
    if (pick != 0) response = lorvane::HttpResponse{kStatuses[pick], noBody ? std::nullopt : std::optional(body)};

    const auto outcome = lorvane::decideUpdate(response, "1.4.2");
    if (outcome.verdict == lorvane::UpdateVerdict::Failed) return 0;
    // Anything but a failure needs a 200 with a JSON object whose "version" is that string.
    FUZZ_CHECK(response && response->status == 200 && response->body);
    const auto json = nlohmann::json::parse(body, nullptr, false);
    FUZZ_CHECK(!json.is_discarded() && json.is_object() && json.contains("version"));
    FUZZ_CHECK(json["version"].is_string() && json["version"].get<std::string>() == outcome.manifestVersion);
    const bool newer = lorvane::compareVersionsNumerically(outcome.manifestVersion, "1.4.2") > 0;
    FUZZ_CHECK(newer == (outcome.verdict == lorvane::UpdateVerdict::NewerRelease));
    return 0;
}
