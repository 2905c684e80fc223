// Shared pieces of the benchmark programs: deterministic synthetic exposures, a log folder of their
// own (so that a run never writes into the user's application data), and a main that runs the
// benchmarks and then prints ratios of their times.
#pragma once

#include "imaging/image.h"
#include "source/twpp/twain.h"

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace bench {

// A stored exposure of the given size as the detector delivers it after inversion: a soft background,
// brighter teeth with darker pulp, noise, and a saturated strip along the right edge. The same size
// always gives the same samples.
std::shared_ptr<Image> syntheticExposure(int width, int height);

// The images of a saved Full Mouth 18 series as the source queues them: the composite of the tile
// grid in front, then the 18 exposures of `width` x `height`, landscape where their tile is.
std::vector<std::shared_ptr<Image>> fullMouth18Series(int width, int height);

// One triplet from the application to its source.
using SendToSource = std::function<TW_UINT16(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data)>;

// What an application does once told that images are ready: transfers every pending image, each
// ended with MSG_ENDXFER, until none is left. Native: each bitmap handle goes to `freeHandle`.
// Memory: strips of `stripRows` rows (0: the buffer size the source prefers). Returns the number
// of images, none when a transfer fails.
std::optional<int> transferPending(const SendToSource& send, bool native, unsigned stripRows,
                                   const std::function<void(TW_HANDLE)>& freeHandle);

// Real time per iteration, in milliseconds, of each benchmark that ran, by its full name
// ("BM_Name/width:1000/height:1500/real_time"); with repetitions, the median of the repetitions.
class Times {
public:
    void record(const std::string& name, double milliseconds) { times_[name].push_back(milliseconds); }
    std::optional<double> milliseconds(const std::string& name) const;

private:
    std::map<std::string, std::vector<double>> times_;
};

// Runs the benchmarks selected on the command line with the usual console output, then calls
// `report` with the measured times to print the ratios. Sets XDG_DATA_HOME to a temporary folder
// (removed at the end) in which the log is written. Returns the process exit code.
int runBenchmarks(int argc, char** argv, const std::function<void(const Times&)>& report);

} // namespace bench
