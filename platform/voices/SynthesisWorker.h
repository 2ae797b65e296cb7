#pragma once
// The one synthesis thread of the process. espeak-ng is not reentrant, so this
// thread makes every synthesiser call; it serves all engines round-robin, one piece
// of work per engine and turn, so a paused engine (whose look-ahead is full) never
// holds up another.
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// A client of the worker: an engine's shared state.
class SynthesisClient {
  public:
    virtual ~SynthesisClient() = default;
    // Does one bounded piece of work; true when it made progress.
    virtual bool Step() = 0;
};

class SynthesisWorker {
  public:
    static SynthesisWorker& Instance();
    ~SynthesisWorker();

    void Add(std::shared_ptr<SynthesisClient> client);
    // After Remove returns, the worker no longer runs a Step of client.
    void Remove(const SynthesisClient* client);
    // Work may be waiting (text queued, room in a destination, resume).
    void Wake();
    // Runs call on the worker thread and waits for it.
    void RunSync(const std::function<void()>& call);
    // Runs call on the worker thread later; the call is also destroyed there.
    void Post(std::function<void()> call);

  private:
    SynthesisWorker();
    void Loop();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::vector<std::shared_ptr<SynthesisClient>> clients_;
    std::vector<std::function<void()>*> calls_;
    std::vector<std::function<void()>> posted_;
    const SynthesisClient* running_ = nullptr;
    const std::function<void()>* runningCall_ = nullptr;
    bool pending_ = false;
    bool stop_ = false;
    std::thread thread_;
};
