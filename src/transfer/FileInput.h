// A file opened for reading only, shared with no other opener while it is
// open. Each platform implements it in its own source file.
#pragma once

#include <cstdint>

class FileInput {
public:
    FileInput() = default;
    ~FileInput() { Close(); }
    FileInput(const FileInput&) = delete;
    FileInput& operator=(const FileInput&) = delete;

    // Opens an existing file; false if it does not exist or cannot be read.
    bool Open(const char* path) noexcept;
    void Close() noexcept;
    bool IsOpen() const { return open; }

    // The file's size in bytes; false on a platform error.
    bool Size(int64_t& size) noexcept;

    // Reads up to `count` bytes at `offset`. Gives the number read, fewer
    // at the end of the file, or -1 on a platform error.
    int32_t ReadAt(int64_t offset, void* buffer, int32_t count) noexcept;

private:
    intptr_t handle = 0;
    bool open = false;
};
