// Parlen Maker: a text-to-speech converter with one window.
#include <QApplication>
#include <QFont>

#include "app/fmMain.h"
#include "platform/ClassRegistry.h"
#include "platform/service/SpeechService.h"

int main(int argc, char** argv) {
    // The command line is not read; Qt only needs a valid pair.
    int qtArgc = argc > 0 ? 1 : 0;
    QApplication app(qtArgc, argv);
    QApplication::setFont(QFont("Liberation Sans", 8));
    const HRESULT com = CoInitialize(nullptr);
    RegisterSpeechService();
    QGuiApplication::setApplicationDisplayName(PARLEN_MAKER_SITE " - Parlen Maker");
    {
        TFormMain form;
        form.show();
        form.activateWindow();  // without a window manager nothing else gives it the focus
        app.exec();
    }
    if (com >= 0) CoUninitialize();
    return 0;
}
