#pragma once
// The books of a parlen-say batch, each rendered by a child process forked before this
// process ever starts an engine: the engines keep state from one text to the next
// (espeak-ng's wave generator among it), so each book starts as a run of its own would,
// and a batch resumed after an interrupt writes the very samples an uninterrupted one
// does. Several children run at once, each with its share of the render processes.
// Their standard error is passed on line by line, and the last line of a child is the
// reason its book failed. SIGINT, SIGTERM and SIGHUP are passed to the children once.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/SayBatch.h"

// A line per book being rendered, kept current at the foot of a terminal; elsewhere
// nothing but the log lines.
class StatusBoard {
  public:
    explicit StatusBoard(bool terminal) : terminal_(terminal) {}
    // A log line, printed above the board.
    void Print(const std::string& line);
    // The book's line, shown from now on; empty drops it.
    void Set(size_t book, std::string text);

  private:
    void Clear();
    void Draw();
    bool terminal_;
    std::vector<std::pair<size_t, std::string>> lines_;
    size_t drawn_ = 0;
};

struct ChildResult {
    int code = 0;
    std::string why;  // the child's last line on a failure
};

// Renders books through say in up to atOnce children at a time. next gives the next
// book to start (its number in the batch, its run), or nothing when none is left;
// done is told of each one as it ends. Returns false when a signal stopped the batch.
bool RenderInChildren(const SayOneBook& say, unsigned atOnce, StatusBoard& board,
                      const std::function<std::optional<std::pair<size_t, BookRun>>()>& next,
                      const std::function<void(size_t book, const ChildResult& result)>& done);

// "1:05", for the time left.
std::string MinutesSeconds(double seconds);
