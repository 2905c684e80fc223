// Linux: dlopen / dlsym / dladdr.
#include "platform/module.h"

#include <dlfcn.h>
#include <utility>

namespace platform {

Module::~Module() {
    unload();
}

Module::Module(Module&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

Module& Module::operator=(Module&& other) noexcept {
    if (this != &other) {
        unload();
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

Module Module::load(const std::filesystem::path& file, std::string* error) {
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr && error != nullptr) {
        const char* reason = dlerror();
        *error = reason != nullptr ? reason : "unknown error";
    }
    return Module(handle);
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

} // namespace platform
