#include "Cp936Converter.h"

#include <windows.h>

#include <cstdio>

namespace {

constexpr UINT CP936 = 936;

const char REPLACEMENT_CHARACTER[] = "\xEF\xBF\xBD";

// The UTF-16 of `length` bytes in `codePage`; empty when they are not one
// whole valid sequence.
std::wstring Decode(UINT codePage, const char* bytes, int length)
{
    wchar_t wide[4];
    const int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes, length, wide, 4);
    return n > 0 ? std::wstring(wide, static_cast<size_t>(n)) : std::wstring();
}

// `wide` in `codePage`; false when a character has no exact equivalent there.
bool Encode(UINT codePage, const std::wstring& wide, std::string& out)
{
    char bytes[16];
    BOOL usedDefault = FALSE;
    // UTF-8 knows no default character: the flag must then be left out.
    const int n = WideCharToMultiByte(codePage, codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS, wide.data(),
                                      static_cast<int>(wide.size()), bytes, sizeof bytes, nullptr,
                                      codePage == CP_UTF8 ? nullptr : &usedDefault);
    if (n <= 0 || usedDefault) return false;
    out.append(bytes, static_cast<size_t>(n));
    return true;
}

}  // namespace

Cp936Converter::Cp936Converter(Direction direction) : direction_(direction) {}

Cp936Converter::~Cp936Converter() = default;

bool Cp936Converter::Usable() const
{
    CPINFO info;
    return GetCPInfo(CP936, &info) != 0;
}

bool Cp936Converter::Convert(const std::string& text, std::string& out, BadBytes bad)
{
    out.clear();
    if (!Usable()) return false;
    // One character at a time, so a bad byte is dealt with alone and the
    // conversion goes on from the next one, as iconv's does.
    for (size_t at = 0; at < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[at]);
        size_t length = 1;
        if (direction_ == FROM_UTF8)
            length = Utf8CharacterLength(text, at);
        else if (lead >= 0x81 && lead <= 0xFE && at + 1 < text.size())
            length = 2;
        const std::wstring wide =
            Decode(direction_ == TO_UTF8 ? CP936 : CP_UTF8, text.data() + at, static_cast<int>(length));
        if (!wide.empty() && Encode(direction_ == TO_UTF8 ? CP_UTF8 : CP936, wide, out)) {
            at += length;
            continue;
        }
        if (bad == FAIL) return false;
        if (bad == REPLACE) {
            out += REPLACEMENT_CHARACTER;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", lead);
            out += escaped;
        }
        ++at;
    }
    return true;
}
