#include "platform/voices/SynthesisWorker.h"

#include <algorithm>
#include <chrono>

SynthesisWorker& SynthesisWorker::Instance() {
    static SynthesisWorker worker;
    return worker;
}

SynthesisWorker::SynthesisWorker() : thread_([this] { Loop(); }) {}

SynthesisWorker::~SynthesisWorker() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void SynthesisWorker::Add(std::shared_ptr<SynthesisClient> client) {
    {
        std::lock_guard lock(mutex_);
        clients_.push_back(std::move(client));
        pending_ = true;
    }
    wake_.notify_all();
}

void SynthesisWorker::Remove(const SynthesisClient* client) {
    std::shared_ptr<SynthesisClient> last;  // released outside the lock
    std::unique_lock lock(mutex_);
    auto it = std::find_if(clients_.begin(), clients_.end(),
                           [client](const auto& c) { return c.get() == client; });
    if (it != clients_.end()) {
        last = std::move(*it);
        clients_.erase(it);
    }
    if (std::this_thread::get_id() != thread_.get_id())
        done_.wait(lock, [&] { return running_ != client; });
}

void SynthesisWorker::Wake() {
    {
        std::lock_guard lock(mutex_);
        pending_ = true;
    }
    wake_.notify_all();
}

void SynthesisWorker::RunSync(const std::function<void()>& call) {
    if (std::this_thread::get_id() == thread_.get_id()) {
        call();
        return;
    }
    std::function<void()> copy = call;
    std::unique_lock lock(mutex_);
    calls_.push_back(&copy);
    wake_.notify_all();
    done_.wait(lock, [&] {
        return std::find(calls_.begin(), calls_.end(), &copy) == calls_.end() &&
               runningCall_ != &copy;
    });
}

void SynthesisWorker::Post(std::function<void()> call) {
    {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(call));
    }
    wake_.notify_all();
}

void SynthesisWorker::Loop() {
    size_t next = 0;
    std::unique_lock lock(mutex_);
    while (!stop_) {
        if (!calls_.empty()) {
            std::function<void()>* call = calls_.front();
            calls_.erase(calls_.begin());
            runningCall_ = call;
            lock.unlock();
            (*call)();
            lock.lock();
            runningCall_ = nullptr;
            done_.notify_all();
            continue;
        }
        if (!posted_.empty()) {
            std::vector<std::function<void()>> posted;
            posted.swap(posted_);
            lock.unlock();
            for (auto& call : posted) call();
            posted.clear();
            lock.lock();
            continue;
        }
        pending_ = false;
        bool progress = false;
        // One step for each client in turn, starting where the last round stopped.
        const size_t count = clients_.size();
        for (size_t k = 0; k < count && !stop_ && calls_.empty(); ++k) {
            if (clients_.empty()) break;
            next %= clients_.size();
            std::shared_ptr<SynthesisClient> client = clients_[next++];
            running_ = client.get();
            lock.unlock();
            progress = client->Step() || progress;
            client.reset();  // may be the last reference: never drop it under the lock
            lock.lock();
            running_ = nullptr;
            done_.notify_all();
        }
        if (!progress && !pending_ && calls_.empty() && posted_.empty() && !stop_) {
            // Destinations report growing room through Wake; the timeout covers any
            // that do not.
            wake_.wait_for(lock, std::chrono::milliseconds(20));
        }
    }
}
