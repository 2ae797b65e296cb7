#include <gtest/gtest.h>

#include <string>

#include "support/LineBreaks.h"

using namespace std::string_literals;

TEST(LineBreaks, EveryKindOfBreakBecomesCrLf) {
    EXPECT_EQ(NormalizeLineBreaks("a\r\nb"), "a\r\nb");
    EXPECT_EQ(NormalizeLineBreaks("a\nb\n"), "a\r\nb\r\n");
    EXPECT_EQ(NormalizeLineBreaks("a\rb\r"), "a\r\nb\r\n");
    EXPECT_EQ(NormalizeLineBreaks("\n\r"), "\r\n\r\n");  // LF then CR: two breaks
    EXPECT_EQ(NormalizeLineBreaks("a\r\r\nb"), "a\r\n\r\nb");
    EXPECT_EQ(NormalizeLineBreaks("\r\n\n\r\r\n"), "\r\n\r\n\r\n\r\n");
    EXPECT_EQ(NormalizeLineBreaks("\r"), "\r\n");
    EXPECT_EQ(NormalizeLineBreaks("\n"), "\r\n");
}

TEST(LineBreaks, TextWithoutBreaksAndOtherBytesStayAsTheyAre) {
    EXPECT_EQ(NormalizeLineBreaks(""), "");
    EXPECT_EQ(NormalizeLineBreaks("plain text"), "plain text");
    const std::string raw = "\xff\x80\0\t\xe2\x80\xa9 x"s;
    EXPECT_EQ(NormalizeLineBreaks(raw), raw);
    EXPECT_EQ(NormalizeLineBreaks("\xc3\xa4\n\xc3\xb6"), "\xc3\xa4\r\n\xc3\xb6");
}

TEST(LineBreaks, NormalisingTwiceChangesNothing) {
    const std::string once = NormalizeLineBreaks("x\n\r\ry\r\n\nz\r");
    EXPECT_EQ(once, "x\r\n\r\n\r\ny\r\n\r\nz\r\n");
    EXPECT_EQ(NormalizeLineBreaks(once), once);
}
