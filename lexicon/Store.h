#pragma once
// The lexicons in force in this process: the user's own (the files of
// $XDG_CONFIG_HOME/parlenmaker/lexicons/, unless turned off), any given for this run
// (parlen-say's --lexicon), and any given for the texts of one document. The speech
// service asks it, for each text, what to apply with the text's voice.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "lexicon/Lexicon.h"
#include "lexicon/Rewrite.h"

namespace lexicon {

// $XDG_CONFIG_HOME/parlenmaker/lexicons, else ~/.config/parlenmaker/lexicons.
std::string UserLexiconFolder();
// The file a lexicon of the user's is kept in, by its scope: global.pls,
// language-en-us.pls, voice-<name>.pls.
std::string UserLexiconFile(const Lexicon& lexicon);

// Every .pls file of the folder, in name order; a missing folder holds none. Throws
// LexiconError naming the first file that cannot be read.
std::vector<Lexicon> LoadLexiconFolder(const std::string& folder);
// Writes each lexicon to its scope's file in the folder (made if missing; lexicons of
// one scope go into one file), and removes the files of scopes that are no longer
// there. Throws LexiconError naming the file.
void SaveLexiconFolder(const std::string& folder, const std::vector<Lexicon>& lexicons);

class Store {
  public:
    static Store& Instance();

    // parlen-say: --no-user-lexicon, and each --lexicon file (loaded at once: throws
    // LexiconError naming a file that cannot be used).
    void UseUserLexicons(bool use);
    void AddLexiconFile(const std::string& path);
    // The window, once its lexicon dialog has saved them.
    void SetUserLexicons(std::vector<Lexicon> lexicons);
    // The user's lexicons as they are now (read from their folder the first time).
    std::vector<Lexicon> UserLexicons();
    // A document's own lexicons, for the texts handed over until they are cleared; they
    // win over the user's of the same scope.
    void SetDocumentLexicons(std::vector<Lexicon> lexicons);
    // Those a document carries (an EPUB's PLS files), from now on; one that cannot be read
    // is left out and told in problems, naming the document and the lexicon.
    void UseDocumentLexicons(const std::vector<std::pair<std::string, std::string>>& files,
                             const std::string& documentName, std::vector<std::string>& problems);

    // What applies to this voice, or nullptr when nothing does. Throws LexiconError
    // for a user's file or an entry that cannot be used, naming it.
    std::shared_ptr<const Rewriter> ForVoice(const std::string& voiceName,
                                             const std::string& language, bool espeak);

  private:
    Store() = default;
    void LoadUserLocked();

    std::mutex mutex_;
    bool useUser_ = true;
    bool userLoaded_ = false;
    std::vector<Lexicon> user_, extra_, document_;
    uint64_t generation_ = 0;
    struct Cached {
        std::string key;
        uint64_t generation;
        std::shared_ptr<const Rewriter> rewriter;
    };
    std::vector<Cached> cache_;
};

}  // namespace lexicon
