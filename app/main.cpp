// Parlen Maker: a text-to-speech converter with one window.
#include <QApplication>
#include <QDirIterator>
#include <QFont>
#include <QIcon>
#include <QTimer>
#include <cstdio>

#include "app/StartUpReport.h"
#include "app/fmMain.h"
#include "platform/ClassRegistry.h"
#include "platform/service/SpeechService.h"

namespace {
// Names the program to the desktop before any window exists: docks match a window to
// its desktop entry by the window class (X11, the application name) or by the desktop
// file name (Wayland), and show the icon of that entry.
void SetIdentity() {
    QCoreApplication::setApplicationName(PARLEN_WM_CLASS);
    QCoreApplication::setApplicationVersion(PARLEN_VERSION);
    QGuiApplication::setDesktopFileName(PARLEN_APP_ID);
    // The installed theme icon; the sizes built in where the theme does not have it
    // (a program run from its build folder, a desktop with another icon path).
    QIcon builtIn;
    QDirIterator icons(":/icons", QDir::Files, QDirIterator::Subdirectories);
    while (icons.hasNext()) builtIn.addFile(icons.next());
    QApplication::setWindowIcon(QIcon::fromTheme(PARLEN_APP_ID, builtIn));
}
}  // namespace

int main(int argc, char** argv) {
    // The command line is not read; Qt only needs a valid pair.
    int qtArgc = argc > 0 ? 1 : 0;
    QApplication app(qtArgc, argv);
    SetIdentity();
    QApplication::setFont(QFont("Liberation Sans", 8));
    const HRESULT com = CoInitialize(nullptr);
    RegisterSpeechService();
    QGuiApplication::setApplicationDisplayName(PARLEN_MAKER_SITE " - Parlen Maker");
    {
        TFormMain form;
        // Closing the window ends the loop, whatever else is shown or running then: the
        // toolkit's own quit after the last window is called off by any window shown
        // before it comes round, such as an error box of work that ends after the close.
        QObject::connect(&form, &TFormMain::Closed, &app, &QCoreApplication::quit,
                         Qt::QueuedConnection);
        form.show();
        form.activateWindow();  // without a window manager nothing else gives it the focus
        // Check hook of the install, package and X server tests: report what start-up
        // found, then end, that many milliseconds after the window is shown.
        if (const int ms = qEnvironmentVariableIntValue("PARLEN_EXIT_AFTER_SHOW"); ms > 0)
            QTimer::singleShot(ms, &form, [&form] {
                std::fputs(StartUpReport(form).toUtf8().constData(), stdout);
                if (qEnvironmentVariableIsSet("PARLEN_SCREENSHOTS"))
                    SaveScreenshots(form, qEnvironmentVariable("PARLEN_SCREENSHOTS"));
                form.close();
            });
        app.exec();
    }
    if (com >= 0) CoUninitialize();
    return 0;
}
