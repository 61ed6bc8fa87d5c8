#include "RecordFields.h"

#include <cstring>

int FindFieldCode(const char* code)
{
    for (size_t k = 0; k < FIELD_CODE_COUNT; ++k)
        if (std::strcmp(code, FIELD_CODES[k].code) == 0) return static_cast<int>(k);
    return -1;
}

const FieldCode* CodeOfField(int field)
{
    if (field == NO_FIELD) return nullptr;
    for (const FieldCode& code : FIELD_CODES)
        if (code.field == field) return &code;
    return nullptr;
}

std::array<std::string, RECORD_FIELD_COUNT> SplitRecordPayload(const uint8_t* data, size_t length)
{
    std::array<std::string, RECORD_FIELD_COUNT> fields;
    size_t count = 0;
    size_t start = 0;
    for (size_t k = 0; k < length && count < RECORD_FIELD_COUNT; ++k) {
        if (data[k] == 0) {
            fields[count++].assign(reinterpret_cast<const char*>(data + start), k - start);
            start = k + 1;
        }
    }
    if (count < RECORD_FIELD_COUNT && start < length)
        fields[count].assign(reinterpret_cast<const char*>(data + start), length - start);
    return fields;
}

bool IsAsciiText(const char* text)
{
    for (const unsigned char* byte = reinterpret_cast<const unsigned char*>(text); *byte != 0; ++byte)
        if (*byte >= 0x80) return false;
    return true;
}

bool IsEmailAddress(const char* text)
{
    if (!IsAsciiText(text)) return false;
    const size_t length = std::strlen(text);
    if (length < 5) return false;
    const char* at = std::strchr(text, '@');
    if (at == nullptr || at != std::strrchr(text, '@')) return false;
    if (at == text || at == text + length - 1) return false;
    if (text[0] == '.' || text[length - 1] == '.') return false;
    return at[1] != '.';
}

bool FieldTakes(int field, const char* text)
{
    return field != FIELD_EMAIL || IsEmailAddress(text);
}
