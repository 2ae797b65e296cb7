#include "platform/audio/EncodeQueue.h"

#include <algorithm>
#include <utility>

EncodeQueue::EncodeQueue(std::unique_ptr<AudioEncoder> encoder, size_t capacity, Encoded encoded)
    : encoder_(std::move(encoder)),
      capacity_(capacity),
      encoded_(std::move(encoded)),
      thread_([this] { Run(); }) {}

EncodeQueue::~EncodeQueue() {
    std::string ignored;
    Finish(ignored);
}

size_t EncodeQueue::Room() {
    std::lock_guard lock(mutex_);
    // A failed queue takes anything, so that the writer learns of the failure.
    if (failed_ || finishing_) return capacity_;
    return queue_.size() < capacity_ ? capacity_ - queue_.size() : 0;
}

bool EncodeQueue::Push(const int16_t* frames, size_t count) {
    std::lock_guard lock(mutex_);
    if (failed_ || finishing_) return false;
    queue_.insert(queue_.end(), frames, frames + count);
    pushed_ = true;
    changed_.notify_all();
    return true;
}

void EncodeQueue::Tag(const std::string& title, const std::string& artist) {
    std::lock_guard lock(mutex_);
    // The thread touches the encoder only once frames were pushed.
    if (!pushed_ && encoder_) encoder_->Tag(title, artist);
}

bool EncodeQueue::Finish(std::string& why) {
    {
        std::lock_guard lock(mutex_);
        finishing_ = true;
        changed_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
    if (failed_) why = failure_;
    return !failed_;
}

void EncodeQueue::Run() {
    std::vector<int16_t> batch;
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !queue_.empty() || finishing_; });
        if (queue_.empty()) break;  // finishing, and all is encoded
        batch.swap(queue_);
        lock.unlock();
        std::string why;
        const bool ok = encoder_->Write(batch.data(), batch.size(), why);
        if (!ok) {
            // Complete the file with what it holds; its own failure is the one to tell.
            std::string ignored;
            encoder_->Close(ignored);
        }
        lock.lock();
        if (!ok) {
            failed_ = true;
            failure_ = why;
            queue_.clear();
        }
        lock.unlock();
        encoded_(ok ? batch.size() : 0, ok ? nullptr : &why);
        batch.clear();
        lock.lock();
        if (!ok) return;
    }
    lock.unlock();
    std::string why;
    if (!encoder_->Close(why)) {
        lock.lock();
        failed_ = true;
        failure_ = why;
    }
}
