// Feeds the voice public URL check arbitrary file bytes: reading them must neither crash nor trip
// the sanitizers. What passes is the unit tests' table.
#include <cstddef>
#include <cstdint>
#include <string>

#include "services/voice_public_url.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)lorvane::validVoicePublicURL(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
