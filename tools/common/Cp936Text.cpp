#include "Cp936Converter.h"

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
