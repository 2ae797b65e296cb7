// bench_window: the main window on the real engines and the sound server.
//
//   bench_window stalls --voice NAME --text FILE [--dir DIR]
//       the longest stalls of the message loop with a 5 MB text made of FILE
//   bench_window word-sync --voice NAME [--dir DIR]
//       how far each word highlight lies from the moment its word is heard
//
// Prints "name: value ms" lines, or "name: error reason"; details go to standard error.
#include <QApplication>
#include <QFont>
#include <cstdio>
#include <string>

#include "WindowBench.h"
#include "app/fmMain.h"
#include "platform/ClassRegistry.h"
#include "platform/service/SpeechService.h"

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "", voice, textPath, dir = "/tmp";
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        if (key == "--voice")
            voice = argv[i + 1];
        else if (key == "--text")
            textPath = argv[i + 1];
        else if (key == "--dir")
            dir = argv[i + 1];
    }
    if (voice.empty() || (mode == "stalls" && textPath.empty()) ||
        (mode != "stalls" && mode != "word-sync")) {
        std::fprintf(stderr,
                     "usage: bench_window stalls --voice NAME --text FILE [--dir DIR]\n"
                     "       bench_window word-sync --voice NAME [--dir DIR]\n");
        return 2;
    }

    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QApplication::setFont(QFont("Liberation Sans", 8));
    CoInitialize(nullptr);
    RegisterSpeechService();
    QGuiApplication::setApplicationDisplayName(PARLEN_MAKER_SITE " - Parlen Maker");
    int code = 1;
    {
        WindowBench bench;
        bench.Open(voice);
        code = mode == "stalls" ? MeasureStalls(bench, textPath, dir)
                                : MeasureWordSync(bench, voice, dir);
        bench.Form().close();
        WindowBench::RunUntil(nullptr, 300);
    }
    CoUninitialize();
    return code;
}
