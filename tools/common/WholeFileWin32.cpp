#include "WholeFile.h"

#include <windows.h>

#include <cerrno>
#include <cstdio>

namespace {

const char TEMP_SUFFIX[] = ".tmp";

// Writes `bytes` as the whole of a new file at `path`; 0 or the errno of
// the step that failed.
int WriteNewFile(const std::string& path, const std::string& bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return errno;
    int error = 0;
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) error = errno ? errno : EIO;
    if (std::fclose(file) != 0 && error == 0) error = errno;
    return error;
}

}  // namespace

int ReplaceFileWhole(const std::string& path, const std::string& bytes)
{
    const std::string temp = path + TEMP_SUFFIX;
    int error = WriteNewFile(temp, bytes);
    // rename() will not replace an existing file on Windows; MoveFileEx does, in one step.
    if (error == 0 && !MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
    if (error != 0) DeleteFileA(temp.c_str());
    return error;
}
