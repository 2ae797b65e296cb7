#pragma once
// Encoding on a thread of its own: frames handed over are queued (a bounded amount)
// and encoded into the file while synthesis goes on, so a compressed render costs
// about the slower of the two rather than their sum.
//
// The queue tells its owner, on the encoding thread and without its own lock held,
// each time frames went into the file, and once when writing failed: the file is then
// completed with what it holds and nothing more is taken.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/AudioEncoder.h"

class EncodeQueue {
  public:
    // `encoded` gets the frames just written, and the failure's reason (else null).
    using Encoded = std::function<void(uint64_t frames, const std::string* failure)>;

    EncodeQueue(std::unique_ptr<AudioEncoder> encoder, size_t capacity, Encoded encoded);
    // Finishes when Finish was not called.
    ~EncodeQueue();
    EncodeQueue(const EncodeQueue&) = delete;
    EncodeQueue& operator=(const EncodeQueue&) = delete;

    // Frames that may be pushed now.
    size_t Room();
    // Queues the frames; false once writing has failed.
    bool Push(const int16_t* frames, size_t count);
    // Title and artist, taken only while nothing was pushed yet.
    void Tag(const std::string& title, const std::string& artist);
    // Encodes what is queued, completes the file and ends the thread. False with the
    // reason when writing or completing failed (a failure already told comes again).
    bool Finish(std::string& why);

  private:
    void Run();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::unique_ptr<AudioEncoder> encoder_;  // the thread's while it runs
    const size_t capacity_;
    Encoded encoded_;
    std::vector<int16_t> queue_;
    bool pushed_ = false;
    bool finishing_ = false;
    bool failed_ = false;
    std::string failure_;
    std::thread thread_;  // last: starts when all else is ready
};
