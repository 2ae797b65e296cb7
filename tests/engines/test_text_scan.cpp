// Text preparation and inline tags: what reaches a synthesiser and how offsets are
// kept true.
#include <gtest/gtest.h>

#include <cctype>

#include "platform/voices/InlineTag.h"
#include "platform/voices/TextScan.h"
#include "platform/voices/Visemes.h"

TEST(TextScan, ControlCharactersBecomeBlanksKeepingOffsets) {
    std::string text =
        "\x01"
        "0A hi\tthere\r\n\x1b[1m\x7f";
    const size_t size = text.size();
    SanitiseText(text);
    EXPECT_EQ(text, " 0A hi\tthere\r\n [1m ");
    EXPECT_EQ(text.size(), size);
}

TEST(TextScan, WordStartsAreRunsOfNonBlanks) {
    const std::string text = "  well-known  caf\xC3\xA9\r\nx";
    EXPECT_EQ(WordStarts(text, {0, text.size()}), (std::vector<uint32_t>{2, 14, 21}));
    EXPECT_EQ(WordStarts(text, {3, 16}), (std::vector<uint32_t>{14}));
    const std::vector<uint32_t> starts{2, 14, 21};
    EXPECT_EQ(WordStartAtOrBefore(starts, 0), 2u);
    EXPECT_EQ(WordStartAtOrBefore(starts, 9), 2u);
    EXPECT_EQ(WordStartAtOrBefore(starts, 14), 14u);
    EXPECT_EQ(WordStartAtOrBefore(starts, 99), 21u);
}

TEST(TextScan, PiecesEndAtSentencesClausesOrBlanks) {
    const std::string text = "One. Two, three four five six seven.";
    EXPECT_EQ(PieceEnd(text, 0, 100, 200), 4u);           // sentence end
    EXPECT_EQ(PieceEnd(text, 4, 100, 200), text.size());  // the rest fits
    EXPECT_EQ(PieceEnd(text, 4, 3, 200), 9u);             // clause past soft limit
    EXPECT_EQ(PieceEnd(text, 9, 3, 200), 16u);            // then a blank
    EXPECT_EQ(PieceEnd("a\r\nb", 0, 100, 200), 4u);       // line break inside a paragraph
    EXPECT_EQ(PieceEnd("a\r\n \r\nb", 0, 100, 200), 3u);  // paragraph end
    EXPECT_EQ(PieceEnd("a b\r\n", 0, 100, 200), 5u);
    EXPECT_EQ(PieceEnd("3.14 is pi", 0, 100, 200), 10u);  // no sentence end inside
    // Hard limit without any blank: cut at a character boundary, never inside one.
    const std::string wide = "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9";
    const size_t cut = PieceEnd(wide, 0, 2, 5);
    EXPECT_EQ(cut, 4u);
    // Pieces always advance.
    for (size_t begin = 0; begin < text.size();) {
        const size_t end = PieceEnd(text, begin, 1, 4);
        ASSERT_GT(end, begin);
        begin = end;
    }
}

// Runs without blanks (long words, URLs, scripts written without blanks) are handed
// over whole, in parts no longer than the run limit, cut where the sound is kept.
TEST(TextScan, BlankFreeRunsAreCutIntoPartsCoveringEveryByte) {
    std::string letters = "go ", thaiRun;
    for (int i = 0; i < 40; ++i) letters += "abcdefghij";
    std::string url =
        "https://www.example.com/section2481/index801/documents8789/"
        "settings960/profile3527/archive1418/index6861/annual9561/page";
    const std::string thai = "\xE0\xB9\x80\xE0\xB8\x94\xE0\xB9\x87\xE0\xB8\x81";  // เด็ก
    for (int i = 0; i < 20; ++i) thaiRun += thai;
    const std::string zh = "\xE4\xBB\x8A\xE5\xA4\xA9\xEF\xBC\x8C\xE5\xA5\xBD\xE3\x80\x82x";
    EXPECT_EQ(PieceEnd(zh, 0, 80, 160, 150), zh.size() - 1);  // 今天，好。 ends a sentence
    std::vector<size_t> letterEnds;
    for (const std::string* text : {&letters, &url, &thaiRun}) {
        for (size_t begin = 0; begin < text->size();) {
            const size_t end = PieceEnd(*text, begin, 30, 160, 54);
            ASSERT_GT(end, begin);
            ASSERT_LE(end - begin, 54u);
            if (text == &url && end < url.size()) {
                EXPECT_TRUE(std::ispunct(url[end - 1])) << end;
            }
            // Thai: a piece never ends after เ nor before ็ (vowels and tone marks).
            if (text == &thaiRun) {
                EXPECT_EQ(end % thai.size(), 0u) << end;
            }
            if (text == &letters) letterEnds.push_back(end);
            begin = end;
        }
    }
    EXPECT_EQ(letterEnds, (std::vector<size_t>{3, 57, 111, 165, 219, 273, 327, 381, 403}));
}

