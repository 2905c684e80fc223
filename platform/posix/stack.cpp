// Linux: the glibc unwinder for the walk; dladdr and the DWARF reader of elfutils for names and lines.
#include "platform/stack.h"

#include <cstdlib>
#include <cxxabi.h>
#include <dlfcn.h>
#include <elfutils/libdwfl.h>
#include <execinfo.h>
#include <unistd.h>

namespace platform {

StackWalk walkStack(std::size_t maxFrames) {
    StackWalk walk;
    std::vector<void*> frames(maxFrames + 1);
    const int count = backtrace(frames.data(), static_cast<int>(frames.size()));
    // Leave out this function's own frame.
    for (int i = 1; i < count && walk.pcs.size() < maxFrames; ++i) {
        walk.pcs.push_back(reinterpret_cast<std::uintptr_t>(frames[static_cast<std::size_t>(i)]));
    }
    return walk;
}

namespace {

std::string demangle(const char* name) {
    int status = 0;
    char* readable = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    if (status != 0 || readable == nullptr) {
        return name;
    }
    std::string result(readable);
    std::free(readable);
    return result;
}

const Dwfl_Callbacks kCallbacks = {
    dwfl_linux_proc_find_elf,
    dwfl_standard_find_debuginfo,
    nullptr,
    nullptr,
};

} // namespace

struct SymbolResolver::Impl {
    Dwfl* session = nullptr;

    Impl() {
        session = dwfl_begin(&kCallbacks);
        if (session != nullptr) {
            if (dwfl_linux_proc_report(session, getpid()) != 0 ||
                dwfl_report_end(session, nullptr, nullptr) != 0) {
                dwfl_end(session);
                session = nullptr;
            }
        }
    }
    ~Impl() {
        if (session != nullptr) {
            dwfl_end(session);
        }
    }
    Dwfl_Module* module(Dwarf_Addr address) const {
        return session != nullptr ? dwfl_addrmodule(session, address) : nullptr;
    }
};

SymbolResolver::SymbolResolver() : impl_(std::make_unique<Impl>()) {}
SymbolResolver::~SymbolResolver() = default;

std::optional<SourcePosition> SymbolResolver::sourcePosition(std::uint64_t pc) {
    // A return address points just past its call; look the call itself up.
    const Dwarf_Addr address = pc > 0 ? pc - 1 : pc;
    Dwfl_Module* module = impl_->module(address);
    if (module == nullptr) {
        return std::nullopt;
    }
    Dwfl_Line* line = dwfl_module_getsrc(module, address);
    if (line == nullptr) {
        return std::nullopt;
    }
    int lineNumber = 0;
    const char* file = dwfl_lineinfo(line, nullptr, &lineNumber, nullptr, nullptr, nullptr);
    if (file == nullptr) {
        return std::nullopt;
    }
    return SourcePosition{file, lineNumber};
}

std::optional<std::string> SymbolResolver::symbolName(std::uint64_t pc) {
    const Dwarf_Addr address = pc > 0 ? pc - 1 : pc;
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(static_cast<std::uintptr_t>(address)), &info) != 0 &&
        info.dli_sname != nullptr) {
        return demangle(info.dli_sname);
    }
    if (Dwfl_Module* module = impl_->module(address)) {
        if (const char* name = dwfl_module_addrname(module, address)) {
            return demangle(name);
        }
    }
    return std::nullopt;
}

} // namespace platform
