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