TEST(TextScan, Utf8PieceBlanksInvalidBytesAndMapsCodePoints) {
    const Utf8Piece p = ToUtf8Piece(
        "a\xC3\xA9\xFF"
        "b\xE2\x82");
    EXPECT_EQ(p.text, "a\xC3\xA9 b  ");
    EXPECT_EQ(p.codePointStart, (std::vector<uint32_t>{0, 1, 3, 4, 5, 6, 7}));
}

TEST(TextScan, AsciiPieceFoldsLettersAndKeepsWordsApart) {
    const AsciiPiece p = ToAsciiPiece("na\xC3\xAFve \xE6\x97\xA5 x\xE2\x82\xAC");
    EXPECT_EQ(p.text, "naive   x-");
    ASSERT_EQ(p.origin.size(), p.text.size());
    EXPECT_EQ(p.origin[2], 2u);  // the folded letter points at its two-byte original
    EXPECT_EQ(p.origin[3], 4u);
    EXPECT_EQ(p.origin[8], 11u);
    EXPECT_EQ(ToAsciiPiece("na\xC3\xAFve \xE6\x97\xA5", true).text, "na\xEFve  ");
}

TEST(InlineTags, WellFormedTagsParseWithKeywordCaseIgnored) {
    auto pit = ParseInlineTag("\\Pit=120\\");
    ASSERT_TRUE(pit);
    EXPECT_EQ(pit->kind, InlineTag::Kind::Pitch);
    EXPECT_EQ(pit->value, 120u);
    auto spd = ParseInlineTag("\\sPD=0\\");
    ASSERT_TRUE(spd);
    EXPECT_EQ(spd->kind, InlineTag::Kind::Speed);
    EXPECT_EQ(spd->value, 0u);
    auto vol = ParseInlineTag("\\VOL=4294967295\\");
    ASSERT_TRUE(vol);
    EXPECT_EQ(vol->kind, InlineTag::Kind::Volume);
    EXPECT_EQ(vol->value, 4294967295u);
    EXPECT_EQ(ParseInlineTag("\\Spd=0004294967295\\")->value, 4294967295u);
}

TEST(InlineTags, MalformedTagsAreRefused) {
    for (const char* bad :
         {"", "\\", "\\Pit=\\", "\\Pit=-1\\", "\\Pit=12", "Pit=12\\", "\\Pit=1 2\\", "\\Pit 12\\",
          "\\Pitch=12\\", "\\Vol=+5\\", "\\Rst=1\\", "\\Pit=12\\\\", " \\Pit=12\\",
          "\\Spd=4294967296\\", "\\Vol=99999999999999999999\\"})
        EXPECT_FALSE(ParseInlineTag(bad)) << bad;
}

TEST(Visemes, PhonemeClassesGiveDistinctMouths) {
    EXPECT_TRUE(SameMouth(MouthForPhoneme("p"), MouthForPhoneme("m")));
    EXPECT_TRUE(SameMouth(MouthForPhoneme("pau"), RestingMouth()));
    EXPECT_TRUE(SameMouth(MouthForPhoneme("'a:"), MouthForPhoneme("aa")));
    EXPECT_FALSE(SameMouth(MouthForPhoneme("a"), MouthForPhoneme("i")));
    EXPECT_FALSE(SameMouth(MouthForPhoneme("u:"), MouthForPhoneme("f")));
    EXPECT_FALSE(SameMouth(MouthForPhoneme("sh"), MouthForPhoneme("s")));
    EXPECT_GT(MouthForPhoneme("a").bJawOpen, MouthForPhoneme("m").bJawOpen);
}
