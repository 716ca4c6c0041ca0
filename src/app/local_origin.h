// The address form shared by everything that talks to the local services.
#pragma once

#include <cstdint>
#include <string>

namespace lorvane {

// "http://127.0.0.1:" followed by `port` in plain decimal; never ends with a slash.
std::string localOrigin(std::int64_t port);

}  // namespace lorvane
