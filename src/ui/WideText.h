// Conversions to the UTF-16 texts that the wide Win32 calls take: from the
// UTF-8 literals of UiTexts.h, and from the device's and the caller's
// CP936 byte strings (port names, server type), which stay bytes elsewhere.
#pragma once

#include <string>

constexpr unsigned int RECORD_CODE_PAGE = 936;

std::wstring WideFromUtf8(const char* text);
// Bytes that are not valid CP936 are replaced as the platform's converter
// chooses, so a damaged server type still shows as far as it reads.
std::wstring WideFromCp936(const std::string& bytes);
