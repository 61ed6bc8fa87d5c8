// The dialogs' text formatting, natively: conversions in order, what
// happens to missing arguments and unknown conversions, and numbers at
// their limits.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "TextFormat.h"

namespace {

TEST(TextFormat, ReplacesConversionsInOrder) {
    EXPECT_EQ(FormatText(L"%s=%d", {std::wstring(L"a"), 42}), L"a=42");
    EXPECT_EQ(FormatText(L"%d%%", {37}), L"37%");
    EXPECT_EQ(FormatText(L"%d%%", {0}), L"0%");
    EXPECT_EQ(FormatText(L"%d%%", {100}), L"100%");
    EXPECT_EQ(FormatText(L"%d", {-5}), L"-5");
}

TEST(TextFormat, MissingArgumentsAndUnknownConversions) {
    EXPECT_EQ(FormatText(L"[%s][%d]", {}), L"[][]");
    EXPECT_EQ(FormatText(L"%x %", {1}), L"%x %");
    EXPECT_EQ(FormatText(L"no conversions", {1}), L"no conversions");
    // Arguments beyond the conversions are not shown.
    EXPECT_EQ(FormatText(L"%d", {1, 2}), L"1");
}

TEST(TextFormat, NumbersKeepTheirTypeAndTextsStayWhole) {
    // The free space is an unsigned 16-bit count: 0xFFFF is 65535, not -1.
    EXPECT_EQ(FormatText(L"%dKB", {static_cast<uint16_t>(0xFFFF)}), L"65535KB");
    EXPECT_EQ(FormatText(L"%d", {static_cast<uint32_t>(4000000000u)}), L"4000000000");
    EXPECT_EQ(FormatText(L"%d", {INT32_MIN}), L"-2147483648");
    // A text holding a conversion is not formatted again.
    EXPECT_EQ(FormatText(L"%s|%d", {std::wstring(L"%d%%"), 7}), L"%d%%|7");
    EXPECT_EQ(FormatText(L"%s", {static_cast<const wchar_t*>(nullptr)}), L"");
}

}  // namespace
