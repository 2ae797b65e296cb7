#pragma once
// The main window driven without a person for the window's benchmarks: file dialogs
// answer from a queue, error boxes are kept as the measurement's error, and the
// message loop runs between steps.
#include <QString>
#include <chrono>
#include <cstdio>
#include <deque>
#include <functional>
#include <string>

class QPushButton;
class TFormMain;

class WindowBench {
  public:
    using Clock = std::chrono::steady_clock;

    WindowBench();
    ~WindowBench();
    WindowBench(const WindowBench&) = delete;
    WindowBench& operator=(const WindowBench&) = delete;

    // Shows the window, lets the start-up phrase run out and picks the voice as the
    // user does; false with Error() when that fails.
    bool Open(const std::string& voice);
    TFormMain& Form() { return *form_; }

    // Names the next file dialogs return.
    std::deque<QString> answers;
    // The first failure of the measurement ("" while none).
    const std::string& Error() const { return error_; }
    void Fail(const std::string& why) {
        if (error_.empty()) error_ = why;
    }

    // Runs the message loop until done() holds or ms pass; true when done() held.
    static bool RunUntil(const std::function<bool()>& done, int ms);
    // Clicks the button from inside the message loop, so that a stall meter sees the
    // handler; before runs just ahead of the click.
    static void ClickLater(QPushButton* button, std::function<void()> before = {});
    // Until the converter shows "Speak" again after the speech that starts now.
    bool WaitForSpeechEnd(int ms);
    // Prints "name: value ms" or, after a failure, "name: error reason".
    void Print(const char* name, double ms, int decimals = 0);

  private:
    TFormMain* form_ = nullptr;
    std::string error_;
};

// The measurements: each prints its figures and returns the exit status.
int MeasureStalls(WindowBench& bench, const std::string& textPath, const std::string& dir);
int MeasureWordSync(WindowBench& bench, const std::string& voice, const std::string& dir);
