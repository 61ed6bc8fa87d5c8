// A FileInput over bytes in memory, for the fuzzer: every path opens the
// bytes last handed to SetMemoryFile, so no input touches the disk.
#include "FileInputMemory.h"

#include <cstring>

#include "FileInput.h"

namespace {
const uint8_t* memoryData = nullptr;
size_t memorySize = 0;
bool memoryHeld = false;
}  // namespace

void SetMemoryFile(const uint8_t* data, size_t size)
{
    memoryData = data;
    memorySize = size;
}

bool FileInput::Open(const char* path) noexcept
{
    Close();
    // Like a file opened with no sharing: one opener at a time.
    if (path == nullptr || memoryHeld) return false;
    memoryHeld = true;
    handle = 1;
    open = true;
    return true;
}

void FileInput::Close() noexcept
{
    if (open) memoryHeld = false;
    open = false;
}

bool FileInput::Size(int64_t& size) noexcept
{
    if (!open) return false;
    size = static_cast<int64_t>(memorySize);
    return true;
}

int32_t FileInput::ReadAt(int64_t offset, void* buffer, int32_t count) noexcept
{
    if (!open || offset < 0 || count < 0) return -1;
    if (static_cast<uint64_t>(offset) >= memorySize) return 0;
    size_t available = memorySize - static_cast<size_t>(offset);
    size_t taken = available < static_cast<size_t>(count) ? available : static_cast<size_t>(count);
    std::memcpy(buffer, memoryData + offset, taken);
    return static_cast<int32_t>(taken);
}
