#pragma once
// Whether a word broken by a line's end ("nega-" "tive") is one word or a compound that
// keeps its hyphen ("power-" "performance"). With a Hunspell dictionary of the
// document's language the halves are joined when the whole is a word and the halves are
// not both words; without one only a break before a common word ending is joined. When
// unsure the hyphen stays: a kept hyphen is read aloud as a pause at worst.
#include <memory>
#include <string>
#include <string_view>

namespace documents {

class HyphenJudge {
  public:
    // language as the document gives it ("en-US", "de"); empty for the locale's.
    // dictionaryFolder holds NAME.aff and NAME.dic files.
    explicit HyphenJudge(std::string language,
                         std::string dictionaryFolder = "/usr/share/hunspell");
    ~HyphenJudge();
    HyphenJudge(const HyphenJudge&) = delete;
    HyphenJudge& operator=(const HyphenJudge&) = delete;

    // left and right are the letters before the hyphen and after the line's end.
    bool Join(std::string_view left, std::string_view right);
    // The dictionary's name ("en_US"), empty when none was found; loads it.
    const std::string& Dictionary();

  private:
    struct Speller;
    void Load();
    std::string language_, folder_, dictionary_;
    bool loaded_ = false;
    std::unique_ptr<Speller> speller_;
};

// The Hunspell dictionary names that fit a language tag, best first: "en-GB" gives
// en_GB, then en. Empty for a tag that is no language tag.
std::string DictionaryName(std::string_view language);

}  // namespace documents
