// The ownership of a loaded library, the same on every system; loading and lookup are in posix/ and win32/.
#include "platform/module.h"

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

} // namespace platform
