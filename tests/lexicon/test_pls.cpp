// Lexicon files: what other programs write imports, ours read back the same, and a
// broken file says where it breaks.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "lexicon/Pls.h"
#include "lexicon/Store.h"

namespace lexicon {
namespace {

#define PLS_HEAD                                                            \
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<lexicon version=\"1.0\" " \
    "xmlns=\"http://www.w3.org/2005/01/pronunciation-lexicon\" "            \
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "              \
    "xsi:schemaLocation=\"http://www.w3.org/2005/01/pronunciation-lexicon " \
    "http://www.w3.org/TR/2007/CR-pronunciation-lexicon-20071212/pls.xsd\" "

struct Example {
    const char* markup;
    size_t entries;
    Entry first;
};

TEST(PlsTest, LexiconsOfTheFormatImport) {
    const Example examples[] = {
        {PLS_HEAD "alphabet=\"ipa\" xml:lang=\"en-US\">\n"
                  "  <lexeme><grapheme>judgment</grapheme><grapheme>judgement</grapheme>\n"
                  "    <phoneme>ˈdʒʌdʒ.mənt</phoneme></lexeme>\n</lexicon>",
         2,
         {"judgment", false, false, "", "ˈdʒʌdʒ.mənt", "ipa"}},
        {PLS_HEAD "alphabet=\"ipa\" xml:lang=\"en-GB\">\n"
                  "  <meta name=\"author\" content=\"x\"/>\n"
                  "  <metadata><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"/>"
                  "</metadata>\n"
                  "  <!-- several pronunciations, one preferred -->\n"
                  "  <lexeme><grapheme>Newton</grapheme><phoneme>ˈnjuːtən</phoneme>"
                  "<phoneme prefer=\"true\">ˈnjuːʔn̩</phoneme></lexeme>\n"
                  "  <lexeme><grapheme>W3C</grapheme><alias>World Wide Web Consortium</alias>"
                  "</lexeme>\n"
                  "  <lexeme xml:id=\"l1\" role=\"claws:VVI\" xmlns:claws=\"urn:x-claws\">"
                  "<grapheme>read</grapheme><phoneme>riːd</phoneme>"
                  "<example>I will read the book.</example></lexeme>\n</lexicon>",
         3,
         {"Newton", false, false, "", "ˈnjuːʔn̩", "ipa"}},
        {PLS_HEAD "alphabet=\"x-sampa\" xml:lang=\"en-US\">\n"
                  "  <lexeme><grapheme>Sepulveda</grapheme><phoneme>s@\"pVlv@d@</phoneme>"
                  "<alias>se pull vay da</alias></lexeme>\n</lexicon>",
         1,
         {"Sepulveda", false, false, "se pull vay da", "s@\"pVlv@d@", "x-sampa"}},
        // A vendor's alphabet for the lexicon, another one on a pronunciation, words in
        // two scripts, several roles, and the preferred of several aliases.
        {PLS_HEAD "alphabet=\"x-JEITA\" xml:lang=\"ja\">\n"
                  "  <lexeme role=\"claws:NN1 claws:NP0\" xmlns:claws=\"urn:x-claws\">"
                  "<grapheme>日本</grapheme><grapheme>にっぽん</grapheme>"
                  "<phoneme>ニッポン</phoneme><phoneme alphabet=\"ipa\" prefer=\"true\">"
                  "ɲippoɴ</phoneme></lexeme>\n"
                  "  <lexeme><grapheme>ＵＮ</grapheme><alias>国連</alias>"
                  "<alias prefer=\"true\">国際連合</alias></lexeme>\n</lexicon>",
         3,
         {"日本", false, false, "", "ɲippoɴ", "ipa"}},
    };
    for (const Example& e : examples) {
        const Lexicon l = ReadPls(e.markup, "example.pls");
        ASSERT_EQ(l.entries.size(), e.entries) << e.markup;
        EXPECT_EQ(l.entries.front(), e.first) << e.markup;
        EXPECT_EQ(l.scope, Scope::Language);
    }
}

TEST(PlsTest, ExportThenImportGivesTheSameLexicon) {
    Lexicon l;
    l.scope = Scope::Voice;
    l.voice = "slt (US English female) - flite";
    l.language = "en-US";
    l.entries = {{"Tomato", false, true, "tomahto & <more>", "", ""},
                 {"(a+)+$", true, false, "x \"quoted\"", "", ""},
                 {"zork", false, false, "", "h@l'oU", ""},
                 {"judgment", false, false, "judge ment", "ˈdʒʌdʒ.mənt", "ipa"}};
    EXPECT_EQ(ReadPls(WritePls(l), "back.pls"), l);
    l.scope = Scope::Global;
    l.voice.clear();
    l.language.clear();
    EXPECT_EQ(ReadPls(WritePls(l), "back.pls"), l);
}

TEST(PlsTest, BrokenFilesNameTheFileAndWhere) {
    const std::pair<const char*, const char*> cases[] = {
        {"<lexicon version=\"1.0\" xmlns=\"http://www.w3.org/2005/01/pronunciation-lexicon\">\n"
         "  <lexeme><grapheme>a</grapheme>\n</lexicon>\n",
         "(line 3, column 11)"},
        {"<lexicon>\n  <lexeme attr=oops>", "(line 2, column 16)"},
        {"<other xmlns=\"urn:x\"/>", "no <lexicon> element"},
        {PLS_HEAD "xml:lang=\"en\"><lexeme><alias>x</alias></lexeme></lexicon>", "no grapheme"},
        {PLS_HEAD "xml:lang=\"en\" xmlns:pm=\"urn:x-parlenmaker:lexicon\">"
                  "<pm:regex pm:pattern=\"(\"><alias>x</alias></pm:regex></lexicon>",
         "at character"},
    };
    for (const auto& [markup, where] : cases) {
        try {
            ReadPls(markup, "broken.pls");
            ADD_FAILURE() << "read: " << markup;
        } catch (const LexiconError& e) {
            const std::string message = e.what();
            EXPECT_EQ(message.rfind("broken.pls", 0), 0u) << message;
            EXPECT_NE(message.find(where), std::string::npos) << message;
        }
    }
}

TEST(PlsTest, TheUsersFolderKeepsEveryScope) {
    const std::string folder = std::filesystem::temp_directory_path() /
                               ("parlen-lexicons-" + std::to_string(getpid())) / "lexicons";
    Lexicon global, english, voice;
    global.entries = {{"Tomato", false, false, "tomahto", "", ""}};
    english.scope = Scope::Language;
    english.language = "en";
    english.entries = {{"tomato", false, false, "tomayto", "", ""}};
    voice.scope = Scope::Voice;
    voice.voice = "English (America) - espeak-ng";
    voice.entries = {{"zork", false, false, "", "h@l'oU", ""}};
    SaveLexiconFolder(folder, {global, english, voice});
    std::vector<Lexicon> read = LoadLexiconFolder(folder);
    ASSERT_EQ(read.size(), 3u);
    EXPECT_EQ(read[0], global);  // global.pls, language-en.pls, voice-english-...
    EXPECT_EQ(read[1], english);
    EXPECT_EQ(read[2], voice);
    // A scope emptied of its lexicon loses its file.
    SaveLexiconFolder(folder, {voice});
    read = LoadLexiconFolder(folder);
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0], voice);
    // Two lexicons of one scope (a file of the user's own beside ours) share its file.
    SaveLexiconFolder(folder, {voice, voice});
    read = LoadLexiconFolder(folder);
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].entries.size(), 2u);
    std::filesystem::remove_all(std::filesystem::path(folder).parent_path());
}

}  // namespace
}  // namespace lexicon
