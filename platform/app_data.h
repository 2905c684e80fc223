// The user's local application-data folder.
#pragma once

#include <filesystem>
#include <optional>

namespace platform {

// The per-user local application-data folder, created if missing. Empty when the system cannot
// name one or the folder cannot be created.
//   Windows: the shell's local application-data folder.
//   Linux:   $XDG_DATA_HOME when it is an absolute path, else $HOME/.local/share.
std::optional<std::filesystem::path> localAppDataFolder();

} // namespace platform
