// The record table: every entry of the record file, in file order, one slot
// each, in one allocation that lives for one transfer.
#pragma once

#include <cstddef>
#include <cstdint>

// Width of each text field of a slot, its terminating NUL included.
constexpr size_t SLOT_FIELD_SIZE = 256;
// Longest text a slot field holds.
constexpr size_t SLOT_TEXT_MAX = SLOT_FIELD_SIZE - 1;

struct RecordSlot {
    char fieldCode[SLOT_FIELD_SIZE];
    char label[SLOT_FIELD_SIZE];
    char value[SLOT_FIELD_SIZE];
};

// The most slots a table can ever have: beyond this the byte size of the
// allocation would not fit a size_t (a real limit on 32-bit Windows).
constexpr size_t MAX_TABLE_SLOTS = SIZE_MAX / sizeof(RecordSlot);

class RecordTable {
public:
    RecordTable() = default;
    ~RecordTable() { Release(); }
    RecordTable(const RecordTable&) = delete;
    RecordTable& operator=(const RecordTable&) = delete;

    // Makes room for exactly `slotCount` slots in one piece and puts both
    // cursors on the first one. False when the memory cannot be had or
    // `slotCount` exceeds `slotLimit`; never throws. Zero slots is valid.
    bool Allocate(int32_t slotCount, size_t slotLimit = MAX_TABLE_SLOTS) noexcept;
    void Release() noexcept;

    RecordSlot* Slots() { return slots; }

    // Slots not yet filled / not yet consumed.
    int32_t FillRoom() const { return slotCount - fillCursor; }
    int32_t ReadRoom() const { return slotCount - readCursor; }

    // Indexes of the next slot to fill and of the next slot to consume.
    int32_t fillCursor = 0;
    int32_t readCursor = 0;

private:
    RecordSlot* slots = nullptr;
    int32_t slotCount = 0;
};
