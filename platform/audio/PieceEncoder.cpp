#include "platform/audio/PieceEncoder.h"

#include <sched.h>

#include <algorithm>

namespace {
unsigned Processors() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    return static_cast<unsigned>(std::max(1, CPU_COUNT(&set)));
}
}  // namespace

PieceEncoder::PieceEncoder(size_t frameSamples, size_t pieceFrames, size_t leadFrames,
                           size_t trailFrames, unsigned threads, Encode encode, Take take)
    : frame_(frameSamples),
      piece_(pieceFrames * frameSamples),
      lead_(leadFrames),
      trail_(trailFrames * frameSamples),
      encode_(std::move(encode)),
      take_(std::move(take)) {
    if (threads == 0) threads = std::min(Processors(), 8u);
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { Run(); });
}

PieceEncoder::~PieceEncoder() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

void PieceEncoder::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        const auto next = [&] {
            return std::find_if(out_.begin(), out_.end(), [](const auto& p) { return !p->taken; });
        };
        changed_.wait(lock, [&] { return stopping_ || next() != out_.end(); });
        if (stopping_) return;
        Piece& piece = **next();
        piece.taken = true;
        lock.unlock();
        encode_(piece);
        piece.samples = {};
        lock.lock();
        piece.done = true;
        changed_.notify_all();
    }
}

void PieceEncoder::Dispatch(bool last) {
    auto piece = std::make_unique<Piece>();
    piece->start = pieces_ * piece_;
    piece->lead = (piece->start - heldFrom_) / frame_;
    piece->last = last;
    const uint64_t end = last ? samples_ : piece->start + piece_ + trail_;
    piece->samples.assign(held_.begin(),
                          held_.begin() + static_cast<std::ptrdiff_t>(end - heldFrom_));
    ++pieces_;
    if (last) {
        held_ = {};
    } else {
        // The next piece's lead stays.
        const uint64_t nextLead = pieces_ * piece_ - lead_ * frame_;
        held_.erase(held_.begin(),
                    held_.begin() + static_cast<std::ptrdiff_t>(nextLead - heldFrom_));
        heldFrom_ = nextLead;
    }
    {
        const std::lock_guard lock(mutex_);
        out_.push_back(std::move(piece));
    }
    changed_.notify_all();
}

bool PieceEncoder::WriteDone(size_t most, std::string& why) {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (!out_.empty() && out_.front()->done) {
            std::unique_ptr<Piece> piece = std::move(out_.front());
            out_.pop_front();
            lock.unlock();
            if (!piece->why.empty()) {
                why = piece->why;
                return false;
            }
            if (!take_(*piece, why)) return false;
            lock.lock();
            continue;
        }
        if (out_.size() <= most) return true;
        changed_.wait(lock);
    }
}

bool PieceEncoder::Write(const int16_t* samples, size_t count, std::string& why) {
    held_.insert(held_.end(), samples, samples + count);
    samples_ += count;
    while (samples_ >= (pieces_ + 1) * piece_ + trail_) {
        Dispatch(false);
        // Two pieces a thread in hand: the threads never wait for the next, and what is
        // held stays a few pieces.
        if (!WriteDone(2 * threads_.size(), why)) return false;
    }
    return WriteDone(SIZE_MAX, why);
}

bool PieceEncoder::Finish(std::string& why) {
    Dispatch(true);
    return WriteDone(0, why);
}
