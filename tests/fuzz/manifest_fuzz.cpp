// Fuzzes the update verdict with an arbitrary answer. The first byte picks the status (or no
// answer), the second says whether a body came; the rest is the body. Whether that version is newer
// is the update flow's table.
#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "fuzz_check.h"
#include "update/update_outcome.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    static constexpr int kStatuses[] = {0, 200, 200, 200, 201, 204, 301, 404, 500};
    const int status = kStatuses[data[0] % 9];
    const std::string body(reinterpret_cast<const char*>(data + 2), size - 2);
    lorvane::Result<lorvane::HttpResponse> response = lorvane::Failure{"no answer"};
    if (status) response = lorvane::HttpResponse{status, data[1] & 1 ? std::nullopt : std::optional(body)};

    // Usable is a plain 200 whose body is a JSON object with a string "version"; nothing else.
    const auto json = nlohmann::json::parse(body, nullptr, false);
    const bool usable = response && status == 200 && response->body && json.is_object() && json.contains("version") &&
                        json["version"].is_string();
    const auto outcome = lorvane::decideUpdate(response, "1.4.2");
    fuzzCheck(usable == (outcome.verdict != lorvane::UpdateVerdict::Failed));
    fuzzCheck(!usable || json["version"].get<std::string>() == outcome.manifestVersion);
    return 0;
}
