#pragma once
// An MP3 file encoded by LAME in pieces on several threads at once (PieceEncoder.h),
// joined into one stream that decodes as one encoder's would, frame for frame in time.
// The bit reservoir is off: a frame then holds all its own data, and frames of
// different encoders can follow each other. The first frame is LAME's Info tag,
// completed for the whole stream (frame count, delay and padding), so that decoders
// play exactly the samples given. LAME's ID3 tags come before (v2, for fields longer
// than v1 holds) and after.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio/EncodedStream.h"
#include "platform/audio/FileTarget.h"
#include "platform/audio/PieceEncoder.h"

class Mp3Stream : public EncodedStream {
  public:
    // Frames of each piece, and around it.
    static constexpr size_t kPieceFrames = 384, kLeadFrames = 4, kTrailFrames = 4;

    // Starts the file in target: one channel at rate, CBR at kbps, the ID3v1 comment
    // (Latin-1). threads: encoders at once (0: one per processor this process may run
    // on). Null with why.
    static std::unique_ptr<Mp3Stream> Open(FileTarget& target, unsigned rate, int kbps,
                                           unsigned threads, const std::string& comment,
                                           std::string& why);
    ~Mp3Stream() override = default;
    Mp3Stream(const Mp3Stream&) = delete;
    Mp3Stream& operator=(const Mp3Stream&) = delete;

    // Latin-1.
    void Tag(const std::string& title, const std::string& artist) override;
    bool Write(const int16_t* samples, size_t count, std::string& why) override;
    // Encodes the rest, writes the ID3v1 tag and completes the Info tag.
    bool Finish(std::string& why) override;
    // The file is cut after its last whole frame and its Info tag completed for the
    // frames it holds; false when it holds none.
    bool KeepWhole() override;

  private:
    Mp3Stream() = default;
    void Encode(PieceEncoder::Piece& piece) const;
    bool Take(PieceEncoder::Piece& piece, std::string& why);
    // Counts frames written whole.
    void Count(const uint8_t* bytes, size_t size, uint32_t frames);
    // The ID3v2 tag and the Info frame's place, before the first audio.
    bool Head(std::string& why);
    bool Put(const uint8_t* data, size_t size, std::string& why);
    // The Info tag for the frames written, holding `samples`.
    bool CompleteTag(uint64_t samples);

    FileTarget* target_ = nullptr;
    unsigned rate_ = 0;
    int kbps_ = 0;
    size_t frameSamples_ = 0;  // 1152 or 576
    unsigned delay_ = 0;
    std::vector<uint8_t> info_;  // the Info tag frame
    std::string comment_;
    bool headWritten_ = false;
    size_t infoAt_ = 0;  // after the ID3v2 tag
    std::vector<uint8_t> id3v1_;

    std::unique_ptr<PieceEncoder> pieces_;

    // What is written: frames and their bytes, checksum, and the file's size after them.
    uint32_t frames_ = 0;
    uint64_t audioBytes_ = 0;
    uint16_t audioCrc_ = 0;
    std::vector<uint8_t> partial_;  // a piece that failed to go in whole
    std::string title_, artist_;
};
