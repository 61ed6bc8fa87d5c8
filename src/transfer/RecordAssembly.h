// Record assembly: the entries of one block merged into the eleven texts of
// a contact record, and the record payload built from those texts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "RecordFields.h"
#include "RecordTable.h"

// Notes text with its terminating NUL.
constexpr size_t NOTES_SIZE = 512;
constexpr size_t NOTES_TEXT_MAX = NOTES_SIZE - 1;
// Longest counted payload: a slot text in every field but the unused one and
// the notes, the notes, and a NUL after each field.
constexpr int32_t MAX_PAYLOAD_LENGTH =
    static_cast<int32_t>((RECORD_FIELD_COUNT - 2) * SLOT_TEXT_MAX + NOTES_TEXT_MAX + RECORD_FIELD_COUNT);

// The empty text the field texts are reset to.
extern const char EMPTY_TEXT[1];

// Joins the texts (null counts as empty), each with its NUL, plus a closing
// NUL into `buffer`. Gives the counted length, which leaves the closing NUL
// out. Texts that would not fit `capacity` are cut short.
int32_t BuildRecordPayload(const char* const* fieldTexts, uint8_t* buffer, size_t capacity);

// counter * 100 / total, rounded toward zero; 0 when total is 0.
int32_t RecordPercentage(int32_t counter, int32_t total);

// Holds the notes of the block being assembled; the field texts point into
// them until the record has been sent, so one object serves a whole pass.
class RecordAssembler {
public:
    // Takes `blockEntries` slots at the table's readCursor (fewer if the
    // table has fewer left), counts `blockEntries` down to 0 and points
    // `fieldTexts` at the record's texts.
    void AssembleRecord(int32_t& blockEntries, RecordTable& table, const char** fieldTexts);

    const char* Notes() const { return notes; }

private:
    // Appends "label:value\r\n" if the value passes the fit test.
    bool AppendNotesLine(const char* label, const char* value, size_t ownValueLength);

    char notes[NOTES_SIZE] = {};
    size_t notesLength = 0;
};
