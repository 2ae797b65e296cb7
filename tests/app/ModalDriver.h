#pragma once
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <deque>
#include <functional>
#include <utility>

// Acts on the modal windows that open, one step per window in the order they come
// up; each step gets the window on top. A window that no step expects is cancelled
// after a while, so that a wrong expectation fails instead of hanging.
class ModalDriver {
  public:
    using Step = std::function<void(QWidget* top)>;

    ModalDriver() {
        timer_.setInterval(20);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
        timer_.start();
    }
    void Then(const char* className, Step step) { steps_.push_back({className, std::move(step)}); }
    bool Done() const { return steps_.empty(); }

  private:
    void Poll() {
        QWidget* top = QApplication::activeModalWidget();
        if (!top || !top->isVisible()) {
            idle_ = 0;
            return;
        }
        if (pending_) return;
        if (!steps_.empty() && top->inherits(steps_.front().first)) {
            idle_ = 0;
            pending_ = true;
            // Run from a call of its own: this timer does not fire again while its own
            // handler is still running, and the step may open the next window.
            QTimer::singleShot(0, top, [this, top, step = std::move(steps_.front().second)] {
                pending_ = false;
                step(top);
            });
            steps_.pop_front();
            return;
        }
        if (++idle_ > 250) {
            ADD_FAILURE() << "unexpected " << top->metaObject()->className() << " \""
                          << top->windowTitle().toStdString() << "\"";
            if (auto* dialog = qobject_cast<QDialog*>(top)) dialog->reject();
            idle_ = 0;
        }
    }

    QTimer timer_;
    std::deque<std::pair<const char*, Step>> steps_;
    bool pending_ = false;
    int idle_ = 0;
};
