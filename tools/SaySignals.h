#pragma once
// parlen-say's interrupts: SIGINT, SIGTERM and SIGHUP stop the text as Cancel does,
// through a pipe into the program's loop; a second one ends the program at once. SIGPIPE
// is ignored, so that a reader that quits shows as a failed write.
#include <functional>

class SaySignals {
  public:
    // Installs the handlers; interrupted runs on the loop's thread with the signal's
    // number, once.
    explicit SaySignals(std::function<void(int signal)> interrupted);
    ~SaySignals();
    SaySignals(const SaySignals&) = delete;
    SaySignals& operator=(const SaySignals&) = delete;

    // "SIGINT" and the like.
    static const char* Name(int signal);

    // Readable once a signal came; -1 when none can be watched (signals then end the
    // program as they normally do).
    int Descriptor() const;
    // Called by the loop when the descriptor is readable.
    void Deliver();
    // The signal caught since these handlers were installed, 0 for none: for work done
    // outside the loop, which asks between its steps.
    static int Caught();

  private:
    std::function<void(int signal)> interrupted_;
    bool delivered_ = false;
};

// Ignores SIGPIPE for the whole program.
void IgnoreBrokenPipes();
