#include "RecordAssembly.h"

#include <cstring>

const char EMPTY_TEXT[1] = {'\0'};

namespace {

enum class CodeRule { PREFERRING, FIRST_WINS, NOTES_ONLY };

struct FieldCode {
    const char* code;
    CodeRule rule;
};

// The recognised codes; a code's index is its slot.
constexpr FieldCode FIELD_CODES[] = {
    {"00", CodeRule::PREFERRING}, {"01", CodeRule::PREFERRING}, {"10", CodeRule::PREFERRING},
    {"11", CodeRule::PREFERRING}, {"12", CodeRule::PREFERRING}, {"13", CodeRule::PREFERRING},
    {"15", CodeRule::FIRST_WINS}, {"16", CodeRule::FIRST_WINS}, {"60", CodeRule::FIRST_WINS},
    {"61", CodeRule::FIRST_WINS}, {"14", CodeRule::FIRST_WINS}, {"50", CodeRule::FIRST_WINS},
    {"51", CodeRule::FIRST_WINS}, {"80", CodeRule::NOTES_ONLY},
};
constexpr int CODE_SLOT_COUNT = sizeof FIELD_CODES / sizeof FIELD_CODES[0];

enum CodeSlot { SLOT_00, SLOT_01, SLOT_10, SLOT_11, SLOT_12, SLOT_13, SLOT_15, SLOT_16, SLOT_60, SLOT_61 };

// The payload field each slot feeds, in payload order; -1 is the always
// empty field 1, and field 10 is the notes.
constexpr int PAYLOAD_SLOTS[PAYLOAD_FIELD_COUNT - 1] = {SLOT_00, -1,     SLOT_15, SLOT_16, SLOT_13,
                                                         SLOT_10, SLOT_11, SLOT_12, SLOT_61, SLOT_60};
constexpr int EMAIL_FIELD = 8;
constexpr int NOTES_FIELD = 10;

// "称谓:" in code page 936.
constexpr char TITLE_PREFIX[] = "\xB3\xC6\xCE\xBD:";
constexpr char NOTES_SEPARATOR[] = ":";
constexpr char LINE_END[] = "\r\n";
// The separator and the line end that a notes line adds to its value.
constexpr size_t NOTES_LINE_EXTRA = 3;

int FindCodeSlot(const char* code)
{
    for (int slot = 0; slot < CODE_SLOT_COUNT; ++slot)
        if (std::strcmp(code, FIELD_CODES[slot].code) == 0)
            return slot;
    return -1;
}

}  // namespace

bool IsAsciiText(const char* text)
{
    for (const unsigned char* byte = reinterpret_cast<const unsigned char*>(text); *byte != 0; ++byte)
        if (*byte >= 0x80)
            return false;
    return true;
}

bool IsEmailAddress(const char* text)
{
    if (!IsAsciiText(text))
        return false;
    const size_t length = std::strlen(text);
    if (length < 5)
        return false;
    const char* at = std::strchr(text, '@');
    if (at == nullptr || at != std::strrchr(text, '@'))
        return false;
    if (at == text || at == text + length - 1)
        return false;
    if (text[0] == '.' || text[length - 1] == '.')
        return false;
    return at[1] != '.';
}

int32_t BuildRecordPayload(const char* const* fieldTexts, uint8_t* buffer, size_t capacity)
{
    if (capacity == 0)
        return 0;
    size_t used = 0;
    // One byte is always kept back for the closing NUL.
    for (int field = 0; field < PAYLOAD_FIELD_COUNT && used + 1 < capacity; ++field) {
        const char* text = fieldTexts[field] != nullptr ? fieldTexts[field] : EMPTY_TEXT;
        size_t length = std::strlen(text);
        if (length > capacity - used - 2)
            length = capacity - used - 2;
        std::memcpy(buffer + used, text, length);
        used += length;
        buffer[used++] = '\0';
    }
    buffer[used] = '\0';
    return static_cast<int32_t>(used);
}

int32_t RecordPercentage(int32_t counter, int32_t total)
{
    if (total == 0)
        return 0;
    const int64_t percent = static_cast<int64_t>(counter) * 100 / total;
    if (percent > INT32_MAX)
        return INT32_MAX;
    if (percent < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(percent);
}

bool RecordAssembler::AppendNotesLine(const char* label, const char* value, size_t ownValueLength)
{
    if (notesLength + ownValueLength + NOTES_LINE_EXTRA >= NOTES_SIZE)
        return false;
    const size_t labelLength = std::strlen(label);
    const size_t valueLength = std::strlen(value);
    const size_t lineLength = labelLength + 1 + valueLength + 2;
    if (notesLength + lineLength > NOTES_TEXT_MAX)
        return false;
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
    const char* slots[CODE_SLOT_COUNT] = {};
    notes[0] = '\0';
    notesLength = 0;

    int32_t taking = blockEntries > 0 ? blockEntries : 0;
    if (taking > table.ReadRoom())
        taking = table.ReadRoom();
    for (int32_t n = 0; n < taking; ++n) {
        const RecordSlot& entry = table.Slots()[table.readCursor++];
        const int slot = FindCodeSlot(entry.fieldCode);
        if (slot < 0)
            continue;
        const size_t ownLength = std::strlen(entry.value);
        switch (FIELD_CODES[slot].rule) {
        case CodeRule::FIRST_WINS:
            if (slots[slot] == nullptr)
                slots[slot] = entry.value;
            else
                AppendNotesLine(entry.label, entry.value, ownLength);
            break;
        case CodeRule::PREFERRING:
            if (slots[slot] == nullptr)
                slots[slot] = entry.value;
            else if (IsAsciiText(entry.value))
                AppendNotesLine(entry.label, entry.value, ownLength);
            else if (AppendNotesLine(entry.label, slots[slot], ownLength))
                slots[slot] = entry.value;
            break;
        case CodeRule::NOTES_ONLY:
            AppendNotesLine(entry.label, entry.value, ownLength);
            break;
        }
    }
    blockEntries = 0;

    if (slots[SLOT_01] != nullptr) {
        const size_t titleLength = std::strlen(slots[SLOT_01]);
        const size_t lineLength = std::strlen(TITLE_PREFIX) + titleLength + 2;
        if (notesLength + lineLength <= NOTES_TEXT_MAX) {
            char* end = notes + notesLength;
            std::memcpy(end, TITLE_PREFIX, std::strlen(TITLE_PREFIX));
            end += std::strlen(TITLE_PREFIX);
            std::memcpy(end, slots[SLOT_01], titleLength);
            end += titleLength;
            std::memcpy(end, LINE_END, 2);
            end += 2;
            *end = '\0';
            notesLength += lineLength;
        }
    }

    for (int field = 0; field < NOTES_FIELD; ++field) {
        const int slot = PAYLOAD_SLOTS[field];
        fieldTexts[field] = (slot >= 0 && slots[slot] != nullptr) ? slots[slot] : EMPTY_TEXT;
    }
    if (!IsEmailAddress(fieldTexts[EMAIL_FIELD]))
        fieldTexts[EMAIL_FIELD] = EMPTY_TEXT;
    fieldTexts[NOTES_FIELD] = notes;
}
