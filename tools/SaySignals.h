#pragma once
// parlen-say's interrupts: SIGINT, SIGTERM and SIGHUP stop the text as Cancel does,
// through a pipe into the event loop; a second one ends the program at once. SIGPIPE is
// ignored, so that a reader that quits shows as a failed write.
#include <QObject>
#include <functional>

class SaySignals {
  public:
    // Installs the handlers; interrupted runs on the event loop's thread with the
    // signal's number, once.
    explicit SaySignals(std::function<void(int signal)> interrupted);
    ~SaySignals();
    SaySignals(const SaySignals&) = delete;
    SaySignals& operator=(const SaySignals&) = delete;

    // "SIGINT" and the like.
    static const char* Name(int signal);

  private:
    QObject context_;
};

// Ignores SIGPIPE for the whole program.
void IgnoreBrokenPipes();
