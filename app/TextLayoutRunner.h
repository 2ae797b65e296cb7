#pragma once
// Lays out a text box's paragraphs in small steps between messages, so that a long text
// never freezes the window and collecting the box's lines later (Speak, Save...) finds
// the work done. Work that needs the whole text laid out waits for it: when little is
// left it is finished at once, otherwise the rest is laid out between messages while
// the window keeps answering, and the work runs then.
#include <QObject>
#include <functional>
#include <vector>

class QPlainTextEdit;
class QTimer;

class TTextLayoutRunner : public QObject {
    Q_OBJECT
  public:
    // What may be laid out at once, in characters (about 50 ms of work).
    static constexpr int kAtOnceCharacters = 256 * 1024;

    explicit TTextLayoutRunner(QPlainTextEdit* memo);

    // True while paragraphs are still waiting to be laid out.
    bool Pending() const;
    // Runs work once every paragraph is laid out: now, or later from the message loop
    // under the error guard. Work given again under the same key before it ran replaces
    // the earlier one; pieces of work run in the order first given.
    void WhenLaidOut(int key, std::function<void()> work);
    // Forgets the work still waiting: it will not run.
    void DropWaiting();

  private:
    void ScheduleFrom(int position);
    void LayOutSome(int sliceMs);
    void Finished();

    QPlainTextEdit* memo_;
    QTimer* timer_;
    int nextBlock_ = 0;
    struct Waiting {
        int key;
        std::function<void()> work;
    };
    std::vector<Waiting> waiting_;
};
