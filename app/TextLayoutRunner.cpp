#include "app/TextLayoutRunner.h"

#include <QAbstractTextDocumentLayout>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTimer>
#include <algorithm>
#include <climits>

#include "app/ErrorGuard.h"

TTextLayoutRunner::TTextLayoutRunner(QPlainTextEdit* memo)
    : QObject(memo), memo_(memo), timer_(new QTimer(this)) {
    timer_->setInterval(0);
    // About one frame of work per turn of the message loop.
    connect(timer_, &QTimer::timeout, this, [this] { LayOutSome(15); });
    connect(memo_->document(), &QTextDocument::contentsChange, this,
            [this](int from, int, int) { ScheduleFrom(from); });
}

bool TTextLayoutRunner::Pending() const {
    return timer_->isActive();
}

void TTextLayoutRunner::ScheduleFrom(int position) {
    const int block = std::max(memo_->document()->findBlock(position).blockNumber(), 0);
    nextBlock_ = timer_->isActive() ? std::min(nextBlock_, block) : block;
    timer_->start();
}

void TTextLayoutRunner::LayOutSome(int sliceMs) {
    QTextDocument* doc = memo_->document();
    QAbstractTextDocumentLayout* layout = doc->documentLayout();
    QElapsedTimer slice;
    slice.start();
    QTextBlock block = doc->findBlockByNumber(nextBlock_);
    while (block.isValid() && slice.elapsed() < sliceMs) {
        layout->blockBoundingRect(block);  // lays the block out when it is not yet
        block = block.next();
    }
    if (block.isValid()) {
        nextBlock_ = block.blockNumber();
    } else {
        Finished();
    }
}

void TTextLayoutRunner::Finished() {
    timer_->stop();
    memo_->window()->unsetCursor();
    // Work that runs may change the text and start the layout anew; what it gives
    // then waits for that.
    std::vector<Waiting> ready;
    ready.swap(waiting_);
    for (const Waiting& w : ready) ErrorGuard::Run(w.work);
}

void TTextLayoutRunner::DropWaiting() {
    waiting_.clear();
    memo_->window()->unsetCursor();
}

void TTextLayoutRunner::WhenLaidOut(int key, std::function<void()> work) {
    if (Pending()) {
        const QTextDocument* doc = memo_->document();
        const int left = doc->characterCount() - doc->findBlockByNumber(nextBlock_).position();
        if (left <= kAtOnceCharacters) LayOutSome(INT_MAX);
    }
    if (!Pending()) {
        work();
        return;
    }
    auto same = std::find_if(waiting_.begin(), waiting_.end(),
                             [key](const Waiting& w) { return w.key == key; });
    if (same != waiting_.end()) {
        same->work = std::move(work);
    } else {
        waiting_.push_back({key, std::move(work)});
    }
    memo_->window()->setCursor(Qt::BusyCursor);
}
