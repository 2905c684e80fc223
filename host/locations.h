// Where the DSM built or installed with this program and the data-source folder lie.
#pragma once

#include <filesystem>
#include <optional>

namespace host {

// The stand-in DSM that comes with this program (beside it when installed, else the build's).
std::optional<std::filesystem::path> defaultDsm();

// The folder the stand-in DSM searches for data sources (twain/, one sub-folder per source).
std::optional<std::filesystem::path> twainFolder();

} // namespace host
