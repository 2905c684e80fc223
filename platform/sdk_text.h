// Paths for libraries with narrow-text interfaces (the detector maker's SDK): they take the system's
// narrow encoding, which on Windows is the active code page, not UTF-8.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace platform {

// `path`, with '/' separators, in the encoding an SDK's narrow-text functions take:
//   Windows: the active code page. A path with a character that code page cannot hold is given in
//            its short (8.3) form when that one can be held (the folder must exist); otherwise none.
//   Linux:   the path's own bytes (UTF-8).
std::optional<std::string> pathForSdk(const std::filesystem::path& path);

// The reverse, for the simulated SDK: a path handed over in that encoding.
std::filesystem::path pathFromSdk(const char* text);

} // namespace platform
