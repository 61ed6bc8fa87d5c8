#include "WideText.h"

#include <windows.h>

#include <cstring>

namespace {

std::wstring WideFromCodePage(UINT codePage, const char* bytes, size_t length)
{
    if (bytes == nullptr || length == 0) return std::wstring();
    int count = MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(length), nullptr, 0);
    if (count <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(count), L'\0');
    MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(length), &wide[0], count);
    return wide;
}

}  // namespace

std::wstring WideFromUtf8(const char* text)
{
    return text ? WideFromCodePage(CP_UTF8, text, strlen(text)) : std::wstring();
}

std::wstring WideFromCp936(const std::string& bytes)
{
    return WideFromCodePage(RECORD_CODE_PAGE, bytes.data(), bytes.size());
}
