// Text conversion between code page 936, in which the device and the record
// files hold their texts, and UTF-8, in which the tools read and show them:
// iconv on POSIX (Cp936Converter.cpp), the system's code pages on Windows
// (Cp936ConverterWin32.cpp).
#pragma once

#ifndef _WIN32
#include <iconv.h>
#endif

#include <cstddef>
#include <string>

class Cp936Converter {
public:
    enum Direction {
        TO_UTF8,    // CP936 in, UTF-8 out
        FROM_UTF8,  // UTF-8 in, CP936 out
    };
    // What becomes of an input byte that cannot be converted.
    enum BadBytes {
        FAIL,     // the conversion stops there and reports false
        REPLACE,  // U+FFFD stands in for the byte
        ESCAPE,   // the byte is shown as \xNN
    };

    explicit Cp936Converter(Direction direction);
    ~Cp936Converter();
    Cp936Converter(const Cp936Converter&) = delete;
    Cp936Converter& operator=(const Cp936Converter&) = delete;

    // False when the system has no converter for CP936.
    bool Usable() const;

    // Converts `text` into `out`. False when the converter is not usable, or
    // with FAIL at the first byte that cannot be converted (`out` then holds
    // what came before it). REPLACE and ESCAPE go on after the bad byte.
    bool Convert(const std::string& text, std::string& out, BadBytes bad);

private:
#ifdef _WIN32
    Direction direction_;  // code page 936 through the system's own tables
#else
    iconv_t state_;
#endif
};

// One-off conversions: undecodable bytes become U+FFFD.
std::string Cp936ToUtf8(const std::string& text);
// False when the text has characters CP936 lacks (or is not UTF-8).
bool Utf8ToCp936(const std::string& text, std::string& out);

// Bytes of the UTF-8 character that starts at `at`: what its lead byte
// announces, cut short at a byte that does not continue it or at the end;
// 1 for a stray byte.
size_t Utf8CharacterLength(const std::string& text, size_t at);
