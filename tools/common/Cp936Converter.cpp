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
