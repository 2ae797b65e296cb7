#pragma once
// A voice of Festival. Festival's interpreter is one per process and not thread-safe:
// it starts on the synthesis worker's thread the first time a Festival voice renders
// (about a sixth of a second; choosing or listing voices never starts it), and every
// call into it happens on that thread. Text reaches it only as a string value, never
// as Scheme to be read.
//
// Speed: HTS voices through the engine's speed factor, the others through the
// duration stretch, times the voice's own. Pitch: the wave is resampled by the
// pitch factor, its length kept by asking for that much more (or less) time.
#include <string>

#include "platform/voices/VoiceBackend.h"

class FestivalVoice : public VoiceBackend {
  public:
    // `name` is Festival's (cmu_us_slt_arctic_hts); audio comes out at `rate`. A voice
    // that reads ISO-8859-1 gets Latin-1 letters as they are, others get them without
    // their accents.
    FestivalVoice(std::string name, unsigned rate, bool latin1 = false);
    ~FestivalVoice() override;

    unsigned SampleRate() const override { return rate_; }
    // An HTS voice loads its model for every utterance (some 40 ms) and renders about
    // 15 times faster than real time: the first piece is a word or two, so that it is
    // heard at once, and the ones after it are larger.
    PieceSize FirstPieceSize() const override { return {10, 30}; }
    PieceSize NextPieceSize() const override { return {120, 260}; }
    bool Render(std::string_view text, TextPiece piece, const std::vector<uint32_t>& wordStarts,
                const VoiceSettings& settings, const std::function<bool()>& aborted,
                RenderedPiece& out) override;
    // Starts Festival with this voice before worker processes are forked, so that each
    // of them finds it ready.
    void Prepare(std::string_view text, const std::vector<TextPiece>& pieces,
                 const VoiceSettings& settings) override;

  private:
    std::string name_;
    unsigned rate_;
    bool latin1_;
};
