#include "FakeSpeechService.h"

#include <QString>
#include <algorithm>
#include <cstring>

#include "platform/Apartment.h"
#include "platform/ClassRegistry.h"
#include "platform/Guid.h"

namespace {
template <size_t N>
void CopyText(char (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(N, text.size()));
}

std::string IidName(const IID& iid) {
    if (iid == IID_ITTSAttributesA) return "Attributes";
    if (iid == IID_ITTSDialogsA) return "Dialogs";
    if (iid == IID_ITTSCentralA) return "Central";
    if (iid == IID_IUnknown) return "IUnknown";
    if (iid == IID_ITTSNotifySinkA) return "NotifySink";
    if (iid == IID_ITTSBufNotifySink) return "BufNotifySink";
    return GuidToString(iid);
}

template <class T>
T Clamp(T value, T low, T high) {
    return value < low ? low : (value > high ? high : value);
}

class FakeDevice : public TComObject<IAudioMultiMediaDevice> {
  public:
    explicit FakeDevice(FakeSpeechService& service)
        : service_(service), id_(service.AddDevice(static_cast<IAudioMultiMediaDevice*>(this))) {}
    ~FakeDevice() override {
        service_.Note("Device#" + std::to_string(id_) + ".destroyed");
        service_.RemoveDevice(id_);
    }
    HRESULT CustomMessage(DWORD, const void*) override {
        return service_.Record("Device", id_, "CustomMessage");
    }
    HRESULT DeviceNumGet(DWORD*) override { return service_.Record("Device", id_, "DeviceNumGet"); }
    HRESULT DeviceNumSet(DWORD) override { return service_.Record("Device", id_, "DeviceNumSet"); }

  private:
    FakeSpeechService& service_;
    int id_;
};

class FakeEnum : public TComObject<ITTSEnumA> {
  public:
    explicit FakeEnum(FakeSpeechService& service) : service_(service), id_(service.NextEnumId()) {}
    ~FakeEnum() override { service_.Note("Enum#" + std::to_string(id_) + ".destroyed"); }

    HRESULT Next(ULONG count, TTSMODEINFOA* records, ULONG* fetched) override {
        HRESULT hr = service_.Record("Enum", id_, "Next", std::to_string(count));
        if (FAILED(hr)) return hr;
        ULONG got = 0;
        while (got < count && pos_ < service_.modes.size())
            records[got++] = MakeRecord(service_.modes[pos_++]);
        if (fetched) *fetched = got;
        return got == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        HRESULT hr = service_.Record("Enum", id_, "Skip", std::to_string(count));
        if (FAILED(hr)) return hr;
        pos_ += count;
        return pos_ <= service_.modes.size() ? S_OK : S_FALSE;
    }
    HRESULT Reset() override {
        HRESULT hr = service_.Record("Enum", id_, "Reset");
        if (SUCCEEDED(hr)) pos_ = 0;
        return hr;
    }
    HRESULT Clone(ITTSEnumA**) override { return service_.Record("Enum", id_, "Clone"); }
    HRESULT Select(GUID modeId, ITTSCentralA** central, IUnknown* audio) override {
        const FakeMode* mode = nullptr;
        for (const FakeMode& m : service_.modes)
            if (MakeRecord(m).gModeID == modeId) mode = &m;
        HRESULT hr = service_.Record(
            "Enum", id_, "Select",
            (mode ? mode->name : GuidToString(modeId)) + "," + service_.DestName(audio));
        if (!central) return E_POINTER;
        *central = nullptr;
        if (FAILED(hr)) return hr;
        if (!mode) return E_INVALIDARG;
        ComPtr<ITTSCentralA> made = MakeCom<FakeCentral>(service_, *mode);
        *central = made.Detach();
        return S_OK;
    }

  private:
    FakeSpeechService& service_;
    int id_;
    size_t pos_ = 0;
};

template <class I, class T>
HRESULT Create(FakeSpeechService& service, const std::string& what, const IID& iid, void** object) {
    HRESULT hr = service.Record("Create", 0, what);
    if (FAILED(hr)) return hr;
    ComPtr<I> made = MakeCom<T>(service);
    return made->QueryInterface(iid, object);
}
}  // namespace

