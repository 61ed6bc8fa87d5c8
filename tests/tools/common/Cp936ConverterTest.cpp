#include "Cp936Converter.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// "张三" in CP936 and in UTF-8.
const std::string ZHANG_SAN_CP936 = "\xD5\xC5\xC8\xFD";
const std::string ZHANG_SAN_UTF8 = "\xE5\xBC\xA0\xE4\xB8\x89";

std::string ToUtf8(const std::string& cp936, Cp936Converter::BadBytes bad, bool* ok = nullptr)
{
    Cp936Converter converter(Cp936Converter::TO_UTF8);
    std::string out;
    bool done = converter.Convert(cp936, out, bad);
    if (ok != nullptr) *ok = done;
    return out;
}

TEST(Cp936Converter, ChineseBothWays)
{
    Cp936Converter from(Cp936Converter::FROM_UTF8);
    ASSERT_TRUE(from.Usable()) << "the system has no CP936 converter";
    std::string cp936;
    ASSERT_TRUE(from.Convert("Li " + ZHANG_SAN_UTF8, cp936, Cp936Converter::FAIL));
    EXPECT_EQ(cp936, "Li " + ZHANG_SAN_CP936);
    EXPECT_EQ(ToUtf8(cp936, Cp936Converter::FAIL), "Li " + ZHANG_SAN_UTF8);
}

TEST(Cp936Converter, LongTextsBeyondOneChunk)
{
    std::string utf8, cp936;
    for (int k = 0; k < 1000; ++k) {
        utf8 += ZHANG_SAN_UTF8;
        cp936 += ZHANG_SAN_CP936;
    }
    std::string out;
    ASSERT_TRUE(Utf8ToCp936(utf8, out));
    EXPECT_EQ(out, cp936);
    EXPECT_EQ(Cp936ToUtf8(cp936), utf8);
}

TEST(Cp936Converter, UndecodableBytesAsEachCallerWants)
{
    // 0xFF is no CP936 byte; 0xD5 at the end is a character cut off.
    const std::string bad = "a\xFF" + ZHANG_SAN_CP936 + "\xD5";
    bool ok = true;
    EXPECT_EQ(ToUtf8(bad, Cp936Converter::ESCAPE, &ok), "a\\xFF" + ZHANG_SAN_UTF8 + "\\xD5");
    EXPECT_TRUE(ok);
    EXPECT_EQ(ToUtf8(bad, Cp936Converter::REPLACE, &ok), "a\xEF\xBF\xBD" + ZHANG_SAN_UTF8 + "\xEF\xBF\xBD");
    EXPECT_TRUE(ok);
    EXPECT_EQ(ToUtf8(bad, Cp936Converter::FAIL, &ok), "a") << "what came before the bad byte";
    EXPECT_FALSE(ok);
    EXPECT_EQ(Cp936ToUtf8(bad), ToUtf8(bad, Cp936Converter::REPLACE));
}

TEST(Cp936Converter, Utf8ThatCp936CannotHold)
{
    std::string out;
    EXPECT_FALSE(Utf8ToCp936("a\xF0\x9F\x98\x80", out)) << "an emoji";
    EXPECT_EQ(out, "a");
    EXPECT_FALSE(Utf8ToCp936("\xC3", out)) << "cut-off UTF-8";
    EXPECT_TRUE(Utf8ToCp936("", out));
    EXPECT_TRUE(out.empty());
}

TEST(Cp936Converter, EachTextStartsAfresh)
{
    // A converter kept for many texts: a text cut off in the middle of a
    // character must not spill into the next one.
    Cp936Converter converter(Cp936Converter::TO_UTF8);
    std::string out;
    EXPECT_FALSE(converter.Convert("x\xD5", out, Cp936Converter::FAIL));
    ASSERT_TRUE(converter.Convert("y" + ZHANG_SAN_CP936, out, Cp936Converter::FAIL));
    EXPECT_EQ(out, "y" + ZHANG_SAN_UTF8) << "out is replaced, not appended to";
    EXPECT_TRUE(converter.Convert("\xFFz", out, Cp936Converter::ESCAPE));
    ASSERT_TRUE(converter.Convert(ZHANG_SAN_CP936, out, Cp936Converter::FAIL));
    EXPECT_EQ(out, ZHANG_SAN_UTF8);
}

TEST(Utf8CharacterLength, WholeCharactersAndBrokenOnes)
{
    const std::string text = "a\xC3\xA9\xE4\xB8\xAD\xF0\xA0\x80\x80";  // a, é, 中, U+20000
    EXPECT_EQ(Utf8CharacterLength(text, 0), 1u);
    EXPECT_EQ(Utf8CharacterLength(text, 1), 2u);
    EXPECT_EQ(Utf8CharacterLength(text, 3), 3u);
    EXPECT_EQ(Utf8CharacterLength(text, 6), 4u);
    // Folding and per-character conversion must never run past the text or
    // swallow the next character when a sequence is cut short.
    EXPECT_EQ(Utf8CharacterLength("\xE4\xB8", 0), 2u) << "cut off by the end";
    EXPECT_EQ(Utf8CharacterLength("\xE4"
                                  "a",
                                  0),
              1u)
        << "cut off by a plain byte";
    EXPECT_EQ(Utf8CharacterLength("\x80"
                                  "a",
                                  0),
              1u)
        << "a stray continuation byte";
}

}  // namespace
