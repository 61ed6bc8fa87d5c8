#include "FileInput.h"

#include <windows.h>

static HANDLE AsHandle(intptr_t value)
{
    return reinterpret_cast<HANDLE>(value);
}

bool FileInput::Open(const char* path) noexcept
{
    Close();
    if (path == nullptr) return false;
    // Share mode 0: nobody else may open the file while we hold it.
    HANDLE file = ::CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    handle = reinterpret_cast<intptr_t>(file);
    open = true;
    return true;
}

void FileInput::Close() noexcept
{
    if (!open) return;
    ::CloseHandle(AsHandle(handle));
    handle = 0;
    open = false;
}

bool FileInput::Size(int64_t& size) noexcept
{
    LARGE_INTEGER value;
    if (!open || !::GetFileSizeEx(AsHandle(handle), &value)) return false;
    size = value.QuadPart;
    return true;
}

int32_t FileInput::ReadAt(int64_t offset, void* buffer, int32_t count) noexcept
{
    if (!open || offset < 0 || count < 0) return -1;
    LARGE_INTEGER position;
    position.QuadPart = offset;
    if (!::SetFilePointerEx(AsHandle(handle), position, nullptr, FILE_BEGIN)) return -1;
    int32_t done = 0;
    while (done < count) {
        DWORD got = 0;
        if (!::ReadFile(AsHandle(handle), static_cast<char*>(buffer) + done, static_cast<DWORD>(count - done), &got,
                        nullptr))
            return -1;
        if (got == 0) break;
        done += static_cast<int32_t>(got);
    }
    return done;
}
