// Windows: TwainDll.ds, the file a TWAIN Data Source Manager loads, is only this loader. The data
// source itself is OstraSensorTwain.dll beside it, with the Qt, OpenCV and compiler run-time DLLs it
// imports. A DSM that loads TwainDll.ds by its full path with plain LoadLibrary has the system look
// for a library's imports on the application's search path, not in the driver folder. This loader
// imports nothing but kernel32, so it always loads; it then loads the data source by full path with
// LOAD_WITH_ALTERED_SEARCH_PATH, which finds the data source's imports in its own folder, and hands
// every call on to the data source's entry, OstraSensor_DS_Entry (source/OstraSensorTwain.def).
//
// Built without any C or C++ run-time library (platform/CMakeLists.txt): no static objects with
// constructors, no exceptions, no standard-library calls; kernel32's functions only.
//
// The data source is loaded by the first DS_Entry call, never in DllMain (the loader lock is held
// there), once for every load of TwainDll.ds however many threads call at once (InitOnceExecuteOnce).
// It is pinned and never freed: the detector's SDK may still call into it after the DSM has unloaded
// TwainDll.ds, and a later load of TwainDll.ds finds it loaded already.
//
// Without the data source (missing, its imports missing, no entry) every call answers TWRC_FAILURE,
// and DG_CONTROL / DAT_STATUS / MSG_GET gives TWCC_BUMMER. The reason is recorded once per load of
// TwainDll.ds: appended to the source's log, vanto_sensor\ds.log in the local application-data
// folder ($LOCALAPPDATA), and given to OutputDebugString for a debugger or a debug-output viewer.
#include "source/twpp/twain.h"

#include <windows.h>

namespace {

const wchar_t kDataSourceFile[] = L"OstraSensorTwain.dll";
const char kDataSourceEntry[] = "OstraSensor_DS_Entry";

// Set by loadDataSource inside InitOnceExecuteOnce and read only after it has returned, which orders
// the write before every read.
INIT_ONCE loadOnce = INIT_ONCE_STATIC_INIT;
DSENTRYPROC dataSourceEntry = nullptr;

const int moduleAnchor = 0;

} // namespace

// One absolute address in the image, so that it carries relocation records: a 64-bit DLL whose code
// needs none has an empty relocation table, and a system that has to load it elsewhere than at its
// preferred address may then refuse it. Not const and not in the unnamed namespace, so that the
// compiler keeps it.
extern "C" const void* ostraTwainLoaderAnchor;
const void* ostraTwainLoaderAnchor = &moduleAnchor;

namespace {

// Wide text on the process heap, for the data source's path and the failure's record.
class Text {
public:
    Text() = default;
    ~Text() {
        if (text_ != nullptr) {
            HeapFree(GetProcessHeap(), 0, text_);
        }
    }
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;

    // Room for `length` characters and the terminating null; the content is undefined.
    bool reserve(DWORD length) {
        HANDLE heap = GetProcessHeap();
        void* grown = text_ == nullptr ? HeapAlloc(heap, 0, (length + 1) * sizeof(wchar_t))
                                       : HeapReAlloc(heap, 0, text_, (length + 1) * sizeof(wchar_t));
        if (grown == nullptr) {
            return false;
        }
        text_ = static_cast<wchar_t*>(grown);
        return true;
    }
    void setLength(DWORD length) {
        length_ = length;
        text_[length_] = L'\0';
    }

    // Once an allocation has failed the text stays null: no record is cut short.
    void append(const wchar_t* more, DWORD count) {
        if (failed_) {
            return;
        }
        if (!reserve(length_ + count)) {
            failed_ = true;
            if (text_ != nullptr) {
                HeapFree(GetProcessHeap(), 0, text_);
                text_ = nullptr;
            }
            length_ = 0;
            return;
        }
        for (DWORD i = 0; i < count; ++i) {
            text_[length_ + i] = more[i];
        }
        setLength(length_ + count);
    }
    void append(const wchar_t* more) { append(more, static_cast<DWORD>(lstrlenW(more))); }
    void appendNumber(DWORD number) {
        wchar_t digits[16];
        int at = 16;
        do {
            digits[--at] = static_cast<wchar_t>(L'0' + number % 10);
            number /= 10;
        } while (number != 0);
        append(digits + at, static_cast<DWORD>(16 - at));
    }

    const wchar_t* get() const { return text_; }
    wchar_t* data() { return text_; }
    DWORD length() const { return length_; }

private:
    wchar_t* text_ = nullptr;
    DWORD length_ = 0;
    bool failed_ = false;
};

// The full name of the file that holds this loader (longer than MAX_PATH too); false when the system
// cannot tell.
bool ownFile(Text& file, DWORD& error) {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<const wchar_t*>(&moduleAnchor), &self)) {
        error = GetLastError();
        return false;
    }
    // A full buffer means the name was cut short: grow until it fits.
    for (DWORD size = MAX_PATH; size <= 65536; size *= 2) {
        if (!file.reserve(size)) {
            error = ERROR_NOT_ENOUGH_MEMORY;
            return false;
        }
        const DWORD length = GetModuleFileNameW(self, file.data(), size);
        if (length == 0) {
            error = GetLastError();
            return false;
        }
        if (length < size) {
            file.setLength(length);
            return true;
        }
    }
    error = ERROR_INSUFFICIENT_BUFFER;
    return false;
}

