// The program's own folder first (an installed copy finds its installed neighbours, wherever the
// tree was installed), then the folders known when it was built.
#include "host/locations.h"

#include "platform/module.h"

#include <initializer_list>
#include <string>

namespace host {

namespace fs = std::filesystem;

namespace {

std::optional<fs::path> firstExisting(std::initializer_list<const char*> relativeToProgram,
                                      std::initializer_list<const char*> absolute) {
    std::error_code ec;
    if (const auto program = platform::ownModuleFile(); program && program->has_parent_path()) {
        for (const char* relative : relativeToProgram) {
            const fs::path candidate = (program->parent_path() / relative).lexically_normal();
            if (fs::exists(candidate, ec)) {
                return candidate;
            }
        }
    }
    for (const char* path : absolute) {
        if (fs::exists(path, ec)) {
            return fs::path(path);
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<fs::path> defaultDsm() {
    return firstExisting({OSTRA_HOST_INSTALL_DSM_RELATIVE, "../dsm/libtwaindsm.so"},
                         {OSTRA_HOST_INSTALL_DSM, OSTRA_HOST_BUILD_DSM});
}

std::optional<fs::path> twainFolder() {
    return firstExisting({OSTRA_HOST_INSTALL_TWAIN_RELATIVE, "../twain"},
                         {OSTRA_HOST_INSTALL_TWAIN, OSTRA_HOST_BUILD_TWAIN});
}

} // namespace host
