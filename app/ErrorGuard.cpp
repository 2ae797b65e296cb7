#include "app/ErrorGuard.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <exception>

#include "platform/Apartment.h"
#include "support/Errors.h"
#include "support/qt/TextCodec.h"

namespace ErrorGuard {
namespace {
BoxHook& Hook() {
    static BoxHook hook;
    return hook;
}

void ShowBox(const QString& title, const QString& text) {
    if (Hook()) {
        Hook()(title, text);
        return;
    }
    // Modal to the whole application; the window active before gets the focus back.
    QPointer<QWidget> before = QApplication::activeWindow();
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok, before.data());
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    if (before) before->activateWindow();
}
}  // namespace

QString ApplicationTitle() {
    return QGuiApplication::applicationDisplayName();
}

void ShowError(const std::string& message) {
    ShowBox(ApplicationTitle(), DecodeText(ErrorBoxText(message)));
}

bool Run(const Handler& handler) {
    // The box is shown after the handler has unwound, so nothing of it stays on the stack.
    std::string message;
    try {
        handler();
        return true;
    } catch (const std::exception& e) {
        message = e.what();
    } catch (...) {
        message = "Unknown error";
    }
    try {
        ShowError(message);
    } catch (...) {
        // Showing must never throw into the loop either.
    }
    return false;
}

void InstallForNotifications() {
    Apartment::SetGuard([](const Apartment::Call& call) { Run(call); });
}

void SetErrorBoxHook(BoxHook hook) {
    Hook() = std::move(hook);
}

}  // namespace ErrorGuard
