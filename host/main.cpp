// ostra-acquire: a TWAIN application that saves what a data source transfers.
#include "host/acquire.h"

#include <atomic>
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

namespace {

std::atomic<bool> stopRequested{false};

extern "C" void onInterrupt(int) {
    stopRequested = true;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const host::ParsedOptions parsed = host::parseOptions(arguments);
    if (!parsed.options) {
        std::cerr << "ostra-acquire: " << parsed.error << "\n\n" << host::usageText();
        return host::kExitUsage;
    }
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    return host::runAcquire(*parsed.options, std::cout, std::cerr, stopRequested);
}
