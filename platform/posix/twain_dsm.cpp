#include "platform/twain_dsm.h"

namespace platform {

std::vector<std::string> twainDsmLibraryNames() {
    return {"libtwaindsm.so.2", "libtwaindsm.so"};
}

} // namespace platform
