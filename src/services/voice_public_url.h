// Validation of the public address under which a phone reaches the voice service.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lorvane {

// Hosts of the mesh VPN that the phone and this machine share end with this DNS suffix.
inline constexpr std::string_view kMeshVpnDnsSuffix = ".ts.net";

// Trims surrounding whitespace and line breaks from the file's text and returns the trimmed text
// when it is a bare https origin on the mesh VPN (path empty or "/"; no user, password, query or
// fragment; any port). Any rule broken gives nothing.
std::optional<std::string> validVoicePublicURL(std::string_view fileText);

// Whitespace and line breaks (ASCII and Unicode) removed from both ends of UTF-8 `text`.
std::string trimWhitespaceAndNewlines(std::string_view text);

}  // namespace lorvane
