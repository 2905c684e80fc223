// The calling thread's call stack and the symbols of its addresses, for crash reports.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Program counters of the calling thread's frames, innermost first, at most `maxFrames`.
// `failed` tells that a walk step failed with the system's `error`; the last counter is the address
// the walk had reached then.
struct StackWalk {
    std::vector<std::uint64_t> pcs;
    bool failed = false;
    std::uint32_t error = 0;
};
StackWalk walkStack(std::size_t maxFrames);

struct SourcePosition {
    std::string file;
    int line = 0;
};

// Looks addresses up in the modules loaded at its creation. Single-threaded use.
class SymbolResolver {
public:
    SymbolResolver();
    ~SymbolResolver();
    SymbolResolver(const SymbolResolver&) = delete;
    SymbolResolver& operator=(const SymbolResolver&) = delete;

    std::optional<SourcePosition> sourcePosition(std::uint64_t pc);
    // The function's name, demangled where it is a C++ name.
    std::optional<std::string> symbolName(std::uint64_t pc);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace platform
