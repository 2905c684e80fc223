// Linux: dlopen / dlsym / dladdr.
#include "platform/module.h"

#include <cerrno>
#include <dlfcn.h>
#include <mutex>
#include <utility>

namespace platform {

namespace {

// Guards driverFolderOverride and searchFolder; both are set rarely (at start-up, before a load)
// and read by every load of a bare name.
std::mutex foldersMutex;
std::optional<std::filesystem::path> driverFolderOverride;
std::optional<std::filesystem::path> searchFolder;

void* openLibrary(const std::filesystem::path& file, std::string* error) {
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr && error != nullptr) {
        const char* reason = dlerror();
        *error = reason != nullptr ? reason : "unknown error";
    }
    return handle;
}

} // namespace

Module Module::load(const std::filesystem::path& file, std::string* error) {
    // A bare name is looked for in the search folder first, as the Windows loader does with the
    // folder given to SetDllDirectoryW, and then through the system's own rules.
    if (!file.empty() && !file.has_parent_path()) {
        if (auto folder = librarySearchFolder()) {
            std::error_code ec;
            const auto candidate = *folder / file;
            if (std::filesystem::is_regular_file(candidate, ec)) {
                return Module(openLibrary(candidate, error));
            }
        }
    }
    return Module(openLibrary(file, error));
}

void* Module::symbol(const char* name) const {
    if (handle_ == nullptr || name == nullptr) {
        return nullptr;
    }
    return dlsym(handle_, name);
}

void Module::unload() {
    if (handle_ != nullptr) {
        dlclose(handle_);
        handle_ = nullptr;
    }
}

std::optional<std::filesystem::path> ownModuleFile() {
    Dl_info info{};
    static const int anchor = 0;
    if (dladdr(&anchor, &info) == 0 || info.dli_fname == nullptr || info.dli_fname[0] == '\0') {
        return std::nullopt;
    }
    std::error_code ec;
    auto file = std::filesystem::absolute(info.dli_fname, ec);
    if (ec) {
        return std::nullopt;
    }
    return file;
}

bool pinModuleOf(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) {
        return false;
    }
    // Opening the loaded library again with RTLD_NODELETE marks it for good; the extra reference
    // is given back at once.
    void* handle = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
    if (handle == nullptr) {
        return false;
    }
    dlclose(handle);
    return true;
}

ModuleFileLookup moduleFileOf(const void* address) {
    static const int anchor = 0;
    ModuleFileLookup lookup;
    Dl_info info{};
    errno = 0;
    if (dladdr(address != nullptr ? address : &anchor, &info) == 0) {
        lookup.failure = ModuleFileLookup::Failure::module;
        lookup.error = static_cast<unsigned long>(errno);
        return lookup;
    }
    std::error_code ec;
    if (info.dli_fname == nullptr || info.dli_fname[0] == '\0') {
        lookup.failure = ModuleFileLookup::Failure::fileName;
        return lookup;
    }
    auto file = std::filesystem::absolute(info.dli_fname, ec);
    if (ec) {
        lookup.failure = ModuleFileLookup::Failure::fileName;
        lookup.error = static_cast<unsigned long>(ec.value());
        return lookup;
    }
    lookup.file = std::move(file);
    return lookup;
}

std::string libraryFileName(std::string_view baseName) {
    return "lib" + std::string(baseName) + ".so";
}

std::optional<std::filesystem::path> driverFolder() {
    {
        std::lock_guard lock(foldersMutex);
        if (driverFolderOverride) {
            return driverFolderOverride;
        }
    }
    auto file = ownModuleFile();
    if (!file || !file->has_parent_path()) {
        return std::nullopt;
    }
    return file->parent_path();
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
    searchFolder = std::move(folder);
    return true;
}

std::optional<std::filesystem::path> librarySearchFolder() {
    std::lock_guard lock(foldersMutex);
    return searchFolder;
}

void resetLibrarySearchPath() {
    std::lock_guard lock(foldersMutex);
    searchFolder.reset();
}

} // namespace platform
