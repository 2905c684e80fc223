// This process's memory figures, and this program run again as a child (the benchmarks measure a
// session's peak in a fresh process of its own).
#pragma once

#include <optional>
#include <string>

namespace platform {

// This process's resident memory now and its peak, in kB; -1 when the system does not say.
//   Windows: the working set and the peak working set (GetProcessMemoryInfo).
//   Linux:   VmRSS and VmHWM of /proc/self/status.
long residentKilobytes();
long peakResidentKilobytes();

// What this program, run again with the single argument `argument`, writes on its standard output;
// none when it cannot be started or does not end with status 0.
std::optional<std::string> runSelf(const std::string& argument);

} // namespace platform
