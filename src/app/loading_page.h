// The page the window shows while the local services start.
#pragma once

#include <string_view>

namespace lorvane {

// UTF-8, loaded with no base URL; it has no script and needs no network.
extern const std::string_view kLoadingPageHtml;

}  // namespace lorvane
