// Applying lexicons: which entry wins, what the voice is given, and where each byte of
// it points in the user's text.
#include <gtest/gtest.h>

#include <chrono>

#include "lexicon/Rewrite.h"
#include "lexicon/Store.h"
#include "support/PhonemeMarks.h"

namespace lexicon {
namespace {

Entry Word(std::string word, std::string respelling, bool matchCase = false) {
    return Entry{std::move(word), false, matchCase, std::move(respelling), "", ""};
}
Entry Regex(std::string pattern, std::string respelling) {
    return Entry{std::move(pattern), true, false, std::move(respelling), "", ""};
}
Entry Phonemes(std::string word, std::string phonemes, std::string respelling = "") {
    return Entry{std::move(word), false, false, std::move(respelling), std::move(phonemes), ""};
}
Lexicon In(Scope scope, std::vector<Entry> entries) {
    Lexicon l;
    l.scope = scope;
    l.entries = std::move(entries);
    return l;
}

const std::string P = std::string(1, kPhonemesBegin), E = std::string(1, kPhonemesEnd);

struct Case {
    const char* name;
    std::vector<Lexicon> lexicons;  // in the order they win
    bool espeak;
    std::string text, expected;
};

TEST(RewriteTest, EntriesReplaceWholeWordsByTheirRules) {
    const Lexicon global = In(Scope::Global, {Word("tomato", "tomahto")});
    const Case cases[] = {
        {"letter case ignored", {global}, false, "A Tomato, TOMATO.", "A tomahto, tomahto."},
        {"whole words only", {global}, false, "tomatoes atomato", "tomatoes atomato"},
        {"case marked",
         {In(Scope::Global, {Word("US", "you ess", true)})},
         false,
         "us US",
         "us you ess"},
        {"longest wins",
         {In(Scope::Global, {Word("New", "noo"), Word("New York", "big apple")})},
         false,
         "New York New",
         "big apple noo"},
        {"first wins among equals",
         {In(Scope::Global, {Regex("ab", "X"), Regex("bc", "Y")})},
         false,
         "abc",
         "Xc"},
        {"the voice's lexicon wins",
         {In(Scope::Voice, {Word("tomato", "tomayto")}), global},
         false,
         "tomato",
         "tomayto"},
        {"the winner's shorter match beats a longer one below",
         {In(Scope::Voice, {Word("York", "yawk")}), In(Scope::Global, {Word("New York", "NYC")})},
         false,
         "New York",
         "New yawk"},
        {"a word without letters as written",
         {In(Scope::Global, {Word(":-)", "smiley")})},
         false,
         "hi :-) there",
         "hi smiley there"},
        {"regular expression",
         {In(Scope::Global, {Regex("\\bDr\\.(?= )", "doctor")})},
         false,
         "Dr. Who",
         "doctor Who"},
        {"phonemes for espeak-ng",
         {In(Scope::Global, {Phonemes("zork", "h@l'oU w'3:ld", "hi")})},
         true,
         "a zork.",
         "a " + P + "h@l'oU_w'3:ld" + E + "."},
        {"respelling for the others",
         {In(Scope::Global, {Phonemes("zork", "h@l'oU", "hi")})},
         false,
         "a zork.",
         "a hi."},
        {"phonemes alone skipped for the others",
         {In(Scope::Global, {Phonemes("zork", "h@l'oU")})},
         false,
         "a zork.",
         "a zork."},
        {"control bytes of a respelling are blanks",
         {In(Scope::Global, {Word("x", std::string("a") + kPhonemesBegin + "b")})},
         true,
         "x",
         "a b"},
    };
    for (const Case& c : cases) {
        const Rewritten r = Rewriter(c.lexicons, c.espeak).Apply(c.text);
        EXPECT_EQ(r.text, c.expected) << c.name;
    }
}

TEST(RewriteTest, OffsetsMapBackToTheWordReplaced) {
    const Rewriter rewriter({In(Scope::Global, {Word("Tomato", "toe mah toe"), Word("é", "e")})},
                            false);
    const std::string text = "My Tomato é ok";
    const Rewritten r = rewriter.Apply(text);
    ASSERT_EQ(r.text, "My toe mah toe e ok");
    // Every byte of the replacement points at "Tomato"; text around it keeps its place.
    const std::pair<size_t, uint32_t> expected[] = {{0, 0},   {3, 3},   {7, 3},   {13, 3}, {14, 9},
                                                    {15, 10}, {16, 12}, {17, 13}, {19, 15}};
    for (const auto& [at, original] : expected)
        EXPECT_EQ(r.map.ToOriginal(at), original) << "rewritten byte " << at;
}

TEST(RewriteTest, RunawayPatternEndsInAnErrorNamingIt) {
    const Rewriter rewriter({In(Scope::Global, {Regex("(a+)+$", "x"), Regex("(\\w+\\s?)*z", "y")})},
                            false);
    const std::string text = std::string(100000, 'a') + "b " + std::string(5000, 'w') + "!";
    const auto start = std::chrono::steady_clock::now();
    try {
        rewriter.Apply(text);
        FAIL() << "no error";
    } catch (const LexiconError& e) {
        EXPECT_NE(std::string(e.what()).find("(a+)+$"), std::string::npos) << e.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(RewriteTest, UnusableEntriesAreRefusedWithTheReason) {
    const std::pair<Entry, const char*> cases[] = {
        {Word("", "x"), "no word"},
        {Word("word", ""), "nothing to say"},
        {Regex("(unclosed", "x"), "at character"},
        {Phonemes("x", "a]]b"), "\"]]\""},
        {Phonemes("x", std::string(101, 'a')), "longer than 100"},
    };
    for (const auto& [entry, reason] : cases)
        EXPECT_NE(EntryProblem(entry).find(reason), std::string::npos)
            << entry.word << ": " << EntryProblem(entry);
}

TEST(RewriteTest, ScopesApplyToTheirVoices) {
    Lexicon english = In(Scope::Language, {});
    english.language = "en";
    Lexicon us = In(Scope::Language, {});
    us.language = "en_US";
    Lexicon voice = In(Scope::Voice, {});
    voice.voice = "Slt (US English female) - flite";
    EXPECT_TRUE(AppliesTo(english, "any", "en-us"));
    EXPECT_TRUE(AppliesTo(us, "any", "en-US"));
    EXPECT_FALSE(AppliesTo(us, "any", "en-gb"));
    EXPECT_FALSE(AppliesTo(english, "any", "eo"));
    EXPECT_TRUE(AppliesTo(voice, "slt (US English female) - flite", "en-us"));
    EXPECT_FALSE(AppliesTo(voice, "kal (US English male) - flite", "en-us"));
}

// A document's own lexicons apply to its text; one that cannot be read is told, naming the
// document and the lexicon, and the others still apply.
TEST(RewriteTest, ADocumentsLexiconsApplyAndABrokenOneIsTold) {
    Store::Instance().UseUserLexicons(false);
    std::vector<std::string> problems;
    Store::Instance().UseDocumentLexicons(
        {{"broken.pls", "<lexicon"},
         {"names.pls", R"(<lexicon version="1.0" xmlns="http://www.w3.org/2005/01/)"
                       R"(pronunciation-lexicon" alphabet="ipa" xml:lang="en"><lexeme>)"
                       R"(<grapheme>Harbour</grapheme><alias>harbor</alias></lexeme></lexicon>)"}},
        "book.epub", problems);
    ASSERT_EQ(1u, problems.size());
    EXPECT_EQ(0u, problems[0].find("book.epub: broken.pls")) << problems[0];
    const auto rewriter = Store::Instance().ForVoice("any", "en-us", false);
    ASSERT_NE(nullptr, rewriter);
    EXPECT_EQ("a harbor", rewriter->Apply("a Harbour").text);
    Store::Instance().SetDocumentLexicons({});
}

}  // namespace
}  // namespace lexicon
