#pragma once
// The one error guard of the program. Every handler of the main window and every
// notification of the speech components runs through Run: an error that leaves the
// handler is caught here and shown in the error box, and the message loop carries on.
// No exception ever unwinds into Qt.
#include <QString>
#include <functional>
#include <string>

namespace ErrorGuard {

using Handler = std::function<void()>;
using BoxHook = std::function<void(const QString& title, const QString& text)>;

// Runs handler; an error leaving it is shown. Returns false when it failed.
bool Run(const Handler& handler);

// Shows the error box for a message (the "." rule of ErrorBoxText applies).
void ShowError(const std::string& message);

// The caption of error boxes: the application title at this moment.
QString ApplicationTitle();

// Routes the speech components' notifications through Run.
void InstallForNotifications();

// Test seam: when set, the box is not opened; the hook receives title and text.
void SetErrorBoxHook(BoxHook hook);

}  // namespace ErrorGuard
