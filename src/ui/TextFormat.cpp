#include "TextFormat.h"

std::wstring TextArgument::Render() const {
    return isText ? text : std::to_wstring(number);
}

std::wstring FormatText(const std::wstring& format, std::initializer_list<TextArgument> arguments) {
    std::wstring out;
    out.reserve(format.size());
    auto next = arguments.begin();
    for (size_t i = 0; i < format.size(); ++i) {
        wchar_t c = format[i];
        if (c != L'%' || i + 1 == format.size()) {
            out += c;
            continue;
        }
        wchar_t conversion = format[i + 1];
        if (conversion == L'%') {
            out += L'%';
            ++i;
        } else if (conversion == L's' || conversion == L'd') {
            if (next != arguments.end()) out += (next++)->Render();
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}
