// Replacing a file whole by another one, for writes that must never leave half a file behind.
#pragma once

#include <filesystem>
#include <system_error>

namespace platform {

// Moves `from` over `to`, replacing an existing `to` in one step; the data reach the disk before
// the call returns. On failure `to` is unchanged and `from` is still there.
//   Windows: MoveFileExW (replace existing, write through).
//   Linux:   rename(2).
std::error_code replaceFile(const std::filesystem::path& from, const std::filesystem::path& to);

} // namespace platform
