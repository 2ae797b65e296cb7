#include "platform/render/EngineEvents.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "platform/Apartment.h"

void EngineEvents::Emit(const Event& event, uint64_t gen) {
    if (batchThread_.load(std::memory_order_relaxed) == std::this_thread::get_id()) {
        batch_.emplace_back(event, gen);
        return;
    }
    std::lock_guard lock(mutex_);
    if (gen != gen_ || !alive_) return;
    PushLocked(event);
}

void EngineEvents::BeginBatch() {
    batchThread_.store(std::this_thread::get_id(), std::memory_order_relaxed);
}

void EngineEvents::EndBatch() {
    batchThread_.store(std::thread::id{}, std::memory_order_relaxed);
    auto batch = std::exchange(batch_, {});
    if (batch.empty()) return;
    std::lock_guard lock(mutex_);
    for (auto& [event, gen] : batch)
        if (gen == gen_ && alive_) PushLocked(std::move(event));
}

void EngineEvents::Lost(HRESULT code, const std::string& description) {
    std::lock_guard lock(mutex_);
    if (!alive_) return;
    lost_ = Event{Event::Kind::Failed, nullptr};
    lost_->failure = code;
    lost_->description = description;
}

ComPtr<IParlenWordTimesSink> EngineEvents::WordTimesOf(const ComPtr<ITTSBufNotifySink>& sink) {
    if (!sink) return nullptr;
    if (sink.Get() != timesAsked_.Get()) {
        timesAsked_ = sink;
        times_ = nullptr;
        if (FAILED(sink.As(times_))) times_ = nullptr;
    }
    return times_;
}

void EngineEvents::PushLocked(Event event) {
    using Kind = Event::Kind;
    if (event.kind == Kind::TextStarted || event.kind == Kind::Failed) {
        lost_.reset();  // a later text, or a text that tells its own failure
    } else if (event.kind == Kind::AudioStop && event.sink && lost_) {
        Event failed = std::move(*lost_);
        lost_.reset();
        failed.sink = event.sink;
        PushLocked(std::move(failed));
    }
    if (event.kind == Kind::TextStarted || event.kind == Kind::AudioStop) {
        timesAsked_ = nullptr;  // the text's sink goes with its text
        times_ = nullptr;
    }
    if (event.kind == Kind::AudioStart) {
        if (!open_) ++openings_;
        open_ = true;
        openSink_ = event.sink;
    } else if (event.kind == Kind::AudioStop) {
        open_ = false;
        openSink_ = nullptr;
    }
    // Coalesced as they come, so the queue stays short however long the UI thread
    // is busy: a word supersedes the words and mouth shapes queued since the last
    // other event, and a mouth shape supersedes the shapes queued since the last word.
    // A superseded word of a sink that takes every word goes along with its successor.
    // A sentence end waits for the next word, which takes it along.
    if (event.kind == Kind::Word || event.kind == Kind::SentenceEnd)
        event.times = WordTimesOf(event.sink);
    if (event.kind == Kind::SentenceEnd && !event.times) return;
    auto supersedes = [&event](const Event& last) {
        return last.kind == Kind::Visual ||
               (event.kind == Kind::Word &&
                (last.kind == Kind::Word || last.kind == Kind::SentenceEnd));
    };
    if (event.kind == Kind::Word || event.kind == Kind::Visual) {
        while (!queue_.empty() && supersedes(queue_.back())) {
            Event& last = queue_.back();
            if (event.times && last.kind != Kind::Visual && last.sink.Get() == event.sink.Get()) {
                if (last.kind == Kind::Word)
                    last.earlier.push_back(ParlenWordTime{last.offset, last.frame});
                last.earlier.insert(last.earlier.end(), event.earlier.begin(), event.earlier.end());
                event.earlier = std::move(last.earlier);
            }
            queue_.pop_back();
        }
    }
    const bool word = event.kind == Kind::Word;
    // Every word position is followed by a mouth shape.
    Event visual{Kind::Visual, nullptr, 0, event.mouth, event.phoneme, event.hints, event.frame};
    queue_.push_back(std::move(event));
    if (word) queue_.push_back(std::move(visual));
    if (!posted_) {
        posted_ = Apartment::Post([self = shared_from_this()] { self->Drain(); });
        if (!posted_) queue_.clear();  // no apartment: nobody to tell
    }
}

void EngineEvents::NewGeneration(uint64_t gen, bool stopLater) {
    std::lock_guard lock(mutex_);
    gen_ = gen;
    lost_.reset();
    timesAsked_ = nullptr;
    times_ = nullptr;
    if (!open_ || !alive_) return;
    if (stopLater)
        stopLater_ = true;
    else if (!stopLater_)
        PushLocked(Event{Event::Kind::AudioStop, openSink_});
}

