// Feeds the update verdict arbitrary answers: whatever the server sends, reading it must neither
// crash nor trip the sanitizers. What each answer means is the update flow's table.
#include <cstddef>
#include <cstdint>
#include <string>

#include "update/update_outcome.h"

// The first byte picks the status (or no answer), the second says whether a body came; the rest is the body.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    static constexpr int kStatuses[] = {0, 200, 200, 200, 201, 204, 301, 404, 500};
    const int status = kStatuses[data[0] % 9];
    const std::string body(reinterpret_cast<const char*>(data + 2), size - 2);
    lorvane::Result<lorvane::HttpResponse> response = lorvane::Failure{"no answer"};
    if (status) response = lorvane::HttpResponse{status, data[1] & 1 ? std::nullopt : std::optional(body)};
    (void)lorvane::decideUpdate(response, "1.4.2");
    return 0;
}
