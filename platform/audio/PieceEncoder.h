#pragma once
// Audio encoded in pieces on several threads at once and joined in order into one
// stream, for encoders whose frames each hold all their own data (MP3 without its bit
// reservoir, AAC).
//
// The stream is cut into pieces of a fixed count of frames, whatever the threads, so
// that the same audio always gives the same file. Each piece is handed to its encoder
// with the frames before it (its lead, so that its first frame's filter and transform
// run on the audio one encoder would have had) and after it (its trail, so that its
// last frame is not a flushed one); the encoder keeps only the piece's own frames. A
// piece starts on the frame grid of the whole stream, so with the same delay in every
// encoder each kept frame stands where one encoder would have put it. The last piece
// keeps everything from its lead on, the flushed frames with it.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class PieceEncoder {
  public:
    struct Piece {
        std::vector<int16_t> samples;  // from its lead on
        uint64_t start = 0;            // its first own sample in the stream
        size_t lead = 0;               // frames of samples before start
        bool last = false;
        // Filled by the encoder: its own frames one after another, each one's size and
        // (where the format needs them told) samples.
        std::vector<uint8_t> bytes;
        std::vector<uint32_t> sizes, durations;
        std::string why;  // when the encoder failed

        bool taken = false, done = false;
    };
    // Encodes a piece; runs on the threads, on pieces of its own.
    using Encode = std::function<void(Piece&)>;
    // Writes an encoded piece; runs on the caller's thread, in the stream's order.
    using Take = std::function<bool(Piece&, std::string& why)>;

    // threads: encoders at once (0: one per processor this process may run on, at
    // most 8).
    PieceEncoder(size_t frameSamples, size_t pieceFrames, size_t leadFrames, size_t trailFrames,
                 unsigned threads, Encode encode, Take take);
    ~PieceEncoder();  // stops the threads
    PieceEncoder(const PieceEncoder&) = delete;
    PieceEncoder& operator=(const PieceEncoder&) = delete;

    // Takes samples; dispatches the pieces they complete and writes those encoded.
    // False with the reason when an encoder or Take fails.
    bool Write(const int16_t* samples, size_t count, std::string& why);
    // Dispatches the last piece and writes every piece.
    bool Finish(std::string& why);
    uint64_t Samples() const { return samples_; }

  private:
    void Dispatch(bool last);
    void Run();
    // Writes the pieces done, in order, waiting for the next while more than `most`
    // are out.
    bool WriteDone(size_t most, std::string& why);

    const size_t frame_, piece_, lead_, trail_;
    const Encode encode_;
    const Take take_;

    std::vector<int16_t> held_;  // samples from the next piece's lead on
    uint64_t heldFrom_ = 0;      // the first held sample's index in the stream
    uint64_t samples_ = 0;       // given so far
    uint64_t pieces_ = 0;        // dispatched

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<Piece>> out_;  // dispatched, not yet written, in order
    std::vector<std::thread> threads_;
    bool stopping_ = false;
};
