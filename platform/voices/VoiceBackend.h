#pragma once
// One voice of one synthesiser, as the engine object drives it. A backend renders a
// piece of text at a time into samples plus the word and mouth-shape events inside
// them; every call happens on the synthesis worker's thread.
//
// Units, the same for both synthesisers:
//   pitch  0 .. 99, 50 the voice's own pitch (espeak-ng's pitch parameter; for flite
//          the voice's mean pitch scaled by 2^((pitch - 50) / 50));
//   speed  words per minute, 175 normal: espeak-ng's rate, 84 .. 449 (all rates up
//          to 84 sound alike, and from 450 on it takes a slower path); for flite
//          80 .. 450, the durations stretched by 175 / speed;
//   volume the platform's engine form, low 16 bits the left level, high 16 the right,
//          applied as a gain of left / 65535 on the samples.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/voices/TextScan.h"
#include "speech/speech.h"

struct VoiceLimits {
    uint16_t pitchMin = 0, pitchMax = 99, pitchNormal = 50;
    uint32_t speedMin = 80, speedMax = 450, speedNormal = 175;
};

struct VoiceSettings {
    uint16_t pitch = 50;
    uint32_t speed = 175;
};

struct SynthEvent {
    enum class Kind { Word, Mouth };
    Kind kind;
    uint64_t frame;       // relative to the piece's first sample
    uint32_t offset = 0;  // Word: byte offset of the word start in the whole text
    TTSMOUTH mouth{};     // Mouth: the new shape
    char phoneme = 0;     // Mouth: first character of the engine's phoneme name
};

// Piece sizes in bytes: a piece ends at the first break after soft, at the latest
// at hard, and holds at most run bytes of a run without blanks (for a synthesiser
// that reads only so much of one word).
struct PieceSize {
    size_t soft;
    size_t hard;
    size_t run = SIZE_MAX;
};

// What a text that a voice failed to render ends with.
inline std::string SynthesisFailure(size_t offset) {
    return "The voice could not synthesise the text from byte " + std::to_string(offset) + " on";
}

struct RenderedPiece {
    std::vector<int16_t> samples;
    std::vector<SynthEvent> events;  // in frame order
    // The last samples are this long a pause put after the speech, not speech.
    size_t pause = 0;
};

class VoiceBackend {
  public:
    virtual ~VoiceBackend() = default;
    virtual unsigned SampleRate() const = 0;
    virtual VoiceLimits Limits() const { return VoiceLimits{}; }
    // Piece sizes in bytes (soft, hard) for the first piece of a text and the rest:
    // small enough that one piece never holds the worker long.
    virtual PieceSize FirstPieceSize() const = 0;
    virtual PieceSize NextPieceSize() const = 0;
    // The size of the piece starting at cursor: the first piece is the first one that
    // holds something to say, however many blanks come before it.
    PieceSize PieceSizeAt(std::string_view text, size_t cursor) const {
        for (size_t i = 0; i < cursor; ++i)
            if (!IsWordBlank(static_cast<unsigned char>(text[i]))) return NextPieceSize();
        return FirstPieceSize();
    }
    // Renders text[piece] (already sanitised). wordStarts are the piece's word starts
    // (byte offsets in text). Returns false when aborted or failed; out then holds
    // what was rendered so far.
    virtual bool Render(std::string_view text, TextPiece piece,
                        const std::vector<uint32_t>& wordStarts, const VoiceSettings& settings,
                        const std::function<bool()>& aborted, RenderedPiece& out) = 0;
    // Before the text's pieces are rendered in several processes: measures, once, what
    // each of them would otherwise measure again for itself.
    virtual void Prepare(std::string_view text, const std::vector<TextPiece>& pieces,
                         const VoiceSettings& settings) {
        (void)text, (void)pieces, (void)settings;
    }
};
