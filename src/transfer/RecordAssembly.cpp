#include "RecordAssembly.h"

#include <cstring>

const char EMPTY_TEXT[1] = {'\0'};

namespace {

constexpr char NOTES_SEPARATOR[] = ":";
constexpr char LINE_END[] = "\r\n";
// The separator and the line end that a notes line adds to its value.
constexpr size_t NOTES_LINE_EXTRA = 3;

}  // namespace

int32_t BuildRecordPayload(const char* const* fieldTexts, uint8_t* buffer, size_t capacity)
{
    if (capacity == 0) return 0;
    size_t used = 0;
    // One byte is always kept back for the closing NUL.
    for (int field = 0; field < RECORD_FIELD_COUNT && used + 1 < capacity; ++field) {
        const char* text = fieldTexts[field] != nullptr ? fieldTexts[field] : EMPTY_TEXT;
        size_t length = std::strlen(text);
        if (length > capacity - used - 2) length = capacity - used - 2;
        std::memcpy(buffer + used, text, length);
        used += length;
        buffer[used++] = '\0';
    }
    buffer[used] = '\0';
    return static_cast<int32_t>(used);
}

int32_t RecordPercentage(int32_t counter, int32_t total)
{
    if (total == 0) return 0;
    const int64_t percent = static_cast<int64_t>(counter) * 100 / total;
    if (percent > INT32_MAX) return INT32_MAX;
    if (percent < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(percent);
}

bool RecordAssembler::AppendNotesLine(const char* label, const char* value, size_t ownValueLength)
{
    if (notesLength + ownValueLength + NOTES_LINE_EXTRA >= NOTES_SIZE) return false;
    const size_t labelLength = std::strlen(label);
    const size_t valueLength = std::strlen(value);
    const size_t lineLength = labelLength + 1 + valueLength + 2;
    if (notesLength + lineLength > NOTES_TEXT_MAX) return false;
    char* end = notes + notesLength;
    std::memcpy(end, label, labelLength);
    end += labelLength;
    std::memcpy(end, NOTES_SEPARATOR, 1);
    end += 1;
    std::memcpy(end, value, valueLength);
    end += valueLength;
    std::memcpy(end, LINE_END, 2);
    end += 2;
    *end = '\0';
    notesLength += lineLength;
    return true;
}

void RecordAssembler::AssembleRecord(int32_t& blockEntries, RecordTable& table, const char** fieldTexts)
{
    // The value kept for each code of FIELD_CODES.
    const char* kept[FIELD_CODE_COUNT] = {};
    notes[0] = '\0';
    notesLength = 0;

    int32_t taking = blockEntries > 0 ? blockEntries : 0;
    if (taking > table.ReadRoom()) taking = table.ReadRoom();
    for (int32_t n = 0; n < taking; ++n) {
        const RecordSlot& entry = table.Slots()[table.readCursor++];
        const int code = FindFieldCode(entry.fieldCode);
        if (code < 0) continue;
        const size_t ownLength = std::strlen(entry.value);
        switch (FIELD_CODES[code].rule) {
        case CodeRule::FIRST_WINS:
            if (kept[code] == nullptr)
                kept[code] = entry.value;
            else
                AppendNotesLine(entry.label, entry.value, ownLength);
            break;
        case CodeRule::PREFERRING:
            if (kept[code] == nullptr)
                kept[code] = entry.value;
            else if (IsAsciiText(entry.value))
                AppendNotesLine(entry.label, entry.value, ownLength);
            else if (AppendNotesLine(entry.label, kept[code], ownLength))
                kept[code] = entry.value;
            break;
        case CodeRule::NOTES_ONLY: AppendNotesLine(entry.label, entry.value, ownLength); break;
        }
    }
    blockEntries = 0;

    const char* title = kept[TITLE_CODE];
    if (title != nullptr) AppendNotesLine(FIELD_CODES[TITLE_CODE].label, title, std::strlen(title));

    for (int field = 0; field < RECORD_FIELD_COUNT; ++field)
        fieldTexts[field] = EMPTY_TEXT;
    for (size_t code = 0; code < FIELD_CODE_COUNT; ++code)
        if (FIELD_CODES[code].field != NO_FIELD && kept[code] != nullptr)
            fieldTexts[FIELD_CODES[code].field] = kept[code];
    if (!FieldTakes(FIELD_EMAIL, fieldTexts[FIELD_EMAIL])) fieldTexts[FIELD_EMAIL] = EMPTY_TEXT;
    fieldTexts[FIELD_NOTES] = notes;
}
