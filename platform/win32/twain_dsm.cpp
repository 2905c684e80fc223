#include "platform/twain_dsm.h"

namespace platform {

std::vector<std::string> twainDsmLibraryNames() {
    return {"TWAIN_32.dll", "TWAINDSM.dll"};
}

} // namespace platform
