#include "WholeFile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

const char TEMP_SUFFIX[] = ".tmp";

// Writes `bytes` as the whole of a new file at `path`; 0 or the errno of
// the step that failed.
int WriteNewFile(const std::string& path, const std::string& bytes)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    int error = 0;
    for (size_t done = 0; done < bytes.size() && error == 0;) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n < 0 && errno != EINTR)
            error = errno;
    }
    if (close(fd) != 0 && error == 0) error = errno;
    return error;
}

}  // namespace

int ReplaceFileWhole(const std::string& path, const std::string& bytes)
{
    const std::string temp = path + TEMP_SUFFIX;
    int error = WriteNewFile(temp, bytes);
    if (error == 0 && std::rename(temp.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) unlink(temp.c_str());
    return error;
}