TTSMODEINFOA MakeRecord(const FakeMode& mode) {
    TTSMODEINFOA r{};
    r.gEngineID = GuidFromName("fake-engine/" + mode.manufacturer);
    r.gModeID = GuidFromName("fake-mode/" + mode.name);
    CopyText(r.szMfgName, mode.manufacturer);
    CopyText(r.szProductName, mode.product);
    CopyText(r.szModeName, mode.rawName.empty() ? mode.name : mode.rawName);
    r.language.LanguageID = 0x409;
    CopyText(r.language.szDialect, mode.dialect);
    CopyText(r.szSpeaker, mode.speaker);
    CopyText(r.szStyle, mode.style);
    r.wGender = mode.gender;
    r.wAge = mode.age;
    r.dwFeatures = mode.features;
    r.dwInterfaces = mode.interfaces;
    r.dwEngineFeatures = mode.engineFeatures;
    return r;
}

FakeSpeechService::FakeSpeechService() {
    RegisterClassObject(CLSID_TTSEnumerator, [this](const IID& iid, void** object) {
        return Create<ITTSEnumA, FakeEnum>(*this, "Enum", iid, object);
    });
    RegisterClassObject(CLSID_AudioDestFile, [this](const IID& iid, void** object) {
        return Create<IAudioFile, FakeFile>(*this, "File", iid, object);
    });
    RegisterClassObject(CLSID_MMAudioDest, [this](const IID& iid, void** object) {
        return Create<IAudioMultiMediaDevice, FakeDevice>(*this, "Device", iid, object);
    });
}

FakeSpeechService::~FakeSpeechService() {
    UnregisterClassObject(CLSID_TTSEnumerator);
    UnregisterClassObject(CLSID_AudioDestFile);
    UnregisterClassObject(CLSID_MMAudioDest);
}

void FakeSpeechService::FailAt(const std::string& call, HRESULT code, int occurrence) {
    // Counted from now: occurrence 1 is the next call.
    plans_[call].push_back({code, occurrence == 0 ? 0 : counts_[call] + occurrence});
}

HRESULT FakeSpeechService::Record(const std::string& object, int id, const std::string& method,
                                  const std::string& args) {
    std::string entry = object;
    if (id > 0) entry += "#" + std::to_string(id);
    entry += "." + method;
    if (!args.empty()) entry += "(" + args + ")";
    log.push_back(entry);
    const std::string key = object + "." + method;
    const int n = ++counts_[key];
    for (const Plan& p : plans_[key])
        if (p.occurrence == 0 || p.occurrence == n) return p.code;
    return S_OK;
}

std::vector<std::string> FakeSpeechService::Calls(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& e : log)
        if (e.rfind(prefix, 0) == 0) out.push_back(e);
    return out;
}

int FakeSpeechService::IndexOf(const std::string& entry) const {
    auto it = std::find(log.begin(), log.end(), entry);
    return it == log.end() ? -1 : static_cast<int>(it - log.begin());
}

FakeCentral* FakeSpeechService::Central(int id) const {
    return id >= 1 && id <= CentralCount() ? centrals_[id - 1] : nullptr;
}

FakeFile* FakeSpeechService::File(int id) const {
    return id >= 1 && id <= static_cast<int>(files_.size()) ? files_[id - 1] : nullptr;
}

std::string FakeSpeechService::DestName(IUnknown* dest) const {
    if (!dest) return "no destination";
    auto it = dests_.find(dest);
    return it == dests_.end() ? "unknown destination" : it->second;
}

int FakeSpeechService::AddCentral(FakeCentral* c) {
    centrals_.push_back(c);
    return CentralCount();
}

int FakeSpeechService::AddFile(FakeFile* f, IUnknown* unknown) {
    files_.push_back(f);
    const int id = static_cast<int>(files_.size());
    dests_[unknown] = "File#" + std::to_string(id);
    return id;
}

void FakeSpeechService::RemoveFile(int id) {
    std::erase_if(dests_, [&](const auto& d) { return d.second == "File#" + std::to_string(id); });
    files_[id - 1] = nullptr;
}

int FakeSpeechService::AddDevice(IUnknown* unknown) {
    dests_[unknown] = "Device#" + std::to_string(++devices_);
    return devices_;
}

void FakeSpeechService::RemoveDevice(int id) {
    std::erase_if(dests_,
                  [&](const auto& d) { return d.second == "Device#" + std::to_string(id); });
}

// --- engine ---

FakeCentral::FakeCentral(FakeSpeechService& service, const FakeMode& m)
    : mode(m), service_(service), id_(service.AddCentral(this)) {}

