#pragma once
// A voice of flite. Each engine keeps its own voice object, created on first use on
// the synthesis worker's thread; flite reads no UTF-8, so pieces are handed over as
// ASCII and word offsets come from our own scan of the text.
#include <memory>
#include <string>
#include <vector>

#include "platform/voices/VoiceBackend.h"

struct FliteVoiceInfo {
    std::string name;  // kal, kal16, slt, rms, awb
    std::string description;
    unsigned gender;  // the mode record's: 1 female, 2 male
    unsigned rate;
    std::string style;
};

class FliteVoice : public VoiceBackend {
  public:
    explicit FliteVoice(std::string name);
    ~FliteVoice() override;
    static const std::vector<FliteVoiceInfo>& Voices();
    static std::string Version();

    unsigned SampleRate() const override { return rate_; }
    // A piece is one utterance to flite, which says each with a pause before and after:
    // pieces end only where the text pauses (a sentence end, else the last clause end
    // that fits), and at a blank only where a sentence runs on past the limit. flite's
    // larger voices render about 55 times faster than real time, so a piece of 300
    // bytes holds the worker about a third of a second; the first is smaller, to be
    // heard at once.
    PieceSize FirstPieceSize() const override { return {80, 80}; }
    PieceSize NextPieceSize() const override { return {300, 300}; }
    bool Render(std::string_view text, TextPiece piece, const std::vector<uint32_t>& wordStarts,
                const VoiceSettings& settings, const std::function<bool()>& aborted,
                RenderedPiece& out) override;
    // Maps and registers the voice before worker processes are forked, so that each of
    // them finds it ready rather than loading it on its own.
    void Prepare(std::string_view text, const std::vector<TextPiece>& pieces,
                 const VoiceSettings& settings) override;

  private:
    struct Voice;
    // Maps and registers the voice the first time; false when it cannot be loaded.
    bool Start();
    std::string name_;
    unsigned rate_;
    std::unique_ptr<Voice> voice_;
};
