// A text's lexicons applied once, on the synthesis thread before its first piece: the
// voice then reads the rewritten text, and the map turns its offsets back into the
// user's.
#include "platform/render/EngineCore.h"

bool EngineCore::Rewrite(std::unique_lock<std::mutex>& lock, const std::shared_ptr<Text>& text) {
    const uint64_t gen = gen_;
    TextLexicon lexicon = std::move(text->lexicon);
    text->lexicon = {};
    std::string failure = std::move(lexicon.failure);
    std::optional<lexicon::Rewritten> rewritten;
    if (failure.empty()) {
        lock.unlock();
        try {
            rewritten = lexicon.rewriter->Apply(text->bytes);
        } catch (const lexicon::LexiconError& e) {
            failure = e.Message();
        }
        lock.lock();
    }
    if (gen_ != gen || !alive_ || current_ != text) return false;
    if (!failure.empty()) {
        EndWithoutAudio(E_FAIL, "The lexicon cannot be applied: " + failure);
        return false;
    }
    if (rewritten->replacements > 0) {
        text->original = std::move(text->bytes);
        text->bytes = std::move(rewritten->text);
        text->map = std::move(rewritten->map);
    }
    return true;
}
