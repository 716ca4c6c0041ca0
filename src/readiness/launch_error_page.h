// The page shown when the local interface could not be started or never answered.
#pragma once

#include <string>
#include <string_view>

namespace lorvane {

// The fixed page around the server log's path. The path is HTML-escaped (&, <, > and ") so that
// a folder name can neither break the page nor inject markup; other bytes go in unchanged.
std::string launchErrorPage(std::string_view serverLogPath);

// Escapes the four characters that carry meaning in HTML text and attribute values.
std::string escapeHtml(std::string_view text);

}  // namespace lorvane