FakeCentral::~FakeCentral() {
    service_.Note("Central#" + std::to_string(id_) + ".destroyed");
    service_.RemoveCentral(id_);
}

HRESULT FakeCentral::QueryInterface(const IID& iid, void** object) {
    // Only the component's own requests are logged; the counted references' internal
    // lookups (IUnknown) are not calls of interest.
    if (iid == IID_ITTSAttributesA || iid == IID_ITTSDialogsA) {
        HRESULT hr = service_.Record("Central", id_, "QueryInterface", IidName(iid));
        if (FAILED(hr)) {
            if (object) *object = nullptr;
            return hr;
        }
        if (iid == IID_ITTSDialogsA && !mode.answersDialogs) {
            if (object) *object = nullptr;
            return E_NOINTERFACE;
        }
    }
    return TComObject::QueryInterface(iid, object);
}

HRESULT FakeCentral::Inject(const char* tag) {
    return service_.Record("Central", id_, "Inject", tag ? tag : "(null)");
}

HRESULT FakeCentral::TextData(DWORD charset, DWORD flags, const void* text, size_t size,
                              IUnknown* notify, IID notifyIid) {
    HRESULT hr = service_.Record("Central", id_, "TextData",
                                 std::to_string(charset) + "," + std::to_string(flags) + "," +
                                     std::to_string(size) + "," + IidName(notifyIid));
    if (FAILED(hr)) return hr;
    texts.emplace_back(static_cast<const char*>(text), size);
    pending.emplace_back(notify);
    if (service_.autoPlay) Play(texts.back(), pending.back());
    return S_OK;
}

HRESULT FakeCentral::AudioPause() {
    return service_.Record("Central", id_, "AudioPause");
}
HRESULT FakeCentral::AudioResume() {
    return service_.Record("Central", id_, "AudioResume");
}

HRESULT FakeCentral::AudioReset() {
    HRESULT hr = service_.Record("Central", id_, "AudioReset");
    if (SUCCEEDED(hr)) pending.clear();
    return hr;
}

HRESULT FakeCentral::Register(IUnknown* notify, IID notifyIid, DWORD* key) {
    HRESULT hr = service_.Record("Central", id_, "Register", IidName(notifyIid));
    if (FAILED(hr)) return hr;
    const DWORD k = service_.NextKey();
    registered[k] = ComPtr<IUnknown>(notify);
    service_.Note("Central#" + std::to_string(id_) + ".key(" + std::to_string(k) + ")");
    *key = k;
    return S_OK;
}

HRESULT FakeCentral::UnRegister(DWORD key) {
    HRESULT hr = service_.Record("Central", id_, "UnRegister", std::to_string(key));
    if (SUCCEEDED(hr)) registered.erase(key);
    return hr;
}

HRESULT FakeCentral::PitchGet(WORD* v) {
    HRESULT hr = service_.Record("Attr", id_, "PitchGet");
    if (SUCCEEDED(hr)) *v = mode.pitch;
    return hr;
}
HRESULT FakeCentral::PitchSet(WORD v) {
    HRESULT hr = service_.Record("Attr", id_, "PitchSet", std::to_string(v));
    if (SUCCEEDED(hr)) mode.pitch = Clamp(v, mode.pitchMin, mode.pitchMax);
    return hr;
}
HRESULT FakeCentral::RealTimeGet(DWORD* v) {
    HRESULT hr = service_.Record("Attr", id_, "RealTimeGet");
    if (SUCCEEDED(hr)) *v = mode.rate;
    return hr;
}
HRESULT FakeCentral::RealTimeSet(DWORD v) {
    HRESULT hr = service_.Record("Attr", id_, "RealTimeSet", std::to_string(v));
    if (SUCCEEDED(hr)) mode.rate = Clamp(v, mode.rateMin, mode.rateMax);
    return hr;
}
HRESULT FakeCentral::SpeedGet(DWORD* v) {
    HRESULT hr = service_.Record("Attr", id_, "SpeedGet");
    if (SUCCEEDED(hr)) *v = mode.speed;
    return hr;
}
HRESULT FakeCentral::SpeedSet(DWORD v) {
    HRESULT hr = service_.Record("Attr", id_, "SpeedSet", std::to_string(v));
    if (SUCCEEDED(hr)) mode.speed = Clamp(v, mode.speedMin, mode.speedMax);
    return hr;
}
HRESULT FakeCentral::VolumeGet(DWORD* v) {
    HRESULT hr = service_.Record("Attr", id_, "VolumeGet");
    if (SUCCEEDED(hr)) *v = mode.volume;
    return hr;
}
HRESULT FakeCentral::VolumeSet(DWORD v) {
    HRESULT hr = service_.Record("Attr", id_, "VolumeSet", std::to_string(v));
    if (SUCCEEDED(hr)) mode.volume = v;
    return hr;
}

