// Linux: flock(2) on an open descriptor of the lock file; released with the descriptor.
#include "platform/file_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

struct FileLock::Handle {
    int fd = -1;
    bool locked = false;
};

FileLock::FileLock(const std::filesystem::path& lockFile) : handle_(std::make_unique<Handle>()) {
    handle_->fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (handle_->fd < 0) {
        return;
    }
    int result = 0;
    do {
        result = ::flock(handle_->fd, LOCK_EX);
    } while (result != 0 && errno == EINTR);
    handle_->locked = result == 0;
}

FileLock::~FileLock() {
    if (handle_->fd >= 0) {
        if (handle_->locked) {
            ::flock(handle_->fd, LOCK_UN);
        }
        ::close(handle_->fd);
    }
}

bool FileLock::held() const {
    return handle_->locked;
}

} // namespace platform
