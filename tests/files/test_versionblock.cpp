#include <gtest/gtest.h>

#include "BlockBuilder.h"
#include "support/VersionBlock.h"

namespace {

TestNode SampleRoot() {
    TestNode table{
        u"040904E4",
        1,
        "",
        0,
        {TextValue(u"ProductName", u"Sample"), TextValue(u"Empty", u""),
         TestNode{u"Zero", 1, "", 0, {}}, TextValue(u"Cut", std::u16string(u"before\0after", 12))}};
    TestNode strings{u"StringFileInfo", 1, "", 0, {table}};
    std::string translation;
    Put32(translation, 0x04E40409);
    Put32(translation, 0x04B00407);
    TestNode vars{u"VarFileInfo", 1, "", 0, {TestNode{u"Translation", 0, translation, -1, {}}}};
    return TestNode{u"VS_VERSION_INFO",
                    0,
                    FixedPart(0x00010002, 0x00030004, 0x01C03B4A, 0x12345678),
                    -1,
                    {strings, vars}};
}

TEST(VersionBlock, QueriesFollowThePlatformsPathRules) {
    const TVersionBlock block(SerializeNode(SampleRoot()));
    ASSERT_TRUE(block.IsValid());
    EXPECT_EQ("Sample", block.Text("\\StringFileInfo\\040904E4\\ProductName"));
    EXPECT_EQ("Sample", block.Text("stringfileinfo\\040904e4\\PRODUCTNAME")) << "keys ignore case";
    EXPECT_EQ("Sample", block.Text("StringFileInfo\\\\040904E4\\ProductName"));
    EXPECT_EQ("", block.Text("StringFileInfo\\040904E4\\Empty"));
    EXPECT_FALSE(block.Text("StringFileInfo\\040904E4\\Zero")) << "length zero counts as missing";
    EXPECT_FALSE(block.Text("StringFileInfo\\040904E4\\Missing"));
    EXPECT_FALSE(block.Text("StringFileInfo\\04070000\\ProductName"));
    EXPECT_FALSE(block.Text("StringFileInfo\\040904E4\\ProductName\\Deeper"));
    EXPECT_EQ("before", block.Text("StringFileInfo\\040904E4\\Cut")) << "text ends at its zero";

    const auto fixed = block.FixedInfo();
    ASSERT_TRUE(fixed);
    EXPECT_EQ(0x00010002u, fixed->dwFileVersionMS);
    EXPECT_EQ(0x00030004u, fixed->dwFileVersionLS);
    EXPECT_EQ(0x3Fu, fixed->dwFileFlagsMask);
    EXPECT_EQ(4u, fixed->dwFileOS);
    EXPECT_EQ(0x01C03B4Au, fixed->dwFileDateMS);
    EXPECT_EQ(0x12345678u, fixed->dwFileDateLS);

    const auto table = block.Translations();
    ASSERT_TRUE(table);
    EXPECT_EQ((std::vector<uint32_t>{0x04E40409, 0x04B00407}), *table);
}

TEST(VersionBlock, BrokenBlocksAnswerNothingAndNeverReadPastTheEnd) {
    const std::string good = SerializeNode(SampleRoot());
    EXPECT_FALSE(TVersionBlock("").IsValid());
    EXPECT_FALSE(TVersionBlock(good.substr(0, 5)).IsValid());
    TestNode wrongKey = SampleRoot();
    wrongKey.key = u"VS_VERSION_INF0";
    EXPECT_FALSE(TVersionBlock(SerializeNode(wrongKey)).IsValid());
    EXPECT_FALSE(TVersionBlock(SerializeNode(wrongKey)).Query("\\"));

    // Every prefix of a good block parses without overrunning it (the sanitizer
    // build checks the reads); the fixed part survives once it is complete.
    for (size_t n = 0; n <= good.size(); ++n) {
        const TVersionBlock cut(good.substr(0, n));
        const bool fixedComplete = n >= 40 + TFixedFileInfo::kSize;
        if (cut.IsValid()) {
            EXPECT_EQ(fixedComplete, cut.FixedInfo().has_value()) << n;
            (void)cut.Text("StringFileInfo\\040904E4\\ProductName");
            (void)cut.Translations();
        }
    }

    // A bad signature or a short fixed part is no fixed part.
    TestNode badSig = SampleRoot();
    badSig.value[0] = 0;
    EXPECT_FALSE(TVersionBlock(SerializeNode(badSig)).FixedInfo());
    TestNode shortFixed = SampleRoot();
    shortFixed.value.resize(48);
    EXPECT_FALSE(TVersionBlock(SerializeNode(shortFixed)).FixedInfo());
    EXPECT_TRUE(TVersionBlock(SerializeNode(shortFixed)).Translations())
        << "children are found after a value of any length";

    // A translation table shorter than one entry is no table.
    TestNode shortTable = SampleRoot();
    shortTable.children[1].children[0].value.resize(2);
    EXPECT_FALSE(TVersionBlock(SerializeNode(shortTable)).Translations());

    // A node claiming more than its parent holds is cut to the parent.
    std::string overlong = good;
    overlong[0] = '\xFF';
    overlong[1] = '\xFF';
    const TVersionBlock lenient(overlong);
    ASSERT_TRUE(lenient.IsValid());
    EXPECT_EQ("Sample", lenient.Text("StringFileInfo\\040904E4\\ProductName"));
}

TEST(VersionBlock, Utf16TextBecomesUtf8) {
    EXPECT_EQ("M\xC3\xBCller \xE2\x80\x93 \xE4\xB8\xAD", Utf16ToUtf8(u"M\u00FCller \u2013 \u4E2D"));
    EXPECT_EQ("\xF0\x9F\x98\x80", Utf16ToUtf8(u"\U0001F600"));
    EXPECT_EQ(
        "\xEF\xBF\xBD"
        "a",
        Utf16ToUtf8(std::u16string{char16_t(0xD800), u'a'}));
    EXPECT_EQ("\xEF\xBF\xBD", Utf16ToUtf8(std::u16string{char16_t(0xDC00)}));
}

}  // namespace
