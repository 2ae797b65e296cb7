#pragma once
// The few desktop services the window and the hyperlink label use, each behind a
// hook so that tests can observe them: the default beep (QApplication::beep does
// nothing on the offscreen platform), opening an address with the user's default
// handler, and the pointer's screen position.
#include <QPoint>
#include <QString>
#include <functional>

// The system's default message beep.
void DefaultBeep();

// Hands url to the user's default handler ("xdg-open") without waiting for it.
// done, when given, is called later on the calling thread with whether the handler
// could be started and reported success (exit code 0). A handler that keeps running
// is never killed, not even when the program ends.
void OpenUrlWithDefaultHandler(const QString& url, std::function<void(bool ok)> done = {});

// The pointer's position in screen coordinates.
QPoint PointerPosition();

// Test hooks; an empty function restores the real service. The open hook's result is
// the outcome passed to done, which is still called asynchronously.
void SetBeepHook(std::function<void()> hook);
void SetOpenUrlHook(std::function<bool(const QString&)> hook);
void SetPointerPositionHook(std::function<QPoint()> hook);
