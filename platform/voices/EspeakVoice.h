#pragma once
// A voice of espeak-ng. espeak-ng keeps process-global state and is not reentrant:
// every function here must run on the synthesis worker's thread.
#include <string>
#include <vector>

#include "platform/voices/VoiceBackend.h"

struct EspeakVoiceInfo {
    std::string name;        // as espeak-ng names it, trimmed
    std::string language;    // first language tag, e.g. "en-us"
    std::string identifier;  // e.g. "gmw/en-US"; what selects the voice
    unsigned gender = 0;     // espeak-ng's: 0 none, 1 male, 2 female
    unsigned age = 0;
};

class EspeakVoice : public VoiceBackend {
  public:
    explicit EspeakVoice(std::string identifier) : identifier_(std::move(identifier)) {}
    // Initialises espeak-ng once (synchronous output, phoneme events); returns its
    // sample rate, or 0 when it cannot be initialised.
    static unsigned Initialise();
    // The installed voices, leaving out MBROLA ones (they need data Debian lacks).
    static std::vector<EspeakVoiceInfo> ListVoices();
    static std::string Version();

    unsigned SampleRate() const override { return 22050; }
    // Measured on the rendered audio (see VoiceBackend.h).
    VoiceLimits Limits() const override {
        VoiceLimits limits;
        limits.speedMin = 84;
        limits.speedMax = 449;
        return limits;
    }
    // espeak-ng says only about the first 160 bytes of a longer word, so a run without
    // blanks reaches it in parts of at most kRunBytes.
    static constexpr size_t kRunBytes = 150;
    PieceSize FirstPieceSize() const override { return {80, 160, kRunBytes}; }
    PieceSize NextPieceSize() const override { return {300, 400, kRunBytes}; }
    bool Render(std::string_view text, TextPiece piece, const std::vector<uint32_t>& wordStarts,
                const VoiceSettings& settings, const std::function<bool()>& aborted,
                RenderedPiece& out) override;
    // Measures the pauses after the pieces.
    void Prepare(std::string_view text, const std::vector<TextPiece>& pieces,
                 const VoiceSettings& settings) override;

  private:
    // What separates this piece from the next: its closing punctuation (".", "!",
    // "?", ",", ";", ":") and "\n\n" when a paragraph ends there; empty for a cut
    // inside a sentence.
    static std::string SeparatorAtEnd(std::string_view text, TextPiece piece);
    // The silence espeak-ng puts after the separator at the speed, in frames; measured
    // with this voice set, once per process.
    size_t PauseFrames(const std::string& separator, uint32_t speed);
    size_t SynthesisedFrames(const std::string& text);

    std::string identifier_;
};
