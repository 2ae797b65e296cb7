// parlen-say: speaks a text aloud or renders it into a WAV file through the speech
// component, or lists the installed voices with their probed ranges.
//
//   parlen-say [--list] [--voice NAME] [--pitch N] [--speed N] [--volume PERCENT]
//              [--wav FILE] [--events] [--jobs N] [--help] [--version] [FILE|-]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <cstdio>
#include <new>
#include <optional>
#include <span>
#include <string>

#include "platform/Apartment.h"
#include "platform/ClassRegistry.h"
#include "platform/service/SpeechService.h"
#include "speech/mSpeech.h"
#include "support/Errors.h"
#include "tools/SayInput.h"
#include "tools/SayOptions.h"

namespace {

// An engine reports at least every word while it speaks; this long without any report
// (before the start or after it) means it refused the text silently or got stuck.
constexpr int kSilenceTimeoutMs = 15000;

int List() {
    TMSpeech speech;
    if (!speech.Initialized()) {
        std::fprintf(stderr, "parlen-say: the speech service cannot be read\n");
        return kFailure;
    }
    // File output: probing needs no sound server.
    speech.SetOutput(soFile);
    int failures = 0;
    const TStrings& engines = speech.Engines();
    for (int i = 0; i < engines.LineCount(); ++i) {
        const std::string name = engines.LineAt(i);
        speech.SelectEngine(name);
        if (!speech.Selected()) {
            std::printf("%d\t%s\t(cannot be selected)\n", i, name.c_str());
            ++failures;
            continue;
        }
        const TMSpeechEngineInfo& info = speech.EngineInfo();
        std::printf("%d\t%s\t%s/%s\t%s\t%s\tpitch %u..%u\tspeed %u..%u\n", i, name.c_str(),
                    info.Manufacturer.c_str(), info.Product.c_str(), info.Dialect.c_str(),
                    info.Gender.c_str(), unsigned{info.PitchMin}, unsigned{info.PitchMax},
                    info.SpeedMin, info.SpeedMax);
    }
    if (engines.LineCount() == 0) std::fprintf(stderr, "parlen-say: no voices installed\n");
    if (failures > 0)
        std::fprintf(stderr, "parlen-say: %d voice(s) cannot be selected\n", failures);
    return engines.LineCount() > 0 && failures == 0 ? 0 : kFailure;
}

int Say(QCoreApplication& app, const Options& o) {
    std::string text = ReadSayText(o.input, o.wav);

    TMSpeech speech;
    if (!speech.Initialized()) {
        std::fprintf(stderr, "parlen-say: the speech service cannot be read\n");
        return kFailure;
    }
    if (speech.Engines().LineCount() == 0) {
        std::fprintf(stderr, "parlen-say: no voices installed\n");
        return kFailure;
    }
    const std::string voice = o.voice.empty() ? speech.Engines().LineAt(0) : o.voice;
    if (speech.Engines().FindLine(voice) < 0) {
        std::fprintf(stderr, "parlen-say: unknown voice '%s' (parlen-say --list shows them)\n",
                     voice.c_str());
        return kFailure;
    }
    speech.SetOutput(o.wav.empty() ? soGeneral : soFile);
    if (!o.wav.empty()) speech.SetFilename(QString::fromLocal8Bit(o.wav).toStdU16String());
    speech.SelectEngine(voice);
    if (!speech.Selected()) {
        std::fprintf(stderr, "parlen-say: the voice '%s' cannot be used\n", voice.c_str());
        return kFailure;
    }
    if (o.pitch) speech.SetPitch(static_cast<uint16_t>(*o.pitch));
    if (o.speed) speech.SetSpeed(*o.speed);
    if (o.volume) speech.SetVolume(*o.volume);

    int exitCode = 0;
    bool started = false;
    long long lastWord = -1;
    QElapsedTimer clock;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    watchdog.setInterval(kSilenceTimeoutMs);
    QObject::connect(&watchdog, &QTimer::timeout, &app, [&] {
        std::fprintf(stderr, started ? "parlen-say: the engine stopped reporting progress\n"
                                     : "parlen-say: the engine did not start speaking\n");
        exitCode = kFailure;
        app.quit();
    });
    auto event = [&](const char* kind, uint32_t offset) {
        watchdog.start();
        if (!o.events) return;
        std::printf("%lld %s %u\n", static_cast<long long>(clock.elapsed()), kind, offset);
        std::fflush(stdout);
    };
    speech.OnStart = [&](void*) {
        started = true;
        lastWord = -1;
        event("start", speech.WordPosition());
    };
    if (!o.wav.empty()) {
        // A file renders faster than the word positions can be shown: every word comes
        // here, with its first sample as a fourth field.
        speech.OnWordTimes = [&](void*, std::span<const ParlenWordTime> words, uint32_t) {
            watchdog.start();
            lastWord = words.back().offset;
            if (!o.events) return;
            const long long elapsed = clock.elapsed();
            for (const ParlenWordTime& w : words)
                std::printf("%lld word %u %llu\n", elapsed, w.offset,
                            static_cast<unsigned long long>(w.frame));
            std::fflush(stdout);
        };
    }
    speech.OnVisual = [&](void*, uint32_t, PTTSMOUTH) {
        // A word already printed with its time is not printed again.
        const uint32_t word = speech.WordPosition();
        if (static_cast<long long>(word) != lastWord) {
            lastWord = word;
            event("word", word);
        }
        event("visual", word);
    };
    speech.OnStop = [&](void*) {
        event("stop", speech.WordPosition());
        app.quit();
    };
    // An error inside a notification ends the run with its message.
    Apartment::SetGuard([&](const Apartment::Call& call) {
        try {
            call();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "parlen-say: %s\n", e.what());
            exitCode = kFailure;
            app.quit();
        }
    });
    clock.start();
    watchdog.start();
    try {
        // Handed over as it is: the speech component keeps its own copy, and a long
        // text is then held once.
        speech.Speak(text);
        std::string().swap(text);
    } catch (const Exception& e) {
        std::fprintf(stderr, "parlen-say: %s\n", e.Message().c_str());
        Apartment::SetGuard(nullptr);
        return kFailure;
    }
    app.exec();
    Apartment::SetGuard(nullptr);
    return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Options options;
    if (const std::optional<int> done = ParseOptions(argc, argv, options)) return *done;
    CoInitialize(nullptr);
    RegisterSpeechService();
    if (options.jobs) SetRenderJobs(*options.jobs);
    int code = 0;
    try {
        code = options.list ? List() : Say(app, options);
    } catch (const EUsageError& e) {
        std::fprintf(stderr, "parlen-say: %s\n", e.what());
        code = kUsageError;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "parlen-say: not enough memory for the text\n");
        code = kFailure;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "parlen-say: %s\n", e.what());
        code = kFailure;
    }
    CoUninitialize();
    return code;
}
