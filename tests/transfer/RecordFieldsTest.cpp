// The record's one field table against the record assembly that works from
// it, and the payload read back into its fields.
#include "RecordFields.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "RecordAssembly.h"
#include "RecordTable.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Fields = std::array<std::string, RECORD_FIELD_COUNT>;

// The eleven texts of a block holding the single entry `code` "L" `value`.
Fields AssembleOne(const char* code, const char* value)
{
    RecordTable table;
    EXPECT_TRUE(table.Allocate(1));
    RecordSlot& slot = table.Slots()[0];
    std::strcpy(slot.fieldCode, code);
    std::strcpy(slot.label, "L");
    std::strcpy(slot.value, value);
    table.fillCursor = 1;
    RecordAssembler assembler;
    const char* texts[RECORD_FIELD_COUNT];
    int32_t entries = 1;
    assembler.AssembleRecord(entries, table, texts);
    Fields out;
    for (size_t k = 0; k < RECORD_FIELD_COUNT; ++k)
        out[k] = texts[k];
    return out;
}

TEST(RecordFieldTable, EachCodeFillsTheFieldItNamesAndNoOther)
{
    for (size_t k = 0; k < FIELD_CODE_COUNT; ++k) {
        const FieldCode& code = FIELD_CODES[k];
        EXPECT_EQ(FindFieldCode(code.code), static_cast<int>(k));
        const char* value = "a@b.cn";  // passes the e-mail test, so it may reach every field
        Fields want;
        if (code.field != NO_FIELD)
            want[code.field] = value;
        else if (k == TITLE_CODE)
            want[FIELD_NOTES] = std::string(code.label) + ":" + value + "\r\n";
        else if (code.rule == CodeRule::NOTES_ONLY)
            want[FIELD_NOTES] = std::string("L:") + value + "\r\n";
        EXPECT_EQ(AssembleOne(code.code, value), want) << "code " << code.code;
        if (code.field != NO_FIELD) {
            EXPECT_EQ(CodeOfField(code.field), &code);
        }
    }
    EXPECT_EQ(FindFieldCode("02"), -1);
    EXPECT_EQ(AssembleOne("02", "x"), Fields{}) << "an unknown code is passed over";
    EXPECT_EQ(CodeOfField(FIELD_UNUSED), nullptr);
    EXPECT_EQ(CodeOfField(FIELD_NOTES), nullptr);
}

TEST(RecordFieldTable, OnlyTheEmailFieldTestsItsValue)
{
    for (const FieldCode& code : FIELD_CODES) {
        if (code.field == NO_FIELD) continue;
        const std::string want = code.field == FIELD_EMAIL ? "" : "not an address";
        EXPECT_EQ(AssembleOne(code.code, "not an address")[code.field], want) << "code " << code.code;
    }
}

using Fields = std::array<std::string, RECORD_FIELD_COUNT>;

Fields Split(const Bytes& data)
{
    return SplitRecordPayload(data.data(), data.size());
}

TEST(RecordPayloadSplit, ExamplePayloadSplitsIntoNameAndPhone)
{
    // Field 0 "Li", field 7 "123"; the counted length leaves the closing NUL out.
    const Bytes data = {0x4C, 0x69, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x31, 0x32, 0x33, 0x00, 0x00, 0x00, 0x00};
    Fields want;
    want[0] = "Li";
    want[7] = "123";
    EXPECT_EQ(Split(data), want);
    Bytes withClosingNul = data;
    withClosingNul.push_back(0);
    EXPECT_EQ(Split(withClosingNul), want) << "the closing NUL is no twelfth field";
}

TEST(RecordPayloadSplit, EveryFieldInItsPlace)
{
    Bytes data;
    Fields want;
    for (size_t k = 0; k < RECORD_FIELD_COUNT; ++k) {
        want[k] = "f" + std::to_string(k);
        data.insert(data.end(), want[k].begin(), want[k].end());
        data.push_back(0);
    }
    EXPECT_EQ(Split(data), want);
    // Texts beyond the eleventh are not fields.
    const std::string extra = "twelve";
    data.insert(data.end(), extra.begin(), extra.end());
    data.push_back(0);
    EXPECT_EQ(Split(data), want);
}

TEST(RecordPayloadSplit, ShortDataGivesEmptyFieldsAndAnUnendedLastText)
{
    EXPECT_EQ(Split({}), Fields{});
    Fields want;
    want[0] = "a";
    want[1] = "bc";
    EXPECT_EQ(Split({'a', 0, 'b', 'c'}), want) << "a last text without NUL is read to the end";
    Fields oneEmpty;
    EXPECT_EQ(Split({0}), oneEmpty);
    // Bytes are taken as they are: CP936, control bytes and all.
    Fields raw;
    raw[0] = "\xD5\xC5\r\n";
    EXPECT_EQ(Split({0xD5, 0xC5, '\r', '\n', 0}), raw);
}

}  // namespace
