// An exclusive lock between processes, held on a lock file, for read-modify-write sequences on a
// file that several applications of one account may change at once.
#pragma once

#include <filesystem>
#include <memory>

namespace platform {

// Waits until this process holds the lock on `lockFile` (created if missing, never removed) and
// keeps it until destroyed. When the lock file cannot be opened the lock is not held (`held()` is
// false) and the caller goes on without it.
//   Windows: CreateFileW + LockFileEx (exclusive, waiting).
//   Linux:   open(2) + flock(2) (exclusive, waiting).
class FileLock {
public:
    explicit FileLock(const std::filesystem::path& lockFile);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool held() const;

private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
};

} // namespace platform
