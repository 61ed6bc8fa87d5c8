#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "RecordAssembly.h"
#include "RecordFileBuilder.h"
#include "TransferHost.h"

namespace {

const std::string TITLE_PREFIX = "\xB3\xC6\xCE\xBD:";
const std::string ZHANG = "\xD5\xC5";  // a CP936 character

// Two notes lines that fill the notes to exactly 500 bytes:
// ":" + 250 + CRLF = 253, then "AB:" + 242 + CRLF = 247.
std::vector<TestEntry> FiveHundredBytesOfNotes()
{
    return {{"80", "", std::string(250, 'n')}, {"80", "AB", std::string(242, 'm')}};
}

std::vector<TestEntry> Join(std::vector<TestEntry> first, const std::vector<TestEntry>& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// Assembles one block given as entries; keeps the table and the notes alive
// while the field texts are looked at.
class Assembly {
public:
    explicit Assembly(const std::vector<TestEntry>& entries)
    {
        EXPECT_TRUE(table.Allocate(static_cast<int32_t>(entries.size())));
        for (const TestEntry& entry : entries) {
            RecordSlot& slot = table.Slots()[table.fillCursor++];
            Copy(slot.fieldCode, entry.fieldCode);
            Copy(slot.label, entry.label);
            Copy(slot.value, entry.value);
        }
        int32_t blockEntries = static_cast<int32_t>(entries.size());
        assembler.AssembleRecord(blockEntries, table, texts);
        EXPECT_EQ(blockEntries, 0);
        EXPECT_EQ(table.readCursor, static_cast<int32_t>(entries.size()));
    }
    std::string Field(int index) const { return texts[index]; }
    std::vector<uint8_t> Payload(int32_t& length) const
    {
        std::vector<uint8_t> buffer(RECORD_BUFFER_SIZE, 0xEE);
        length = BuildRecordPayload(texts, buffer.data(), buffer.size());
        buffer.resize(static_cast<size_t>(length) + 1);
        return buffer;
    }

private:
    static void Copy(char* field, const std::string& text)
    {
        ASSERT_LT(text.size(), SLOT_FIELD_SIZE);
        std::memcpy(field, text.c_str(), text.size() + 1);
    }
    RecordTable table;
    RecordAssembler assembler;
    const char* texts[RECORD_FIELD_COUNT] = {};
};

TEST(RecordPayload, EmptyBlockGivesTwelveNulsCountedAsEleven)
{
    Assembly block({});
    int32_t length = 0;
    std::vector<uint8_t> payload = block.Payload(length);
    EXPECT_EQ(length, 11);
    EXPECT_EQ(payload, std::vector<uint8_t>(12, 0));
}

TEST(RecordPayload, ExampleBlockGivesSeventeenBytes)
{
    Assembly block({{"00", "", "Li"}, {"12", "Tel", "123"}});
    EXPECT_EQ(block.Field(0), "Li");
    EXPECT_EQ(block.Field(7), "123");
    int32_t length = 0;
    std::vector<uint8_t> payload = block.Payload(length);
    EXPECT_EQ(length, 16);
    const std::vector<uint8_t> expected = {0x4C, 0x69, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                           0x31, 0x32, 0x33, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(payload, expected);
}

TEST(RecordPayload, EveryCodeLandsInItsField)
{
    Assembly block({{"00", "n", "name"},
                    {"15", "c", "company"},
                    {"16", "d", "dept"},
                    {"13", "p", "13x"},
                    {"10", "p", "10x"},
                    {"11", "p", "11x"},
                    {"12", "p", "12x"},
                    {"61", "e", "a@b.c"},
                    {"60", "a", "addr"},
                    {"80", "Note", "hi"}});
    const std::vector<std::string> expected = {"name", "",    "company", "dept", "13x",        "10x",
                                               "11x",  "12x", "a@b.c",   "addr", "Note:hi\r\n"};
    for (int field = 0; field < RECORD_FIELD_COUNT; ++field)
        EXPECT_EQ(block.Field(field), expected[field]) << field;
}

TEST(RecordPayload, LongestRecordStaysWithinItsBound)
{
    const std::string longText(255, 'x');
    std::vector<TestEntry> entries;
    for (const char* code : {"00", "15", "16", "13", "10", "11", "12", "60"})
        entries.push_back({code, "", longText});
    entries.push_back({"61", "", std::string(250, 'a') + "@b.cd"});
    for (int i = 0; i < 20; ++i)
        entries.push_back({"80", "", std::string(20, 'n')});
    Assembly block(entries);
    int32_t length = 0;
    block.Payload(length);
    EXPECT_LE(length, MAX_PAYLOAD_LENGTH);
    EXPECT_EQ(MAX_PAYLOAD_LENGTH, 2817);
    EXPECT_EQ(block.Field(8).size(), 255u);
}

TEST(RecordPayload, CapacityIsNeverExceeded)
{
    const char* texts[RECORD_FIELD_COUNT] = {"abcdef", "ghij", nullptr};
    uint8_t buffer[9];
    std::memset(buffer, 0xEE, sizeof buffer);
    int32_t length = BuildRecordPayload(texts, buffer, 8);
    EXPECT_LE(length, 7);
    EXPECT_EQ(buffer[length], 0);
    EXPECT_EQ(buffer[8], 0xEE);
}

TEST(RecordNotes, TitleLineFollowsTheNotes)
{
    Assembly onlyTitle({{"01", "x", "Mr"}});
    EXPECT_EQ(onlyTitle.Field(1), "");
    EXPECT_EQ(onlyTitle.Field(10), TITLE_PREFIX + "Mr\r\n");

    Assembly emptyTitle({{"01", "x", ""}});
    EXPECT_EQ(emptyTitle.Field(10), TITLE_PREFIX + "\r\n");

    Assembly afterNotes({{"01", "t", "Dr"}, {"80", "Memo", "m"}});
    EXPECT_EQ(afterNotes.Field(10), "Memo:m\r\n" + TITLE_PREFIX + "Dr\r\n");
}

TEST(RecordNotes, TitleLineIsLeftOutWhenItDoesNotFit)
{
    // 500 bytes of notes; "称谓:" + 8 + CRLF = 15 bytes would make 515.
    Assembly block(Join(FiveHundredBytesOfNotes(), {{"01", "", "12345678"}}));
    EXPECT_EQ(block.Field(10).size(), 500u);
    Assembly fits(Join(FiveHundredBytesOfNotes(), {{"01", "", "1234"}}));
    EXPECT_EQ(fits.Field(10).size(), 511u);
}

TEST(RecordRules, NonAsciiValueDisplacesThePreferredOne)
{
    Assembly block({{"00", "First", ""}, {"00", "Second", ZHANG}});
    EXPECT_EQ(block.Field(0), ZHANG);
    EXPECT_EQ(block.Field(10), "Second:\r\n");
}

TEST(RecordRules, AsciiValueNeverDisplaces)
{
    Assembly block({{"10", "Home", ZHANG}, {"10", "Work", "555"}});
    EXPECT_EQ(block.Field(5), ZHANG);
    EXPECT_EQ(block.Field(10), "Work:555\r\n");
}

TEST(RecordRules, FirstWinsSendsLaterValuesToTheNotes)
{
    Assembly block({{"15", "Co", "Acme"}, {"15", "Co2", ZHANG}});
    EXPECT_EQ(block.Field(2), "Acme");
    EXPECT_EQ(block.Field(10), "Co2:" + ZHANG + "\r\n");
}

TEST(RecordRules, UnfedCodesOnlyMarkTheirFirstValue)
{
    Assembly block({{"14", "a", "first"}, {"14", "b", "second"}, {"50", "c", "x"}, {"51", "d", "y"}});
    EXPECT_EQ(block.Field(10), "b:second\r\n");
    for (int field = 0; field < 10; ++field)
        EXPECT_EQ(block.Field(field), "") << field;
}

TEST(RecordRules, CodesMatchOnlyExactly)
{
    Assembly block({{"0", "", "a"}, {"000", "", "b"}, {"00 ", "", "c"}, {"99", "", "d"}, {"00", "", "e"}});
    EXPECT_EQ(block.Field(0), "e");
    EXPECT_EQ(block.Field(10), "");
}

TEST(RecordRules, NotesOnlyKeepsEveryOccurrenceInOrder)
{
    Assembly block({{"80", "A", "1"}, {"80", "B", "2"}, {"12", "T", "9"}, {"12", "U", "8"}});
    EXPECT_EQ(block.Field(10), "A:1\r\nB:2\r\nU:8\r\n");
}

TEST(RecordFitTest, OwnValueLengthAndLineLengthBothDecide)
{
    Assembly nineBytes(Join(FiveHundredBytesOfNotes(), {{"80", "", "123456789"}}));
    EXPECT_EQ(nineBytes.Field(10).size(), 500u);
    Assembly eightEmptyLabel(Join(FiveHundredBytesOfNotes(), {{"80", "", "12345678"}}));
    EXPECT_EQ(eightEmptyLabel.Field(10).size(), 511u);
    EXPECT_EQ(eightEmptyLabel.Field(10).substr(500), ":12345678\r\n");
    Assembly eightWithLabel(Join(FiveHundredBytesOfNotes(), {{"80", "L", "12345678"}}));
    EXPECT_EQ(eightWithLabel.Field(10).size(), 500u);
}

TEST(RecordFitTest, DisplacementMeasuresTheNewValueButWritesTheOld)
{
    // The slot's old value is long; the new value is short, so the first
    // condition passes but the line with the old value does not fit.
    Assembly block(Join(FiveHundredBytesOfNotes(), {{"00", "", std::string(20, 'o')}, {"00", "", ZHANG}}));
    EXPECT_EQ(block.Field(0), std::string(20, 'o'));
    EXPECT_EQ(block.Field(10).size(), 500u);
}

TEST(RecordEmail, AddressesAreCheckedBeforeTheyAreSent)
{
    EXPECT_TRUE(IsEmailAddress("a@b.c"));
    EXPECT_TRUE(IsEmailAddress("a.@bc"));
    EXPECT_TRUE(IsEmailAddress("ab@cd"));
    EXPECT_FALSE(IsEmailAddress("a@bc"));
    EXPECT_FALSE(IsEmailAddress("a@bc."));
    EXPECT_FALSE(IsEmailAddress(".a@bc"));
    EXPECT_FALSE(IsEmailAddress("a@.bc"));
    EXPECT_FALSE(IsEmailAddress("@abcd"));
    EXPECT_FALSE(IsEmailAddress("abcd@"));
    EXPECT_FALSE(IsEmailAddress("a@b@c"));
    EXPECT_FALSE(IsEmailAddress("abcde"));
    EXPECT_FALSE(IsEmailAddress(("a@b.c" + ZHANG).c_str()));

    Assembly rejected({{"61", "Mail", "a@bc."}, {"61", "Mail2", "x@y.z"}});
    EXPECT_EQ(rejected.Field(8), "");
    EXPECT_EQ(rejected.Field(10), "Mail2:x@y.z\r\n");
    Assembly accepted({{"61", "Mail", "a@b.c"}});
    EXPECT_EQ(accepted.Field(8), "a@b.c");
}

TEST(RecordText, AsciiTest)
{
    EXPECT_TRUE(IsAsciiText(""));
    EXPECT_TRUE(IsAsciiText("\x7F abc"));
    EXPECT_FALSE(IsAsciiText("abc\x80"));
}

TEST(RecordAssembly, NeverTakesMoreEntriesThanTheTableHolds)
{
    RecordTable table;
    ASSERT_TRUE(table.Allocate(1));
    std::strcpy(table.Slots()[0].fieldCode, "00");
    std::strcpy(table.Slots()[0].label, "");
    std::strcpy(table.Slots()[0].value, "Li");
    RecordAssembler assembler;
    const char* texts[RECORD_FIELD_COUNT];
    int32_t blockEntries = 5;
    assembler.AssembleRecord(blockEntries, table, texts);
    EXPECT_EQ(table.readCursor, 1);
    EXPECT_EQ(blockEntries, 0);
    EXPECT_STREQ(texts[0], "Li");
    blockEntries = -3;
    assembler.AssembleRecord(blockEntries, table, texts);
    EXPECT_EQ(table.readCursor, 1);
    EXPECT_STREQ(texts[0], "");
}

}  // namespace
