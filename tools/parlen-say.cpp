// parlen-say: speaks a text aloud or renders it into an audio file through the speech
// component, with its word timings if asked, or lists the installed voices with their
// probed ranges.
//
//   parlen-say [--list] [--voice NAME] [--pitch N] [--speed N] [--volume PERCENT]
//              [--out|--wav FILE [--timings FILE]] [--events] [--jobs N] [--help]
//              [--version] [FILE|-]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSaveFile>
#include <QString>
#include <QTimer>
#include <cstdio>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/Apartment.h"
#include "platform/ClassRegistry.h"
#include "platform/service/SpeechService.h"
#include "speech/mSpeech.h"
#include "support/Errors.h"
#include "tools/SayInput.h"
#include "tools/SayOptions.h"
#include "tools/SayTimings.h"

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

// Whole or not at all: an earlier file of that name stays until the new one is complete.
bool WriteTimings(const std::string& path, const std::string& content) {
    QSaveFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(content.data(), static_cast<qint64>(content.size())) !=
            static_cast<qint64>(content.size()) ||
        !file.commit()) {
        std::fprintf(stderr, "parlen-say: cannot write the timings file '%s': %s\n", path.c_str(),
                     file.errorString().toLocal8Bit().constData());
        return false;
    }
    return true;
}

int Say(QCoreApplication& app, const Options& o) {
    std::string text = ReadSayText(o.input, {o.out, o.timings});

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
    speech.SetOutput(o.out.empty() ? soGeneral : soFile);
    if (!o.out.empty()) speech.SetFilename(QString::fromLocal8Bit(o.out).toStdU16String());
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
    // Word starts and sentence ends, kept for the timings file.
    std::vector<ParlenWordTime> marks;
    uint32_t rate = 0;
    if (!o.out.empty()) {
        // A file renders faster than the word positions can be shown: every word comes
        // here, with its first sample as a fourth field.
        speech.OnWordTimes = [&](void*, std::span<const ParlenWordTime> words, uint32_t r) {
            watchdog.start();
            if (!o.timings.empty()) {
                marks.insert(marks.end(), words.begin(), words.end());
                rate = r;
            }
            const long long elapsed = clock.elapsed();
            for (const ParlenWordTime& w : words) {
                if (w.sentenceEnd) continue;
                lastWord = w.offset;
                if (o.events)
                    std::printf("%lld word %u %llu\n", elapsed, w.offset,
                                static_cast<unsigned long long>(w.frame));
            }
            if (!o.events) return;
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
        // text is then held once, unless the timings need it to name their words.
        speech.Speak(text);
        if (o.timings.empty()) std::string().swap(text);
    } catch (const Exception& e) {
        std::fprintf(stderr, "parlen-say: %s\n", e.Message().c_str());
        Apartment::SetGuard(nullptr);
        return kFailure;
    }
    app.exec();
    Apartment::SetGuard(nullptr);
    if (!o.timings.empty()) {
        // Timings of a render that did not complete would not match a whole text.
        if (exitCode != 0) {
            std::fprintf(stderr, "parlen-say: the timings file '%s' is not written\n",
                         o.timings.c_str());
            return kFailure;
        }
        const TimingsSource source{text, voice, rate, marks};
        if (!WriteTimings(o.timings, FormatTimings(*TimingsFormatOf(o.timings), source)))
            return kFailure;
    }
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
