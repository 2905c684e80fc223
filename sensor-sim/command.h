// The sensor-sim command: plugs, unplugs and exposes simulated sensors on the virtual sensor bus.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace sensorsim {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1; // the bus refused (not plugged, already plugged, cannot write)
inline constexpr int kExitUsage = 2;  // bad arguments

// Runs the command on its arguments (program name excluded); reports to out, errors to err.
int runCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace sensorsim
