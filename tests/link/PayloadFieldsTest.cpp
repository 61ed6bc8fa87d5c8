// The field names' table against the record assembly: a code's first value
// must land in the field the table names for it.
#include "PayloadFields.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "RecordAssembly.h"
#include "RecordTable.h"

namespace {

static_assert(PAYLOAD_FIELD_COUNT == RECORD_FIELD_COUNT, "the table covers every field the assembly fills");

// Every code the assembly knows.
const char* const CODES[] = {"00", "01", "10", "11", "12", "13", "14", "15", "16", "50", "51", "60", "61", "80"};
constexpr size_t NOTES_FIELD = RECORD_FIELD_COUNT - 1;

struct Assembled {
    std::string fields[RECORD_FIELD_COUNT];
};

// One block with a single entry.
Assembled AssembleOne(const char* code, const char* value)
{
    RecordTable table;
    EXPECT_TRUE(table.Allocate(1));
    RecordSlot& slot = table.Slots()[0];
    std::strcpy(slot.fieldCode, code);
    std::strcpy(slot.label, "L");
    std::strcpy(slot.value, value);
    table.fillCursor = 1;
    RecordAssembler assembler;
    const char* texts[PAYLOAD_FIELD_COUNT];
    int32_t entries = 1;
    assembler.AssembleRecord(entries, table, texts);
    Assembled out;
    for (size_t k = 0; k < RECORD_FIELD_COUNT; ++k)
        out.fields[k] = texts[k];
    return out;
}

TEST(PayloadFields, EachCodeFeedsTheFieldItIsNamedFor)
{
    for (size_t field = 0; field < RECORD_FIELD_COUNT; ++field) {
        const PayloadField& info = PAYLOAD_FIELDS[field];
        if (*info.code == '\0')
            continue;
        const char* value = "a@b.cn";  // passes the e-mail test, so it reaches every field
        Assembled a = AssembleOne(info.code, value);
        for (size_t k = 0; k < RECORD_FIELD_COUNT; ++k) {
            if (k == field) {
                EXPECT_EQ(a.fields[k], value) << "code " << info.code << " should fill field " << field;
            } else if (k != NOTES_FIELD) {
                EXPECT_EQ(a.fields[k], "") << "code " << info.code << " also filled field " << k;
            }
        }
    }
}

TEST(PayloadFields, CheckedFieldsTakeOnlyAnEmailAddress)
{
    for (size_t field = 0; field < RECORD_FIELD_COUNT; ++field) {
        const PayloadField& info = PAYLOAD_FIELDS[field];
        if (*info.code == '\0')
            continue;
        Assembled a = AssembleOne(info.code, "not an address");
        if (info.checked)
            EXPECT_EQ(a.fields[field], "") << "field " << field << " took a value that fails the test";
        else
            EXPECT_EQ(a.fields[field], "not an address") << "field " << field << " is checked, the table says not";
    }
}

TEST(PayloadFields, FieldsWithoutACodeTakeNoCodesValue)
{
    for (const char* code : CODES) {
        const std::string value = "a@b.cn";  // passes every field's test
        Assembled a = AssembleOne(code, value.c_str());
        for (size_t field = 0; field < RECORD_FIELD_COUNT; ++field) {
            if (*PAYLOAD_FIELDS[field].code == '\0') {
                EXPECT_NE(a.fields[field], value) << "code " << code << " fills field " << field;
            }
        }
        // A code the table gives no field is one the payload has no place for.
        bool named = false;
        for (const PayloadField& info : PAYLOAD_FIELDS)
            named = named || std::strcmp(info.code, code) == 0;
        bool placed = false;
        for (size_t field = 0; field < RECORD_FIELD_COUNT; ++field)
            placed = placed || a.fields[field] == value;
        EXPECT_EQ(named, placed) << "code " << code;
    }
}

TEST(PayloadFields, LabelsNameTheCodeWhereThereIsOne)
{
    // As the record dump shows them.
    EXPECT_EQ(PayloadFieldLabel(0), "name (00)");
    EXPECT_EQ(PayloadFieldLabel(8), "e-mail (61)");
    EXPECT_EQ(PayloadFieldLabel(1), "(always empty)");
    EXPECT_EQ(PayloadFieldLabel(NOTES_FIELD), "notes");
}

}  // namespace
