#include "ReferenceRender.h"

#include <sndfile.h>
#include <strings.h>

#include <QEventLoop>
#include <QString>
#include <QTimer>

#include "platform/ClassRegistry.h"
#include "platform/ComObject.h"
#include "platform/ComPtr.h"
#include "speech/speech.h"

namespace {

// Takes every word with its first sample: the word positions of a render at full speed
// are coalesced, the word times are not.
class WordSink : public TComObject<ITTSBufNotifySink, IParlenWordTimesSink> {
  public:
    explicit WordSink(ReferenceRender& out) : out_(out) {}
    bool done = false;
    HRESULT TextDataDone(QWORD, DWORD) override {
        done = true;
        return S_OK;
    }
    HRESULT TextDataStarted(QWORD) override { return S_OK; }
    HRESULT BookMark(QWORD, DWORD) override { return S_OK; }
    HRESULT WordPosition(QWORD stamp, DWORD offset) override {
        out_.wordFrames.emplace(offset, stamp);
        return S_OK;
    }
    HRESULT WordsRendered(const ParlenWordTime* words, size_t count, DWORD) override {
        for (size_t i = 0; i < count; ++i)
            if (!words[i].sentenceEnd) out_.wordFrames.emplace(words[i].offset, words[i].frame);
        return S_OK;
    }

  private:
    ReferenceRender& out_;
};

class StopSink : public TComObject<ITTSNotifySinkA> {
  public:
    bool stopped = false;
    HRESULT AttribChanged(DWORD) override { return S_OK; }
    HRESULT AudioStart(QWORD) override { return S_OK; }
    HRESULT AudioStop(QWORD) override {
        stopped = true;
        return S_OK;
    }
    HRESULT Visual(QWORD, char, char, DWORD, PTTSMOUTH) override { return S_OK; }
};

bool ReadWav(const std::string& path, ReferenceRender& out) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) {
        out.error = "cannot read the rendered file: " + std::string(sf_strerror(nullptr));
        return false;
    }
    out.rate = static_cast<unsigned>(info.samplerate);
    out.samples.resize(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
    sf_read_short(f, out.samples.data(), static_cast<sf_count_t>(out.samples.size()));
    sf_close(f);
    if (info.channels != 1) {
        out.error = "the rendered file is not mono";
        return false;
    }
    return true;
}

}  // namespace

bool ReferenceRender::Run(const std::string& voice, const std::string& text,
                          const std::string& path, int timeoutMs) {
    ComPtr<ITTSEnumA> modes;
    if (FAILED(CoCreateInstance(CLSID_TTSEnumerator, nullptr, CLSCTX_ALL, IID_ITTSEnumA,
                                modes.PutVoid()))) {
        error = "no speech service";
        return false;
    }
    TTSMODEINFOA record{};
    ULONG fetched = 0;
    bool found = false;
    modes->Reset();
    while (!found && SUCCEEDED(modes->Next(1, &record, &fetched)) && fetched == 1)
        found = strcasecmp(record.szModeName, voice.c_str()) == 0;
    if (!found) {
        error = "no voice " + voice;
        return false;
    }
    ComPtr<IAudioFile> file;
    ComPtr<ITTSCentralA> central;
    if (FAILED(CoCreateInstance(CLSID_AudioDestFile, nullptr, CLSCTX_ALL, IID_IAudioFile,
                                file.PutVoid())) ||
        FAILED(modes->Select(record.gModeID, central.Put(), file.Get()))) {
        error = "cannot attach the voice to a file";
        return false;
    }
    const std::u16string name = QString::fromLocal8Bit(path).toStdU16String();
    if (FAILED(file->Set(name.c_str(), 1))) {
        error = "cannot create " + path;
        return false;
    }
    auto words = MakeCom<WordSink>(*this);
    auto stops = MakeCom<StopSink>();
    DWORD key = 0;
    central->Register(stops.Get(), IID_ITTSNotifySinkA, &key);
    if (FAILED(central->TextData(CHARSET_TEXT, 0, text.c_str(), text.size() + 1,
                                 static_cast<ITTSBufNotifySink*>(words.Get()),
                                 IID_ITTSBufNotifySink))) {
        error = "the engine refused the text";
        return false;
    }
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (stops->stopped || words->done) loop.quit();
    });
    poll.start(5);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    const bool ended = stops->stopped || words->done;
    central->UnRegister(key);
    file->Flush();
    central = nullptr;
    file = nullptr;
    if (!ended) {
        error = "the render did not end in time";
        return false;
    }
    if (wordFrames.empty()) {
        error = "the render reported no words";
        return false;
    }
    return ReadWav(path, *this);
}
