#include "RecordFieldsText.h"

#include <cstdio>

#include "Cp936Converter.h"
#include "RecordFields.h"

namespace {

const char* RuleName(CodeRule rule)
{
    switch (rule) {
    case CodeRule::PREFERRING: return "preferring";
    case CodeRule::FIRST_WINS: return "first-wins";
    case CodeRule::NOTES_ONLY: return "notes-only";
    }
    return "";
}

std::string JsonString(const std::string& utf8)
{
    return "\"" + JsonEscape(utf8) + "\"";
}

}  // namespace

std::string RecordFieldLabel(int field)
{
    std::string label = RECORD_FIELD_NAMES[field];
    if (const FieldCode* code = CodeOfField(field)) label += std::string(" (") + code->code + ")";
    return label;
}

std::string RecordFieldsJson()
{
    std::string out;
    for (int field = 0; field < RECORD_FIELD_COUNT; ++field) {
        const FieldCode* code = CodeOfField(field);
        out += "{\"field\":" + std::to_string(field) + ",\"name\":" + JsonString(RECORD_FIELD_NAMES[field]) +
               ",\"code\":" + JsonString(code != nullptr ? code->code : "") +
               ",\"checked\":" + (FieldTakes(field, "") ? "false" : "true") + "}\n";
    }
    return out;
}

std::string FieldCodesJson()
{
    std::string out;
    for (size_t k = 0; k < FIELD_CODE_COUNT; ++k) {
        const FieldCode& code = FIELD_CODES[k];
        const bool fills = code.field != NO_FIELD;
        out += "{\"code\":" + JsonString(code.code) + ",\"label\":" + JsonString(Cp936ToUtf8(code.label)) +
               ",\"rule\":" + JsonString(RuleName(code.rule)) +
               ",\"field\":" + (fills ? std::to_string(code.field) : "null") +
               ",\"name\":" + (fills ? JsonString(RECORD_FIELD_NAMES[code.field]) : "null") +
               ",\"title\":" + (k == TITLE_CODE ? "true" : "false") + "}\n";
    }
    return out;
}

std::string JsonEscape(const std::string& utf8)
{
    std::string out;
    for (unsigned char c : utf8) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04x", c);
                out += esc;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}
