// sensor-sim: plugs, unplugs and exposes simulated sensors on the virtual sensor bus.
#include "sensor-sim/command.h"

#include <iostream>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return sensorsim::runCommand(args, std::cout, std::cerr);
}
