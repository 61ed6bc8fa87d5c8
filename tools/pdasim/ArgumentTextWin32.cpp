#include "ArgumentText.h"

#include <windows.h>

std::string ArgumentToUtf8(const std::string& argument)
{
    if (argument.empty()) return argument;
    const int length = static_cast<int>(argument.size());
    const int wideLength = MultiByteToWideChar(CP_ACP, 0, argument.data(), length, nullptr, 0);
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_ACP, 0, argument.data(), length, &wide[0], wideLength);
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, &utf8[0], size, nullptr, nullptr);
    return utf8;
}
