#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/qt/TextCodec.h"
#include "support/Unicode.h"

using namespace std::string_literals;

TEST(TextCodec, ValidUtf8DecodesToItsCharacters) {
    EXPECT_EQ(DecodeText("abc"), QString("abc"));
    EXPECT_EQ(DecodeText("\xc3\xa4\xe2\x82\xac"), QString::fromUtf8("\xc3\xa4\xe2\x82\xac"));
    const QString emoji = DecodeText("\xf0\x9f\x98\x80");
    ASSERT_EQ(emoji.size(), 2);
    EXPECT_EQ(emoji.at(0).unicode(), 0xD83D);
    EXPECT_EQ(emoji.at(1).unicode(), 0xDE00);
    EXPECT_EQ(EncodeText(QString::fromUtf8("\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80")),
              "\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80");
}

TEST(TextCodec, InvalidBytesMapToPrivateUseAndBack) {
    // A Latin-1 "ä", a stray continuation byte, a truncated sequence, an overlong "/",
    // an encoded surrogate and a code point beyond U+10FFFF.
    const std::string bad = "\xe4|\x80|\xe2\x82|\xc0\xaf|\xed\xa0\x80|\xf4\x90\x80\x80"s;
    const QString decoded = DecodeText(bad);
    EXPECT_EQ(decoded.at(0).unicode(), 0xF7E4);
    EXPECT_EQ(decoded.at(2).unicode(), 0xF780);
    EXPECT_FALSE(decoded.contains(QChar(0xFFFD)));
    EXPECT_EQ(EncodeText(decoded), bad);
}

TEST(TextCodec, GenuineEscapeCodePointsDoNotCollideWithEscapedBytes) {
    // U+F7E4 written as UTF-8 must not come back as the single byte E4.
    const std::string genuine = "\xef\x9f\xa4";
    const QString decoded = DecodeText(genuine);
    EXPECT_EQ(decoded.size(), 3);
    EXPECT_EQ(EncodeText(decoded), genuine);
    const std::string mixed = "\xef\x9f\xa4\xe4\xef\x9e\x80\x80";
    EXPECT_EQ(EncodeText(DecodeText(mixed)), mixed);
    // Neighbours of the escape range are ordinary characters.
    EXPECT_EQ(DecodeText("\xef\x9d\xbf").size(), 1);  // U+F77F
    EXPECT_EQ(DecodeText("\xef\xa0\x80").size(), 1);  // U+F800
}

TEST(TextCodec, RandomBytesSurviveTheRoundTrip) {
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> byte(0, 255), len(0, 64);
    for (int round = 0; round < 20000; ++round) {
        std::string s(static_cast<size_t>(len(rng)), '\0');
        for (char& c : s) c = static_cast<char>(byte(rng));
        ASSERT_EQ(EncodeText(DecodeText(s)), s);
    }
}

TEST(TextCodec, LoneSurrogatesEncodeAsReplacement) {
    QString s;
    s += QChar(0xD800);
    s += QChar(u'x');
    EXPECT_EQ(EncodeText(s), "\xef\xbf\xbdx");
}

TEST(FileNames, AnyBytesNameTheSameFileAfterTheWayThroughUtf16) {
    const struct {
        std::string bytes;
        std::u16string utf16;
    } cases[] = {
        {"out.wav", u"out.wav"},
        {"caf\xc3\xa9 \xf0\x9f\x98\x80.mp3", u"caf\u00e9 \U0001F600.mp3"},
        // Latin-1, a stray continuation byte, an overlong "/", an encoded surrogate.
        {"caf\xe9|\x80|\xc0\xaf|\xed\xa0\x80"s,
         u"caf\xdce9|\xdc80|\xdcc0\xdcaf|\xdced\xdca0\xdc80"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.utf16, FileNameToUtf16(c.bytes)) << c.bytes;
        EXPECT_EQ(c.bytes, FileNameFromUtf16(FileNameToUtf16(c.bytes))) << c.bytes;
    }
    // Lone surrogates that no byte stands for are not invented bytes.
    EXPECT_EQ("a\xef\xbf\xbd", FileNameFromUtf16(std::u16string{u'a', char16_t(0xD800)}));
    EXPECT_EQ("\xef\xbf\xbd", FileNameFromUtf16(std::u16string{char16_t(0xDC10)}));
    EXPECT_EQ("caf\xe9 ? ?", Utf8ToLatin1("caf\xc3\xa9 \xe2\x82\xac \xff"));
}