void EngineEvents::StopNow(HRESULT failure, const std::string& description) {
    std::lock_guard lock(mutex_);
    if (!std::exchange(stopLater_, false) || !open_ || !alive_) return;
    if (FAILED(failure)) {
        Event failed{Event::Kind::Failed, openSink_};
        failed.failure = failure;
        failed.description = description;
        PushLocked(std::move(failed));
    }
    PushLocked(Event{Event::Kind::AudioStop, openSink_});
}

std::function<void()> EngineEvents::Resumed(uint64_t gen, uint64_t frame) {
    std::lock_guard lock(mutex_);
    if (!open_ || !alive_ || gen != gen_) return {};
    std::weak_ptr<EngineEvents> self = weak_from_this();
    return [self, gen, frame, opening = openings_] {
        if (auto events = self.lock()) events->HeardAgain(gen, opening, frame);
    };
}

void EngineEvents::HeardAgain(uint64_t gen, uint64_t opening, uint64_t frame) {
    std::lock_guard lock(mutex_);
    if (gen != gen_ || !alive_ || !open_ || opening != openings_) return;
    Event start{Event::Kind::AudioStart, openSink_};
    start.frame = frame;
    PushLocked(start);
}

void EngineEvents::Close() {
    alive_ = false;
    std::lock_guard lock(mutex_);
    queue_.clear();
    openSink_ = nullptr;
    timesAsked_ = nullptr;
    times_ = nullptr;
    sinks_.clear();
}

DWORD EngineEvents::Register(ComPtr<ITTSNotifySinkA> sink) {
    std::lock_guard lock(mutex_);
    const DWORD key = nextKey_++;
    sinks_[key] = std::move(sink);
    return key;
}

bool EngineEvents::Unregister(DWORD key) {
    ComPtr<ITTSNotifySinkA> dropped;  // released outside the lock
    std::lock_guard lock(mutex_);
    auto it = sinks_.find(key);
    if (it == sinks_.end()) return false;
    dropped = std::move(it->second);
    sinks_.erase(it);
    return true;
}

size_t EngineEvents::Queued() {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

void EngineEvents::Drain() {
    std::deque<Event> batch;
    std::map<DWORD, ComPtr<ITTSNotifySinkA>> sinks;
    {
        std::lock_guard lock(mutex_);
        batch.swap(queue_);
        posted_ = false;
        sinks = sinks_;
    }
    for (Event& e : batch) Deliver(e, sinks);
}

void EngineEvents::Deliver(Event& e, const std::map<DWORD, ComPtr<ITTSNotifySinkA>>& sinks) {
    using Kind = Event::Kind;
    // Each call runs under the guard by itself, so a failing handler costs only its
    // own notification; a handler may also release the engine, which ends delivery.
    auto run = [this](const auto& call) {
        if (alive_) Apartment::RunGuarded(call);
    };
    const QWORD stamp = e.frame;
    switch (e.kind) {
        case Kind::TextStarted:
            if (e.sink) run([&] { e.sink->TextDataStarted(stamp); });
            break;
        case Kind::AudioStart:
            for (const auto& entry : sinks) run([&] { entry.second->AudioStart(stamp); });
            break;
        case Kind::Word:
            if (e.times) {
                std::vector<ParlenWordTime>& words = e.earlier;
                words.push_back(ParlenWordTime{e.offset, e.frame});
                run([&] { e.times->WordsRendered(words.data(), words.size(), rate_); });
            }
            if (e.sink) run([&] { e.sink->WordPosition(stamp, e.offset); });
            break;
        case Kind::SentenceEnd:
            run([&] { e.times->WordsRendered(e.earlier.data(), e.earlier.size(), rate_); });
            break;
        case Kind::Visual:
            for (const auto& entry : sinks) {
                const ComPtr<ITTSNotifySinkA>& sink = entry.second;
                TTSMOUTH mouth = e.mouth;  // the sink may keep the pointer for the call only
                run([&] { sink->Visual(stamp, 0, e.phoneme, e.hints, &mouth); });
            }
            break;
        case Kind::Failed:
            if (e.sink) {
                ComPtr<IParlenTextFailureSink> told;
                if (SUCCEEDED(e.sink.As(told)))
                    run([&] { told->TextFailed(stamp, e.failure, e.description.c_str()); });
            }
            break;
        case Kind::AudioStop:
            for (const auto& entry : sinks) run([&] { entry.second->AudioStop(stamp); });
            if (e.sink) run([&] { e.sink->TextDataDone(stamp, 0); });
            break;
    }
}
