#include <gtest/gtest.h>

#include "audio/utf8_text.h"

namespace kestrune {
namespace {

struct Utf8Case {
    std::string text;
    bool valid;
    std::string repaired;
};

class Utf8ValidityTest : public testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8ValidityTest, ValidTextIsKeptAndBadBytesReplaced) {
    EXPECT_EQ(IsValidUtf8(GetParam().text), GetParam().valid);
    EXPECT_EQ(RepairUtf8(GetParam().text), GetParam().repaired);
    EXPECT_TRUE(IsValidUtf8(RepairUtf8(GetParam().text)));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Utf8ValidityTest,
    testing::Values(Utf8Case{"", true, ""}, Utf8Case{"plain.mp3", true, "plain.mp3"},
                    Utf8Case{"Ünïcode ΣΩ 日本 \xF0\x9F\x8E\xB5", true,
                             "Ünïcode ΣΩ 日本 \xF0\x9F\x8E\xB5"},
                    Utf8Case{"a\xFF"
                             "b",
                             false, "a\uFFFDb"},
                    Utf8Case{"\xC3", false, "\uFFFD"},                      // cut short
                    Utf8Case{"\xC0\xAF", false, "\uFFFD\uFFFD"},            // overlong "/"
                    Utf8Case{"\xED\xA0\x80", false, "\uFFFD\uFFFD\uFFFD"},  // a surrogate
                    Utf8Case{"\xF4\x90\x80\x80", false, "\uFFFD\uFFFD\uFFFD\uFFFD"}),
    [](const testing::TestParamInfo<Utf8Case>& test) {
        return std::string(test.param.valid ? "Valid" : "Invalid") + "_case" +
               std::to_string(test.index);
    });

TEST(LowerUtf8, LettersWithALowerCaseForm) {
    EXPECT_EQ(LowerUtf8("MP3 Wav"), "mp3 wav");
    EXPECT_EQ(LowerUtf8("ÀÉÎÕÜ×ÞŸ"), "àéîõü×þÿ");
    EXPECT_EQ(LowerUtf8("ĀĹŁŊŽ"), "āĺłŋž");
    EXPECT_EQ(LowerUtf8("ΑΣΩ ЀЁЯ"), "ασω ѐёя");
    EXPECT_EQ(LowerUtf8("日本 123 ä"), "日本 123 ä");
    EXPECT_EQ(LowerUtf8(std::string("X\xFFY", 3)), std::string("x\xFFy", 3));
}

}  // namespace
}  // namespace kestrune
