// Windows: the working set from GetProcessMemoryInfo; the program run again by CreateProcessW with its
// standard output on a pipe.
#include "platform/own_process.h"

#include <windows.h>

#include <psapi.h>

namespace platform {

namespace {

// The working set (or its peak) in kB, -1 when the system does not say.
long workingSetKilobytes(bool peak) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
        return -1;
    }
    return static_cast<long>((peak ? counters.PeakWorkingSetSize : counters.WorkingSetSize) / 1024);
}

} // namespace

long residentKilobytes() {
    return workingSetKilobytes(false);
}

long peakResidentKilobytes() {
    return workingSetKilobytes(true);
}

std::optional<std::string> runSelf(const std::string& argument) {
    wchar_t program[MAX_PATH] = {};
    if (GetModuleFileNameW(nullptr, program, MAX_PATH) == 0) {
        return std::nullopt;
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        return std::nullopt;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::wstring commandLine =
        L"\"" + std::wstring(program) + L"\" " + std::wstring(argument.begin(), argument.end());
    PROCESS_INFORMATION child{};
    const bool started = CreateProcessW(program, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &child);
    CloseHandle(writeEnd);
    std::string output;
    char buffer[256];
    for (DWORD n = 0; started && ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) && n > 0;) {
        output.append(buffer, n);
    }
    CloseHandle(readEnd);
    if (!started) {
        return std::nullopt;
    }
    DWORD status = 1;
    WaitForSingleObject(child.hProcess, INFINITE);
    GetExitCodeProcess(child.hProcess, &status);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    return status == 0 ? std::optional(output) : std::nullopt;
}

} // namespace platform
