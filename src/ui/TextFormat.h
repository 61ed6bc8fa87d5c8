// printf-like formatting of the user interface's wide texts, limited to the
// three conversions the texts use: %s (a text), %d (a number) and %%.
// Portable: no platform calls.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

class TextArgument {
public:
    TextArgument(std::wstring value) : text(std::move(value)), isText(true) {}
    TextArgument(const wchar_t* value) : text(value ? value : L""), isText(true) {}
    TextArgument(int64_t value) : number(value) {}
    TextArgument(int32_t value) : number(value) {}
    TextArgument(uint32_t value) : number(value) {}
    TextArgument(uint16_t value) : number(value) {}

    // The argument as %s or %d shows it; a number given to %s and a text
    // given to %d are shown as they are.
    std::wstring Render() const;

private:
    std::wstring text;
    int64_t number = 0;
    bool isText = false;
};

// Replaces each %s and %d with the next argument in turn and %% with one %.
// A conversion without an argument left gives nothing; any other character
// after % is kept as it stands.
std::wstring FormatText(const std::wstring& format, std::initializer_list<TextArgument> arguments);
