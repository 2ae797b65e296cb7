// Placing the engine's word offsets, bytes of the handed-over text, in the text box.
#include <gtest/gtest.h>

#include <string>

#include "app/SpokenTextMap.h"
#include "support/StringList.h"

namespace {

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

TEST(SpokenTextMap, OffsetsInsideACharacterOrABreakFallBackToItsStart) {
    TStringList spoken;
    TSpokenTextMap map;
    // "x€y" (€ is three bytes), a real break, then "z".
    map.Build(Lines(spoken, {"x\xE2\x82\xAC"
                             "y",
                             "z"}),
              QString::fromUtf8("x\xE2\x82\xAC"
                                "y\nz"));
    EXPECT_EQ(1, map.CharPosition(1));
    EXPECT_EQ(1, map.CharPosition(2));
    EXPECT_EQ(1, map.CharPosition(3));
    EXPECT_EQ(2, map.CharPosition(4));  // "y"
    EXPECT_EQ(3, map.CharPosition(5));  // CR: the end of the line
    EXPECT_EQ(3, map.CharPosition(6));  // LF
    EXPECT_EQ(4, map.CharPosition(7));  // "z"
    EXPECT_EQ(5, map.CharPosition(8));  // the final CR LF
    EXPECT_EQ(-1, map.CharPosition(10));
    EXPECT_EQ(-1, map.CharPosition(UINT32_MAX));
}

TEST(SpokenTextMap, CharactersOfTwoUnitsCountTwice) {
    // The box counts in UTF-16 units: the emoji (four bytes) takes two.
    TStringList spoken;
    TSpokenTextMap map;
    const char* line =
        "a\xF0\x9F\x98\x80"
        "b c";
    map.Build(Lines(spoken, {line, "d"}), QString::fromUtf8(line) + "\nd");
    EXPECT_EQ(1, map.CharPosition(1));
    EXPECT_EQ(1, map.CharPosition(3));   // inside the emoji
    EXPECT_EQ(3, map.CharPosition(5));   // "b"
    EXPECT_EQ(5, map.CharPosition(7));   // "c"
    EXPECT_EQ(7, map.CharPosition(10));  // "d"
    map.BuildStandalone(Lines(spoken, {line}));
    EXPECT_EQ(5, map.CharPosition(7));
}

TEST(SpokenTextMap, LinesCutAtTheLineLimitResynchronise) {
    // The line list gives at most 4096 bytes of a line; a longer paragraph the box did
    // not wrap is spoken cut short, and the next line is found again in the box.
    TStringList spoken;
    TSpokenTextMap map;
    const std::string longLine(5000, 'x');
    map.Build(Lines(spoken, {longLine.substr(0, 4096).c_str(), "next"}),
              QString::fromStdString(longLine) + "\nnext");
    EXPECT_EQ(100, map.CharPosition(100));
    EXPECT_EQ(4095, map.CharPosition(4095));
    EXPECT_EQ(5001, map.CharPosition(4098));
    // The cut may fall inside a character: "a", then "é" two bytes each.
    std::string accents = "a";
    for (int i = 0; i < 2500; ++i) accents += "\xC3\xA9";
    map.Build(Lines(spoken, {accents.substr(0, 4096).c_str(), "next"}),
              QString::fromStdString(accents) + "\nnext");
    EXPECT_EQ(1, map.CharPosition(1));
    EXPECT_EQ(2048, map.CharPosition(4095));  // the cut character's first byte
    EXPECT_EQ(2502, map.CharPosition(4098));
}

TEST(SpokenTextMap, NoBreakSpacesAreOneCharacter) {
    // A no-break space is two bytes; the box may hold it as itself or, in its plain
    // text, as a blank.
    TStringList spoken;
    TSpokenTextMap map;
    const char* line = "prix\xC2\xA0: 5\xC2\xA0\xE2\x82\xAC ok";
    for (const QString& box :
         {QString::fromUtf8(line), QString::fromUtf8(line).replace(QChar(0xA0), ' ')}) {
        map.Build(Lines(spoken, {line, "fin"}), box + "\nfin");
        EXPECT_EQ(5, map.CharPosition(6));    // ":"
        EXPECT_EQ(7, map.CharPosition(8));    // "5"
        EXPECT_EQ(9, map.CharPosition(11));   // "€"
        EXPECT_EQ(11, map.CharPosition(15));  // "ok"
        EXPECT_EQ(14, map.CharPosition(19));  // "fin"
    }
}

}  // namespace
