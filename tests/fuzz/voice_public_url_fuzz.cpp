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
    FUZZ_CHECK(text.find(*url) != std::string::npos);
    FUZZ_CHECK(url->rfind("https://", 0) == 0);
    FUZZ_CHECK(url->find_first_of("?#@ \t\r\n") == std::string::npos);
    const std::string rest = url->substr(8);
    const auto slash = rest.find('/');
    FUZZ_CHECK(slash == std::string::npos || slash == rest.size() - 1);
    FUZZ_CHECK(lorvane::validVoicePublicURL(*url) == url);  // already trimmed: stable
    return 0;
}
