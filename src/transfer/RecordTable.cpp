#include "RecordTable.h"

#include <new>

bool RecordTable::Allocate(int32_t count, size_t slotLimit) noexcept
{
    Release();
    if (count < 0 || static_cast<size_t>(count) > slotLimit || static_cast<size_t>(count) > MAX_TABLE_SLOTS)
        return false;
    if (count > 0) {
        slots = new (std::nothrow) RecordSlot[static_cast<size_t>(count)];
        if (slots == nullptr) return false;
    }
    slotCount = count;
    fillCursor = 0;
    readCursor = 0;
    return true;
}

void RecordTable::Release() noexcept
{
    delete[] slots;
    slots = nullptr;
    slotCount = 0;
    fillCursor = 0;
    readCursor = 0;
}
