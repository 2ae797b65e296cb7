// Reading settings values as integers, and placing word offsets in the text box.
#include <gtest/gtest.h>

#include "app/SpokenTextMap.h"
#include "app/SysUtils.h"
#include "support/Errors.h"
#include "support/StringList.h"

namespace {

struct Case {
    const char* text;
    bool ok;
    int32_t value;
};

TEST(StrToInt, ReadsDecimalAndHexadecimalAsTheSettingsLoaderNeeds) {
    const Case cases[] = {
        {"0", true, 0},
        {"42", true, 42},
        {"   42", true, 42},  // leading blanks skipped
        {"+7", true, 7},
        {"-7", true, -7},
        {"-0", true, 0},
        {"007", true, 7},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, INT32_MIN},
        {"2147483648", false, 0},  // beyond the signed range
        {"-2147483649", false, 0},
        {"99999999999999999999", false, 0},
        {"$FF", true, 255},
        {"$ffffffff", true, -1},  // 32 bits taken as signed
        {"$FFFFFFFF", true, -1},
        {"x10", true, 16},
        {"X1a", true, 26},
        {"0x10", true, 16},
        {"0XfF", true, 255},
        {"  $10", true, 16},
        {"0x80000000", true, INT32_MIN},
        {"$100000000", false, 0},  // more than 32 bits
        {"$", false, 0},           // a prefix alone
        {"0x", false, 0},
        {"x", false, 0},
        {"-$10", false, 0},  // no sign before a prefix
        {"+0x10", false, 0},
        {"$1G", false, 0},
        {"", false, 0},
        {"   ", false, 0},
        {"+", false, 0},
        {"-", false, 0},
        {"12 ", false, 0},  // a trailing blank
        {"1 2", false, 0},
        {"\t5", false, 0},  // only code 32 counts as a blank
        {"abc", false, 0},
        {"1.5", false, 0},
        {"1e3", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("'") + c.text + "'");
        if (c.ok) {
            EXPECT_EQ(c.value, StrToInt(c.text));
        } else {
            try {
                StrToInt(c.text);
                ADD_FAILURE() << "accepted";
            } catch (const EConvertError& e) {
                EXPECT_EQ(std::string("'") + c.text + "' is not a valid integer value",
                          e.Message());
            }
        }
    }
}

TEST(IntToStr, ShortestDecimalForm) {
    EXPECT_EQ("0", IntToStr(0));
    EXPECT_EQ("-5", IntToStr(-5));
    EXPECT_EQ("2147483647", IntToStr(2147483647));
    EXPECT_EQ("-2147483648", IntToStr(INT32_MIN));
}

TStringList& Lines(TStringList& list, std::initializer_list<const char*> lines) {
    list.ClearLines();
    for (const char* l : lines) list.AppendLine(l);
    return list;
}

TEST(SpokenTextMap, WrapPointsAddNoCharacterInTheBox) {
    // The box holds "hello world again\nnext"; the line list wrapped it after "world ".
    TStringList spoken;
    TSpokenTextMap map;
    map.Build(Lines(spoken, {"hello world ", "again", "next"}), "hello world again\nnext");
    EXPECT_EQ(0, map.CharPosition(0));
    EXPECT_EQ(6, map.CharPosition(6));    // "world"
    EXPECT_EQ(12, map.CharPosition(14));  // "again": 2 bytes of CR LF at the wrap point
    EXPECT_EQ(18, map.CharPosition(21));  // "next", after the wrap and a real break
    EXPECT_EQ(17, map.CharPosition(19));  // inside the CR LF: the end of "again"
    EXPECT_EQ(-1, map.CharPosition(27));  // beyond the end
    EXPECT_EQ(27u, map.ByteLength());
}

TEST(SpokenTextMap, MultiByteCharactersCountOnce) {
    TStringList spoken;
    TSpokenTextMap map;
    // "café née" (é is two bytes), then "€ 5" (€ is three).
    map.Build(Lines(spoken, {"caf\xC3\xA9 n\xC3\xA9"
                             "e",
                             "\xE2\x82\xAC 5"}),
              QString::fromUtf8("caf\xC3\xA9 n\xC3\xA9"
                                "e\n\xE2\x82\xAC 5"));
    EXPECT_EQ(5, map.CharPosition(6));    // "née" starts at byte 6, character 5
    EXPECT_EQ(6, map.CharPosition(7));    // its "é"
    EXPECT_EQ(6, map.CharPosition(8));    // the second byte of "é": the character's start
    EXPECT_EQ(7, map.CharPosition(9));    // the final "e"
    EXPECT_EQ(9, map.CharPosition(12));   // "€" on the second line
    EXPECT_EQ(11, map.CharPosition(16));  // "5"
}

TEST(SpokenTextMap, EmptyLines) {
    TStringList spoken;
    TSpokenTextMap map;
    map.Build(Lines(spoken, {"", "", "a"}), "\n\na");
    EXPECT_EQ(0, map.CharPosition(0));
    EXPECT_EQ(1, map.CharPosition(2));
    EXPECT_EQ(2, map.CharPosition(4));
}

TEST(SpokenTextMap, TheTestPhraseKeepsItsOwnOffsets) {
    TStringList spoken;
    TSpokenTextMap map;
    map.BuildStandalone(Lines(spoken, {"1 2 3"}));
    EXPECT_EQ(0, map.CharPosition(0));
    EXPECT_EQ(2, map.CharPosition(2));
    EXPECT_EQ(4, map.CharPosition(4));
    EXPECT_EQ(-1, map.CharPosition(7));
    map.Clear();
    EXPECT_EQ(-1, map.CharPosition(0));
}

TEST(SpokenTextMap, LinesCutShortResynchroniseWithTheBox) {
    // A long paragraph whose first piece reached the line list cut short.
    TStringList spoken;
    TSpokenTextMap map;
    map.Build(Lines(spoken, {"abc", "ghi"}), "abcdef ghi");
    EXPECT_EQ(7, map.CharPosition(5));
}

}  // namespace