// Appends one line to vanto_sensor\ds.log in the local application-data folder, creating the folder
// when this is the first record (as on a first run with the data source missing).
void appendToLog(const Text& line) {
    Text path;
    const DWORD needed = GetEnvironmentVariableW(L"LOCALAPPDATA", nullptr, 0);
    if (needed == 0 || !path.reserve(needed)) {
        return;
    }
    const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", path.data(), needed);
    if (length == 0 || length >= needed) {
        return;
    }
    path.setLength(length);
    path.append(L"\\vanto_sensor");
    if (path.get() == nullptr) {
        return;
    }
    CreateDirectoryW(path.get(), nullptr);
    path.append(L"\\ds.log");
    if (path.get() == nullptr) {
        return;
    }
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, line.get(), static_cast<int>(line.length()), nullptr, 0,
                                          nullptr, nullptr);
    if (bytes <= 0) {
        return;
    }
    char* utf8 = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(bytes)));
    if (utf8 == nullptr) {
        return;
    }
    WideCharToMultiByte(CP_UTF8, 0, line.get(), static_cast<int>(line.length()), utf8, bytes, nullptr,
                        nullptr);
    HANDLE log =
        CreateFileW(path.get(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(log, utf8, static_cast<DWORD>(bytes), &written, nullptr);
        CloseHandle(log);
    }
    HeapFree(GetProcessHeap(), 0, utf8);
}

// "TwainDll.ds: <what> <file>: <the system's message> (error <code>)", in the log and to a debugger.
void recordFailure(const wchar_t* what, const Text& file, DWORD error) {
    Text line;
    line.append(L"TwainDll.ds: ");
    line.append(what);
    if (file.get() != nullptr) {
        line.append(L" ");
        line.append(file.get());
    }
    line.append(L": ");
    wchar_t* message = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    if (length != 0 && message != nullptr) {
        DWORD end = length;
        while (end != 0 &&
               (message[end - 1] == L'\n' || message[end - 1] == L'\r' || message[end - 1] == L' ')) {
            --end;
        }
        line.append(message, end);
        line.append(L" ");
    }
    if (message != nullptr) {
        LocalFree(message);
    }
    line.append(L"(error ");
    line.appendNumber(error);
    line.append(L")\r\n");
    if (line.get() == nullptr) {
        return;
    }
    OutputDebugStringW(line.get());
    appendToLog(line);
}

BOOL CALLBACK loadDataSource(PINIT_ONCE, PVOID, PVOID*) {
    Text file;
    DWORD error = 0;
    if (!ownFile(file, error)) {
        recordFailure(L"cannot find its own file, beside which the data source lies", Text(), error);
        return TRUE;
    }
    // The data source lies beside this file, whatever the DSM named it.
    DWORD folderEnd = file.length();
    while (folderEnd != 0 && file.get()[folderEnd - 1] != L'\\' && file.get()[folderEnd - 1] != L'/') {
        --folderEnd;
    }
    file.setLength(folderEnd);
    file.append(kDataSourceFile);
    if (file.get() == nullptr) {
        recordFailure(L"has no memory to load the data source", Text(), ERROR_NOT_ENOUGH_MEMORY);
        return TRUE;
    }
    HMODULE library = LoadLibraryExW(file.get(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr) {
        recordFailure(L"cannot load the data source", file, GetLastError());
        return TRUE;
    }
    auto entry =
        reinterpret_cast<DSENTRYPROC>(reinterpret_cast<void*>(GetProcAddress(library, kDataSourceEntry)));
    if (entry == nullptr) {
        recordFailure(L"finds no OstraSensor_DS_Entry in the data source", file, GetLastError());
        return TRUE;
    }
    // Loaded until the process ends, whoever frees it (the reference taken above is never given back
    // either).
    HMODULE pinned = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<const wchar_t*>(reinterpret_cast<void*>(entry)), &pinned);
    dataSourceEntry = entry;
    // A failure is final for this load of TwainDll.ds: recorded once, answered the same every time.
    return TRUE;
}

} // namespace

extern "C" TW_UINT16 TW_CALLINGSTYLE DS_Entry(TW_IDENTITY* origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                                              TW_MEMREF data) {
    InitOnceExecuteOnce(&loadOnce, loadDataSource, nullptr, nullptr);
    if (dataSourceEntry != nullptr) {
        return dataSourceEntry(origin, dg, dat, msg, data);
    }
    if (dg == DG_CONTROL && dat == DAT_STATUS && msg == MSG_GET && data != nullptr) {
        auto* status = static_cast<TW_STATUS*>(data);
        status->ConditionCode = TWCC_BUMMER;
        status->Data = 0;
        return TWRC_SUCCESS;
    }
    return TWRC_FAILURE;
}

// The entry point the system calls (there is no run-time library's to call ours): nothing to set up,
// and no thread notifications wanted.
extern "C" BOOL WINAPI DllMainCRTStartup(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
