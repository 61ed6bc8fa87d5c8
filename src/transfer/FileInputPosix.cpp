// POSIX has no share modes; an advisory exclusive lock keeps cooperating
// openers (and a second FileInput) out while the file is held.
#include "FileInput.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

bool FileInput::Open(const char* path) noexcept
{
    Close();
    if (path == nullptr) return false;
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info;
    // Only a lock held by someone else refuses the file; a file system
    // without locks does not.
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)) {
        ::close(fd);
        return false;
    }
    handle = fd;
    open = true;
    return true;
}

void FileInput::Close() noexcept
{
    if (!open) return;
    ::close(static_cast<int>(handle));
    handle = 0;
    open = false;
}

bool FileInput::Size(int64_t& size) noexcept
{
    struct stat info;
    if (!open || ::fstat(static_cast<int>(handle), &info) != 0) return false;
    size = static_cast<int64_t>(info.st_size);
    return true;
}

int32_t FileInput::ReadAt(int64_t offset, void* buffer, int32_t count) noexcept
{
    if (!open || offset < 0 || count < 0) return -1;
    int32_t done = 0;
    while (done < count) {
        ssize_t got = ::pread(static_cast<int>(handle), static_cast<char*>(buffer) + done,
                              static_cast<size_t>(count - done), static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (got == 0) break;
        done += static_cast<int32_t>(got);
    }
    return done;
}
