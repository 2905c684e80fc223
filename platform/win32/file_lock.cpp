// Windows: an exclusive LockFileEx on the whole lock file; released with the handle.
#include "platform/file_lock.h"

#include <windows.h>

namespace platform {

struct FileLock::Handle {
    HANDLE file = INVALID_HANDLE_VALUE;
    bool locked = false;
};

FileLock::FileLock(const std::filesystem::path& lockFile) : handle_(std::make_unique<Handle>()) {
    handle_->file = CreateFileW(lockFile.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_->file == INVALID_HANDLE_VALUE) {
        return;
    }
    OVERLAPPED whole{};
    handle_->locked = LockFileEx(handle_->file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) != 0;
}

FileLock::~FileLock() {
    if (handle_->file != INVALID_HANDLE_VALUE) {
        if (handle_->locked) {
            OVERLAPPED whole{};
            UnlockFileEx(handle_->file, 0, MAXDWORD, MAXDWORD, &whole);
        }
        CloseHandle(handle_->file);
    }
}

bool FileLock::held() const {
    return handle_->locked;
}

} // namespace platform
