// Joining file-system paths the same way everywhere in the services.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace lorvane {

// `base` followed by the relative `tail` (which may hold several levels), with one separator
// between them and no trailing separator.
inline std::string joinPath(std::string_view base, std::string_view tail) {
    return (std::filesystem::path(base) / std::filesystem::path(tail)).string();
}

// The folder holding `path`.
inline std::string parentFolder(std::string_view path) {
    return std::filesystem::path(path).parent_path().string();
}

}  // namespace lorvane
