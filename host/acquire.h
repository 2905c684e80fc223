// ostra-acquire from its parsed command line to its exit status.
#pragma once

#include "host/options.h"

#include <atomic>
#include <ostream>

namespace host {

inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;

// Lists the sources, or opens one and saves what it transfers. Progress goes to `out`, errors to
// `err`; `stop` (set on Ctrl-C) disables and closes the source.
int runAcquire(const Options& options, std::ostream& out, std::ostream& err, const std::atomic<bool>& stop);

} // namespace host
