// Windows: DbgHelp. The walk starts from RtlCaptureContext and steps with StackWalk64 (x86 and
// x64); names and lines come from SymGetSymFromAddr64 and SymGetLineFromAddr64.
#include "platform/stack.h"

#include <windows.h>

#include <dbghelp.h>
// DbgHelp maps the old name onto StackWalk64; the name is this layer's record here.
#undef StackWalk

#include <cstdlib>
#include <cxxabi.h>
#include <mutex>

namespace platform {

namespace {

// The symbol handler is set up once per process, with the loaded modules enumerated, and never
// cleaned up. DbgHelp is not thread-safe: callers keep to one thread (see stack.h).
std::once_flag symbolsOnce;

HANDLE symbolProcess() {
    HANDLE process = GetCurrentProcess();
    std::call_once(symbolsOnce, [process] { SymInitialize(process, nullptr, TRUE); });
    return process;
}

// GCC names arrive in their mangled form; MSVC names are undecorated by DbgHelp itself.
std::string demangle(const char* name) {
    if (name[0] != '_' || name[1] != 'Z') {
        return name;
    }
    int status = 0;
    char* readable = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    if (status != 0 || readable == nullptr) {
        return name;
    }
    std::string result(readable);
    std::free(readable);
    return result;
}

} // namespace

StackWalk walkStack(std::size_t maxFrames) {
    StackWalk walk;
    HANDLE process = symbolProcess();
    HANDLE thread = GetCurrentThread();

    CONTEXT context{};
    RtlCaptureContext(&context);
    STACKFRAME64 frame{};
#if defined(_M_AMD64) || defined(__x86_64__)
    const DWORD machine = IMAGE_FILE_MACHINE_AMD64;
    frame.AddrPC.Offset = context.Rip;
    frame.AddrFrame.Offset = context.Rbp;
    frame.AddrStack.Offset = context.Rsp;
#else
    const DWORD machine = IMAGE_FILE_MACHINE_I386;
    frame.AddrPC.Offset = context.Eip;
    frame.AddrFrame.Offset = context.Ebp;
    frame.AddrStack.Offset = context.Esp;
#endif
    frame.AddrPC.Mode = AddrModeFlat;
    frame.AddrFrame.Mode = AddrModeFlat;
    frame.AddrStack.Mode = AddrModeFlat;

    // The first step gives this function's own frame, which is left out.
    bool own = true;
    while (walk.pcs.size() < maxFrames) {
        const BOOL stepped = StackWalk64(machine, process, thread, &frame, &context, nullptr,
                                         SymFunctionTableAccess64, SymGetModuleBase64, nullptr);
        if (!stepped) {
            walk.failed = true;
            walk.error = GetLastError();
            walk.pcs.push_back(frame.AddrPC.Offset);
            break;
        }
        if (!own) {
            walk.pcs.push_back(frame.AddrPC.Offset);
        }
        own = false;
        if (frame.AddrReturn.Offset == 0) {
            break;
        }
    }
    return walk;
}

struct SymbolResolver::Impl {
    HANDLE process = symbolProcess();
};

SymbolResolver::SymbolResolver() : impl_(std::make_unique<Impl>()) {}
SymbolResolver::~SymbolResolver() = default;

std::optional<SourcePosition> SymbolResolver::sourcePosition(std::uint64_t pc) {
    // A return address points just past its call; look the call itself up.
    const DWORD64 address = pc > 0 ? pc - 1 : pc;
    IMAGEHLP_LINE64 line{};
    line.SizeOfStruct = sizeof line;
    DWORD displacement = 0;
    if (!SymGetLineFromAddr64(impl_->process, address, &displacement, &line) || line.FileName == nullptr) {
        return std::nullopt;
    }
    return SourcePosition{line.FileName, static_cast<int>(line.LineNumber)};
}

std::optional<std::string> SymbolResolver::symbolName(std::uint64_t pc) {
    const DWORD64 address = pc > 0 ? pc - 1 : pc;
    // The symbol record (32 bytes) followed by room for a name of 1024 characters.
    constexpr DWORD kNameCapacity = 1024;
    alignas(IMAGEHLP_SYMBOL64) unsigned char storage[sizeof(IMAGEHLP_SYMBOL64) + kNameCapacity]{};
    auto* symbol = reinterpret_cast<IMAGEHLP_SYMBOL64*>(storage);
    symbol->SizeOfStruct = sizeof(IMAGEHLP_SYMBOL64);
    symbol->MaxNameLength = kNameCapacity;
    DWORD64 displacement = 0;
    if (!SymGetSymFromAddr64(impl_->process, address, &displacement, symbol) || symbol->Name[0] == '\0') {
        return std::nullopt;
    }
    return demangle(symbol->Name);
}

} // namespace platform