void FakeCentral::Play(const std::string& text, const ComPtr<IUnknown>& notify) {
    ComPtr<ITTSBufNotifySink> buf;
    notify.As(buf);
    ComPtr<IParlenWordTimesSink> times;
    notify.As(times);
    const auto sinks = Sinks();
    Apartment::Post([sinks] {
        for (auto& s : sinks) s->AudioStart(0);
    });
    // Like the engines: the text ends at its first NUL.
    const size_t length = strnlen(text.data(), text.size());
    bool inSentence = false;
    for (size_t i = 0; i <= length; ++i) {
        const bool blank = i == length || static_cast<unsigned char>(text[i]) <= ' ';
        const bool afterBlank = i == 0 || static_cast<unsigned char>(text[i - 1]) <= ' ';
        // A sentence ends after ".", "!" or "?" before a blank, and at the text's end.
        if (blank && inSentence && (i == length || std::strchr(".!?", text[i - 1]))) {
            inSentence = false;
            const ParlenWordTime end{static_cast<uint32_t>(i), i * 100ull, true};
            if (times) Apartment::Post([times, end] { times->WordsRendered(&end, 1, 16000); });
        }
        if (blank || !afterBlank) continue;
        inSentence = true;
        const DWORD offset = static_cast<DWORD>(i);
        size_t end = i;
        while (end<length&& static_cast<unsigned char>(text[end])> ' ') ++end;
        const bool timed = std::find(service_.untimedWords.begin(), service_.untimedWords.end(),
                                     text.substr(i, end - i)) == service_.untimedWords.end();
        Apartment::Post([sinks, buf, times = timed ? times : nullptr, offset] {
            // Each word is at 100 frames a byte.
            const ParlenWordTime time{offset, offset * 100ull};
            if (times) times->WordsRendered(&time, 1, 16000);
            if (buf) buf->WordPosition(0, offset);
            for (auto& s : sinks) s->Visual(0, 'a', 'a', 0, nullptr);
        });
    }
    Apartment::Post([sinks] {
        for (auto& s : sinks) s->AudioStop(0);
    });
}

std::vector<ComPtr<ITTSNotifySinkA>> FakeCentral::Sinks() const {
    std::vector<ComPtr<ITTSNotifySinkA>> out;
    for (const auto& [key, unknown] : registered) {
        ComPtr<ITTSNotifySinkA> sink;
        if (SUCCEEDED(unknown.As(sink))) out.push_back(sink);
    }
    return out;
}

void FakeCentral::FireAudioStart() {
    for (auto& sink : Sinks()) sink->AudioStart(1);
}

void FakeCentral::FireAudioStop() {
    for (auto& sink : Sinks()) sink->AudioStop(2);
}

void FakeCentral::FireVisual(DWORD hints, PTTSMOUTH mouth) {
    for (auto& sink : Sinks()) sink->Visual(3, 'a', 'b', hints, mouth);
}

void FakeCentral::FireWordPosition(DWORD offset) {
    if (pending.empty()) return;
    ComPtr<ITTSBufNotifySink> buf;
    if (SUCCEEDED(pending.front().As(buf))) buf->WordPosition(4, offset);
}

// --- file destination ---

FakeFile::FakeFile(FakeSpeechService& service)
    : service_(service), id_(service.AddFile(this, static_cast<IAudioFile*>(this))) {}

FakeFile::~FakeFile() {
    service_.Note("File#" + std::to_string(id_) + ".destroyed");
    service_.RemoveFile(id_);
}

HRESULT FakeFile::Set(const char16_t* fileName, DWORD flags) {
    const std::string name = QString::fromStdU16String(fileName ? fileName : u"").toStdString();
    return service_.Record("File", id_, "Set", name + "," + std::to_string(flags));
}

HRESULT FakeFile::Flush() {
    return service_.Record("File", id_, "Flush");
}
