// Renders short odd texts (punctuation, quotes, brackets, control bytes, stray UTF-8)
// with the real voices of every engine family into memory, piece by piece as the
// synthesis worker does, and checks that every voice survives them with sane results.
// The first byte picks the family, the second the voice in it; the rest, at most
// kMaxText bytes, is the text. Each voice starts once per process and is kept.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/voices/TextScan.h"
#include "platform/voices/VoiceBackend.h"
#include "platform/voices/VoiceCatalogue.h"

namespace {
// Short texts are what trips a voice up; longer ones only cost time.
constexpr size_t kMaxText = 64;

[[noreturn]] void Fault(const std::string& voice, const std::string& text, const char* what) {
    std::fprintf(stderr, "%s: %s on the text \"%s\"\n", voice.c_str(), what, text.c_str());
    std::abort();
}

// The voices of each family, in the catalogue's order.
const std::vector<std::vector<const VoiceMode*>>& Families() {
    static const auto families = [] {
        std::vector<std::vector<const VoiceMode*>> byEngine(
            static_cast<size_t>(VoiceMode::Engine::Rhvoice) + 1);
        for (const VoiceMode& mode : AllVoiceModes())
            byEngine[static_cast<size_t>(mode.engine)].push_back(&mode);
        std::erase_if(byEngine, [](const auto& family) { return family.empty(); });
        return byEngine;
    }();
    return families;
}

// The voices live as long as the process: the engines' own tables they refer to are
// gone before the destructors of this file's statics would run at exit.
VoiceBackend& Voice(const VoiceMode& mode) {
    static auto* const voices = new std::map<const VoiceMode*, std::unique_ptr<VoiceBackend>>;
    auto& voice = (*voices)[&mode];
    if (!voice) voice = MakeVoiceBackend(mode);
    return *voice;
}

// A rendered piece is sane: its events lie inside its samples in frame order, its
// words on word starts inside the piece, its pause part of its samples. (A voice may
// say words out of the text's order, "$8" as "eight dollars": the engine keeps only
// those that move forward.)
void Check(const std::string& name, const std::string& text, TextPiece piece,
           const RenderedPiece& out) {
    if (out.pause > out.samples.size()) Fault(name, text, "a pause longer than the piece");
    const std::vector<uint32_t> starts = WordStarts(text, piece);
    uint64_t frame = 0;
    for (const SynthEvent& e : out.events) {
        if (e.frame < frame) Fault(name, text, "events out of frame order");
        if (!out.samples.empty() && e.frame >= out.samples.size())
            Fault(name, text, "an event after the piece's last sample");
        frame = e.frame;
        if (e.kind == SynthEvent::Kind::Word &&
            !std::binary_search(starts.begin(), starts.end(), e.offset))
            Fault(name, text, "a word offset that is not a word start of its piece");
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto& families = Families();
    if (size < 2 || families.empty()) return 0;
    const auto& family = families[data[0] % families.size()];
    const VoiceMode& mode = *family[data[1] % family.size()];
    std::string text(reinterpret_cast<const char*>(data) + 2, std::min(size - 2, kMaxText));
    SanitiseText(text);  // as the engine takes a text in
    VoiceBackend& voice = Voice(mode);
    const std::string name(mode.info.szModeName,
                           strnlen(mode.info.szModeName, sizeof mode.info.szModeName));
    const std::function<bool()> never = [] { return false; };
    for (size_t cursor = 0; cursor < text.size();) {
        const PieceSize limits = voice.PieceSizeAt(text, cursor);
        const TextPiece piece{cursor, PieceEnd(text, cursor, limits.soft, limits.hard, limits.run)};
        if (piece.end <= cursor || piece.end > text.size())
            Fault(name, text, "a piece out of step");
        RenderedPiece out;
        if (HoldsText(text, piece)) {
            if (!voice.Render(text, piece, WordStarts(text, piece), VoiceSettings{}, never, out))
                Fault(name, text, "the voice could not render the text");
            Check(name, text, piece, out);
        }
        cursor = piece.end;
    }
    return 0;
}
