#pragma once
// An MP3 file encoded by LAME in pieces on several threads at once, joined into one
// stream that decodes as one encoder's would, frame for frame in time.
//
// The stream is cut into pieces of a fixed count of frames, whatever the threads, so
// that the same audio always gives the same file. Each piece is encoded by an encoder
// of its own, which is given the frames before the piece (so that its first frame's
// filter and transform run on the audio a single encoder would have had) and after
// it (so that its last frame is not a flushed one), and keeps only the piece's own
// frames. Every piece starts on the frame grid of the whole stream, and LAME's delay
// is the same for every encoder, so each kept frame stands where a single encoder
// would have put it. The bit reservoir is off: a frame then holds all its own data,
// and frames of different encoders can follow each other. The first frame is LAME's
// Info tag, completed for the whole stream (frame count, delay and padding), so that
// decoders play exactly the samples given. LAME's ID3 tags come before (v2, for fields
// longer than v1 holds) and after.
#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/EncodedStream.h"
#include "platform/audio/FileTarget.h"

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
    ~Mp3Stream() override;  // stops the encoders
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
    struct Piece;
    Mp3Stream() = default;
    void Dispatch(bool last);
    void Encode(Piece& piece) const;
    void Run();
    // Writes the pieces done, in order; with wait, waits for the next while more than
    // `most` are out.
    bool WriteDone(size_t most, std::string& why);
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

    std::vector<int16_t> held_;  // samples from the next piece's lead on
    uint64_t heldFrom_ = 0;      // the first held sample's index in the stream
    uint64_t samples_ = 0;       // given so far
    uint64_t pieces_ = 0;        // dispatched

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<Piece>> out_;  // dispatched, not yet written, in order
    std::vector<std::thread> threads_;
    bool stopping_ = false;

    // What is written: frames and their bytes, checksum, and the file's size after them.
    uint32_t frames_ = 0;
    uint64_t audioBytes_ = 0;
    uint16_t audioCrc_ = 0;
    std::vector<uint8_t> partial_;  // a piece that failed to go in whole
    std::string title_, artist_;
};
