#include "Cp936Converter.h"

#include <cerrno>
#include <cstdio>

namespace {

const iconv_t NO_CONVERTER = reinterpret_cast<iconv_t>(-1);

const char REPLACEMENT_CHARACTER[] = "\xEF\xBF\xBD";

}  // namespace

Cp936Converter::Cp936Converter(Direction direction)
    : state_(direction == TO_UTF8 ? iconv_open("UTF-8", "CP936") : iconv_open("CP936", "UTF-8"))
{
}

Cp936Converter::~Cp936Converter()
{
    if (state_ != NO_CONVERTER) iconv_close(state_);
}

bool Cp936Converter::Usable() const
{
    return state_ != NO_CONVERTER;
}

bool Cp936Converter::Convert(const std::string& text, std::string& out, BadBytes bad)
{
    out.clear();
    if (!Usable()) return false;
    // Each text starts afresh, whatever the previous one left behind.
    iconv(state_, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    while (inLeft > 0) {
        char chunk[256];
        char* outPtr = chunk;
        size_t outLeft = sizeof chunk;
        size_t done = iconv(state_, &in, &inLeft, &outPtr, &outLeft);
        out.append(chunk, static_cast<size_t>(outPtr - chunk));
        if (done != static_cast<size_t>(-1) || errno == E2BIG) continue;
        // An invalid or cut-off sequence: one byte is dealt with, then the
        // conversion goes on from the next one.
        if (bad == FAIL) return false;
        if (bad == REPLACE) {
            out += REPLACEMENT_CHARACTER;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(*in));
            out += escaped;
        }
        ++in;
        --inLeft;
        iconv(state_, nullptr, nullptr, nullptr, nullptr);
    }
    return true;
}

std::string Cp936ToUtf8(const std::string& text)
{
    Cp936Converter converter(Cp936Converter::TO_UTF8);
    std::string out;
    converter.Convert(text, out, Cp936Converter::REPLACE);
    return out;
}

bool Utf8ToCp936(const std::string& text, std::string& out)
{
    Cp936Converter converter(Cp936Converter::FROM_UTF8);
    return converter.Convert(text, out, Cp936Converter::FAIL);
}

size_t Utf8CharacterLength(const std::string& text, size_t at)
{
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    const size_t announced = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    size_t n = 1;
    while (n < announced && at + n < text.size() && (static_cast<unsigned char>(text[at + n]) & 0xC0) == 0x80)
        ++n;
    return n;
}
