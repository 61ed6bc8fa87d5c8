// The texts the dialogs compose: the connection outcome with the CP936
// conversion of the device's and the caller's bytes, and the application
// title.
#include <gtest/gtest.h>

#include <windows.h>

#include "ConnectDialog.h"
#include "ResourceModule.h"
#include "TransferDialog.h"
#include "UiTexts.h"
#include "WideText.h"

namespace {

// "测试" in code page 936.
const std::string CP936_TEST_WORD = "\xB2\xE2\xCA\xD4";

TEST(ConnectTexts, SuccessDetailShowsPortRateTypeAndUnsignedFreeSpace)
{
    std::wstring detail = ConnectDialog::SuccessDetail(WideFromCp936("COM2"), 57600, WideFromCp936(CP936_TEST_WORD),
                                                       static_cast<uint16_t>(0xFFFF));
    EXPECT_EQ(detail, L"连接: COM2, 57600bps\r\n服务器类型: 测试\r\n存储系统剩余空间: 65535KB");
}

TEST(TransferTexts, PercentageIsTheNumberAndAPercentSign)
{
    const struct {
        int32_t percent;
        const wchar_t* text;
    } cases[] = {{0, L"0%"}, {5, L"5%"}, {37, L"37%"}, {100, L"100%"}, {INT32_MIN, L"-2147483648%"}};
    for (const auto& c : cases)
        EXPECT_EQ(TransferDialog::PercentText(c.percent), c.text);
}

TEST(WideText, Utf8LiteralsBecomeUtf16WhateverTheCodePage)
{
    EXPECT_EQ(WideFromUtf8(LINE_FAULT_MESSAGE), L"线路故障，请检查线路！");
    EXPECT_EQ(WideFromUtf8(RECORD_REFUSED_MESSAGE), L"此纪录数据传送失败");
    EXPECT_EQ(WideFromUtf8(""), L"");
    EXPECT_EQ(WideFromUtf8(nullptr), L"");
}

TEST(WideText, Cp936BytesAreReadAsCp936)
{
    EXPECT_EQ(WideFromCp936(CP936_TEST_WORD), L"测试");
    EXPECT_EQ(WideFromCp936(""), L"");
    // An embedded NUL is kept: the length, not a terminator, bounds it.
    EXPECT_EQ(WideFromCp936(std::string("A\0B", 3)), std::wstring(L"A\0B", 3));
}

TEST(ApplicationTitle, IsTheModuleFileNameWithoutExtension)
{
    EXPECT_EQ(TitleFromPath(L"C:\\Program Files\\Host\\imex.dll"), L"imex");
    EXPECT_EQ(TitleFromPath(L"Z:\\a.b\\noext"), L"noext");
    EXPECT_EQ(TitleFromPath(L"Z:/unix/style/name.two.dll"), L"name.two");
    EXPECT_EQ(TitleFromPath(L"imex.dll"), L"imex");
    EXPECT_EQ(TitleFromPath(L"C:\\dir\\.hidden"), L".hidden");
}

TEST(ApplicationTitle, ComesFromTheResourceModule)
{
    EXPECT_EQ(ApplicationTitle(), L"ui_dialog_test") << "unset: the program itself";
    SetResourceModule(GetModuleHandleW(nullptr));
    EXPECT_EQ(ResourceModule(), GetModuleHandleW(nullptr));
    EXPECT_EQ(ApplicationTitle(), L"ui_dialog_test");
}

}  // namespace
