// Windows: LoadLibraryW / GetProcAddress / FreeLibrary, SetDllDirectoryW for the driver folder, and
// GetModuleHandleExW + GetModuleFileNameW for the file of a module.
#include "platform/module.h"

#include <windows.h>

#include <mutex>
#include <utility>
#include <vector>

namespace platform {

namespace {

// Guards driverFolderOverride and searchFolder (set rarely, read by every bare-name load).
std::mutex foldersMutex;
std::optional<std::filesystem::path> driverFolderOverride;
std::optional<std::filesystem::path> searchFolder;

const wchar_t kInstalledDriverFolder[] = L"C:\\Windows\\twain_32\\Ostra Sensor Twain Driver";

std::string systemMessage(DWORD code) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message;
    if (length != 0 && text != nullptr) {
        message.assign(text, length);
        while (!message.empty() &&
               (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
            message.pop_back();
        }
    }
    if (text != nullptr) {
        LocalFree(text);
    }
    if (message.empty()) {
        message = "error " + std::to_string(code);
    }
    return message;
}

const int moduleAnchor = 0;

} // namespace

Module Module::load(const std::filesystem::path& file, std::string* error) {
    // A bare name goes through the loader's search, which includes the folder given to
    // SetDllDirectoryW (addDriverFolderToSearchPath). A library named by its full path finds the
    // DLLs it imports beside itself first (the data source's Qt and OpenCV DLLs in its folder).
    HMODULE handle = nullptr;
    if (file.is_absolute()) {
        handle = LoadLibraryExW(file.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    } else if (!file.empty()) {
        handle = LoadLibraryW(file.c_str());
    }
    if (handle == nullptr && error != nullptr) {
        *error = file.empty() ? std::string("no file name") : systemMessage(GetLastError());
    }
    return Module(reinterpret_cast<void*>(handle));
}

void* Module::symbol(const char* name) const {
    if (handle_ == nullptr || name == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void Module::unload() {
    if (handle_ != nullptr) {
        FreeLibrary(static_cast<HMODULE>(handle_));
        handle_ = nullptr;
    }
}

std::optional<std::filesystem::path> ownModuleFile() {
    return moduleFileOf(nullptr).file;
}

ModuleFileLookup moduleFileOf(const void* address) {
    ModuleFileLookup lookup;
    HMODULE module = nullptr;
    const auto* inside = static_cast<const wchar_t*>(address != nullptr ? address : &moduleAnchor);
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            inside, &module)) {
        lookup.failure = ModuleFileLookup::Failure::module;
        lookup.error = GetLastError();
        return lookup;
    }
    // The name may be longer than MAX_PATH: grow until it fits (a full buffer means truncated).
    std::vector<wchar_t> name(MAX_PATH);
    while (true) {
        const DWORD length = GetModuleFileNameW(module, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0) {
            lookup.failure = ModuleFileLookup::Failure::fileName;
            lookup.error = GetLastError();
            return lookup;
        }
        if (length < name.size()) {
            lookup.file = std::filesystem::path(std::wstring(name.data(), length));
            return lookup;
        }
        if (name.size() >= 32768) {
            lookup.failure = ModuleFileLookup::Failure::fileName;
            lookup.error = ERROR_INSUFFICIENT_BUFFER;
            return lookup;
        }
        name.resize(name.size() * 2);
    }
}

bool pinModuleOf(const void* address) {
    HMODULE module = nullptr;
    return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                              static_cast<const wchar_t*>(address), &module) != 0;
}

std::string libraryFileName(std::string_view baseName) {
    return std::string(baseName) + ".dll";
}

std::optional<std::filesystem::path> driverFolder() {
    std::lock_guard lock(foldersMutex);
    if (driverFolderOverride) {
        return driverFolderOverride;
    }
    // The data source's own folder: where it is installed, or a copy of the driver folder elsewhere
    // (the Qt plug-ins and the detector's library always lie beside it).
    if (const auto own = moduleFileOf(nullptr).file; own && own->has_parent_path()) {
        return own->parent_path();
    }
    return std::filesystem::path(kInstalledDriverFolder);
}

void setDriverFolder(std::optional<std::filesystem::path> folder) {
    std::lock_guard lock(foldersMutex);
    driverFolderOverride = std::move(folder);
}

bool addDriverFolderToSearchPath() {
    auto folder = driverFolder();
    if (!folder) {
        return false;
    }
    std::lock_guard lock(foldersMutex);
    if (!SetDllDirectoryW(folder->c_str())) {
        return false;
    }
    searchFolder = std::move(folder);
    return true;
}

std::optional<std::filesystem::path> librarySearchFolder() {
    std::lock_guard lock(foldersMutex);
    return searchFolder;
}

void resetLibrarySearchPath() {
    std::lock_guard lock(foldersMutex);
    SetDllDirectoryW(nullptr);
    searchFolder.reset();
}

} // namespace platform
