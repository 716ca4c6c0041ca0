// Fuzzes the voice public URL validation with arbitrary file bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "services/voice_public_url.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto url = lorvane::validVoicePublicURL(text);
    if (!url) return 0;
    // Whatever passes is the trimmed text itself: an https origin with nothing after the host but
    // an optional port and "/".
    fuzzCheck(text.find(*url) != std::string::npos);
    fuzzCheck(url->starts_with("https://") && url->find_first_of("?#@ \t\r\n") == std::string::npos);
    const auto slash = url->find('/', 8);
    fuzzCheck(slash == std::string::npos || slash == url->size() - 1);
    fuzzCheck(lorvane::validVoicePublicURL(*url) == url);  // already trimmed: stable
    return 0;
}
