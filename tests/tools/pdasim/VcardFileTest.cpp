// The vCard file pdasim keeps of its store: rewritten whole after every
// record, and what a failure to write it leaves.
#include "VcardExport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Cp936Converter.h"
#include "VcardLines.h"

namespace {

namespace fs = std::filesystem;

class VcardFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vcard-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        path = dir + "/device.vcf";
    }
    void TearDown() override
    {
        if (!dir.empty()) fs::remove_all(dir);
    }

    std::string Contents() const
    {
        std::ifstream in(path, std::ios::binary);
        EXPECT_TRUE(in) << "no file at " << path;
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::vector<std::string> DirectoryEntries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
        return names;
    }

    // Record data as the device receives it: the texts in CP936, each with its NUL, then one more.
    static std::vector<uint8_t> RecordData(const RecordTexts& utf8)
    {
        std::vector<uint8_t> data;
        for (const std::string& text : utf8) {
            std::string cp936;
            EXPECT_TRUE(Utf8ToCp936(text, cp936)) << text;
            data.insert(data.end(), cp936.begin(), cp936.end());
            data.push_back(0);
        }
        data.push_back(0);
        return data;
    }

    VcardExport Export()
    {
        return VcardExport(path, [this](const std::string& text) { reports.push_back(text); });
    }

    std::string dir;
    std::string path;
    std::vector<std::string> reports;
};

TEST_F(VcardFile, AnEmptyStoreIsAnEmptyFileThatReplacesAnOlderOne)
{
    std::ofstream(path) << "BEGIN:VCARD\r\nstale\r\n";
    VcardExport vcard = Export();
    EXPECT_TRUE(vcard.Write());
    EXPECT_EQ(Contents(), "");
    EXPECT_EQ(vcard.cardCount(), 0u);
    EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{"device.vcf"}) << "a temporary file was left";
    EXPECT_TRUE(reports.empty());
}

TEST_F(VcardFile, EachStoredRecordRewritesTheFileWithAllCardsInOrder)
{
    const RecordTexts first = Fields({{0, "张三"}, {5, "13800138000"}, {10, "备注:x\r\n"}});
    const RecordTexts second = Fields({{0, "Li"}, {7, "123"}});
    VcardExport vcard = Export();
    ASSERT_TRUE(vcard.Write());

    std::vector<uint8_t> data = RecordData(first);
    EXPECT_TRUE(vcard.AddRecord(data.data(), data.size()));
    EXPECT_EQ(Contents(), RecordVcard(first));
    data = RecordData(second);
    EXPECT_TRUE(vcard.AddRecord(data.data(), data.size()));
    EXPECT_EQ(Contents(), RecordVcard(first) + RecordVcard(second));
    EXPECT_EQ(vcard.cardCount(), 2u);
    EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{"device.vcf"});
    EXPECT_TRUE(reports.empty());
}

TEST_F(VcardFile, UndecodableBytesBecomeReplacementCharacters)
{
    // 0xFF starts no CP936 character; D5 C5 is 张.
    const uint8_t data[] = {0xD5, 0xC5, 0xFF, 0x41, 0x00, 0x00, 0x00, 0x00,
                            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    VcardExport vcard = Export();
    ASSERT_TRUE(vcard.AddRecord(data, sizeof data));
    EXPECT_EQ(Value(Contents(), "FN"),
              "张\xEF\xBF\xBD"
              "A");
}

TEST_F(VcardFile, AFailureIsReportedOnceAndALaterWriteHasEveryCard)
{
    path = dir + "/missing/device.vcf";
    VcardExport vcard = Export();
    EXPECT_FALSE(vcard.Write());
    EXPECT_FALSE(vcard.AddFields(Fields({{0, "one"}})));
    EXPECT_FALSE(vcard.AddFields(Fields({{0, "two"}})));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find(path), std::string::npos) << reports[0];
    EXPECT_NE(reports[0].find(std::strerror(ENOENT)), std::string::npos) << reports[0];

    fs::create_directory(dir + "/missing");
    EXPECT_TRUE(vcard.AddFields(Fields({{0, "three"}})));
    EXPECT_EQ(Contents(), RecordVcard(Fields({{0, "one"}})) + RecordVcard(Fields({{0, "two"}})) +
                              RecordVcard(Fields({{0, "three"}})));
    EXPECT_EQ(reports.size(), 1u);
}

TEST_F(VcardFile, ARenameThatFailsLeavesNoTemporaryFile)
{
    // A directory where the file should be: the temporary file is written, the rename is refused.
    fs::create_directory(path);
    VcardExport vcard = Export();
    EXPECT_FALSE(vcard.AddFields(Fields({{0, "one"}})));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find(std::strerror(EISDIR)), std::string::npos) << reports[0];
    EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{"device.vcf"});
}

}  // namespace
