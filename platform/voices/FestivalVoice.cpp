#include "platform/voices/FestivalVoice.h"

#include <algorithm>
#include <cmath>

#include "platform/festival/FestivalBridge.h"
#include "platform/voices/Resample.h"
#include "platform/voices/Visemes.h"

FestivalVoice::FestivalVoice(std::string name, unsigned rate, bool latin1)
    : name_(std::move(name)), rate_(rate), latin1_(latin1) {}

FestivalVoice::~FestivalVoice() = default;

void FestivalVoice::Prepare(std::string_view, const std::vector<TextPiece>&, const VoiceSettings&) {
    festival_bridge::Select(name_);
}

bool FestivalVoice::Render(std::string_view text, TextPiece piece,
                           const std::vector<uint32_t>& wordStarts, const VoiceSettings& settings,
                           const std::function<bool()>& aborted, RenderedPiece& out) {
    if (aborted() || !festival_bridge::Select(name_)) return false;
    const AsciiPiece ascii =
        ToAsciiPiece(text.substr(piece.begin, piece.end - piece.begin), latin1_);
    const double pitch = std::pow(2.0, (static_cast<double>(settings.pitch) - 50.0) / 100.0);
    const double length = 175.0 / static_cast<double>(settings.speed);
    // Raised pitch is a longer utterance played faster, read as recorded at rate × pitch.
    festival_bridge::Utterance utt;
    if (!festival_bridge::Synthesise(ascii.text, length * pitch, utt) ||
        !Resample(utt.samples, utt.rate * pitch, rate_))
        return false;
    out.samples = std::move(utt.samples);
    // Each utterance starts with a pause. A piece that goes on with a sentence the last
    // one began starts without it, as the sentence would go on when said whole.
    double lead = 0;
    const bool goesOn = piece.begin > 0 && KindOfPieceEnd(text, piece.begin) == PieceEndKind::Piece;
    if (goesOn && utt.segments.size() > 1 && utt.segments.front().name == "pau") {
        lead = utt.segments[1].start;
        const auto cut = std::min(out.samples.size(), static_cast<size_t>(lead / pitch * rate_));
        out.samples.erase(out.samples.begin(), out.samples.begin() + static_cast<ptrdiff_t>(cut));
    }
    const auto frameAt = [&](double seconds) {
        const auto frame = static_cast<uint64_t>(std::max(0.0, (seconds - lead) / pitch * rate_));
        return std::min<uint64_t>(frame, out.samples.empty() ? 0 : out.samples.size() - 1);
    };
    // Word offsets into the whole text, only ever forward: where Festival's token lies,
    // taken back to the start of the run of the text it lies in (a byte that is not
    // UTF-8 reached Festival as a blank).
    std::vector<SynthEvent> words;
    for (const festival_bridge::Word& w : utt.words) {
        if (w.at >= ascii.origin.size() || wordStarts.empty()) continue;
        const uint32_t offset = WordStartAtOrBefore(
            wordStarts, static_cast<uint32_t>(piece.begin + ascii.origin[w.at]));
        if (!words.empty() && offset <= words.back().offset) continue;
        words.push_back(SynthEvent{SynthEvent::Kind::Word, frameAt(w.start), offset, {}, 0});
    }
    std::vector<SynthEvent> mouths;
    TTSMOUTH current = RestingMouth();
    for (const festival_bridge::Segment& s : utt.segments) {
        const TTSMOUTH mouth = MouthForPhoneme(s.name.c_str());
        if (SameMouth(mouth, current)) continue;
        current = mouth;
        mouths.push_back(SynthEvent{SynthEvent::Kind::Mouth, frameAt(s.start), 0, mouth,
                                    s.name.empty() ? '\0' : s.name[0]});
    }
    // Every utterance ends in a pause: it is not part of the sentence's speech.
    if (!utt.segments.empty() && utt.segments.back().name == "pau")
        out.pause = out.samples.size() -
                    std::min<uint64_t>(frameAt(utt.segments.back().start), out.samples.size());
    // By frame, a word before a mouth shape at the same frame.
    out.events.clear();
    std::merge(words.begin(), words.end(), mouths.begin(), mouths.end(),
               std::back_inserter(out.events),
               [](const SynthEvent& a, const SynthEvent& b) { return a.frame < b.frame; });
    return true;
}
