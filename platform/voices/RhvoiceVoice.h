#pragma once
// A voice of RHVoice. RHVoice is optional twice over: the build compiles this family
// only where RHVoice's header is found, and its library is mapped (dlopen) when the
// voices are first listed, so the programs run, and list no RHVoice voice, on a machine
// without it. One RHVoice engine serves the process; it is made, and every call into it
// happens, on the synthesis worker's thread.
//
// Text reaches RHVoice as plain text (never as SSML), one piece per message; RHVoice
// reports each word with its byte offset into the message, which is the piece's. Speed
// and pitch are its relative rate and pitch: speed / 175 and 2^((pitch - 50) / 50), within
// the ranges where RHVoice honours them (see Limits).
#include <string>
#include <vector>

#include "platform/voices/VoiceBackend.h"

struct RhvoiceVoiceInfo {
    std::string name;         // RHVoice's, e.g. "Slt"
    std::string speaker;      // as the mode name shows it: "slt"
    std::string description;  // "US English female"
    std::string language;     // language tag, "en-us"
    unsigned gender = 0;      // the mode record's: 1 female, 2 male, 0 not given
};

class RhvoiceVoice : public VoiceBackend {
  public:
    // Every voice RHVoice has installed, in RHVoice's order; empty without RHVoice.
    // Runs on the synthesis worker's thread.
    static std::vector<RhvoiceVoiceInfo> Voices();
    // RHVoice's version, e.g. "1.8.0"; empty without it.
    static std::string Version();
    // The description of a voice from RHVoice's codes: ("en", "US", 2) -> "US English
    // female", and its language tag "en-us".
    static std::string Describe(const std::string& language, const std::string& country,
                                unsigned gender);
    static std::string LanguageTag(const std::string& language, const std::string& country);

    // The voice loads when it first speaks (about a tenth of a second).
    explicit RhvoiceVoice(std::string name);
    ~RhvoiceVoice() override;

    unsigned SampleRate() const override { return rate_; }
    VoiceLimits Limits() const override;
    // RHVoice renders an English sentence some 30 times faster than real time: the
    // first piece is a word or two, heard at once; the ones after it are sentences, since
    // RHVoice says each message as an utterance with its own pauses.
    PieceSize FirstPieceSize() const override { return {4, 24}; }
    PieceSize NextPieceSize() const override { return {400, 1200}; }
    bool Render(std::string_view text, TextPiece piece, const std::vector<uint32_t>& wordStarts,
                const VoiceSettings& settings, const std::function<bool()>& aborted,
                RenderedPiece& out) override;
    // Loads the voice before worker processes are forked, so that each of them finds it
    // ready rather than loading it on its own.
    void Prepare(std::string_view text, const std::vector<TextPiece>& pieces,
                 const VoiceSettings& settings) override;

  private:
    std::string name_;
    // RHVoice's voices speak at 24 kHz, or at 16 kHz when its settings ask for its lowest
    // quality; the rate is known only as a voice starts to speak, and what comes at
    // another rate is converted.
    unsigned rate_ = 24000;
};
