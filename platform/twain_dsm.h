// Where the TWAIN Data Source Manager is found when it has not handed over its entry point.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Library names to try, in order.
//   Windows: "TWAIN_32.dll", then "TWAINDSM.dll".
//   Linux:   "libtwaindsm.so.2", then "libtwaindsm.so".
std::vector<std::string> twainDsmLibraryNames();

} // namespace platform
