#pragma once
// An M4B audiobook being encoded: AAC (FFmpeg's own encoder, 64 kbit/s, at the voice's
// rate) in an MP4 file of major brand "M4B ", written through a FileTarget by the M4B
// bridge (containers/m4b/), mapped when the first M4B file is opened. The AAC is
// encoded in pieces on several threads at once (PieceEncoder.h): its frames hold all
// their own data, so those of two encoders can follow each other. The chapters and
// tags come afterwards (containers/ChapterTags.h), since they are known only once the
// render is done. A target that cannot seek (a pipe) gets a fragmented file, which
// players read front to back.
#include <cstdint>
#include <memory>
#include <string>

#include "containers/m4b/M4bEntry.h"
#include "platform/audio/EncodedStream.h"
#include "platform/audio/FileTarget.h"
#include "platform/audio/PieceEncoder.h"

class M4bStream : public EncodedStream {
  public:
    // Frames of each piece, and around it.
    static constexpr size_t kPieceFrames = 256, kLeadFrames = 16, kTrailFrames = 4;

    // Starts the file in target at rate frames per second of one channel; null with the
    // reason when it cannot.
    static std::unique_ptr<M4bStream> Open(FileTarget& target, unsigned rate, std::string& why);
    ~M4bStream() override;
    M4bStream(const M4bStream&) = delete;
    M4bStream& operator=(const M4bStream&) = delete;

    void Tag(const std::string& title, const std::string& artist) override;
    bool Write(const int16_t* frames, size_t count, std::string& why) override;
    // Encodes what is held back and writes the file's index. Without it (a failure),
    // an MP4 file plays nothing.
    bool Finish(std::string& why) override;

  private:
    M4bStream() = default;
    void Encode(PieceEncoder::Piece& piece) const;
    bool Take(PieceEncoder::Piece& piece, std::string& why);
    // The target's own failure (a full disk) names the file; else the encoder's.
    bool Told(bool ok, std::string& why) const;

    FileTarget* target_ = nullptr;
    const m4b_bridge::Entry* writer_ = nullptr;
    m4b_bridge::Stream* stream_ = nullptr;
    m4b_bridge::Sink sink_;
    unsigned rate_ = 0;
    std::unique_ptr<PieceEncoder> pieces_;
};
