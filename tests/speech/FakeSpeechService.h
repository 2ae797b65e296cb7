#pragma once
// A recording stand-in for the speech service: enumerator, engines (central,
// attributes and dialogs on one object), file and device destinations. Every call is
// appended to one log, in order, as "Object#id.Method(args)"; the destruction of an
// object is logged as "Object#id.destroyed". Any call can be made to fail: FailAt
// names it as "Object.Method" (no id) and picks which of its calls fails.
//
// The service registers its classes on construction and removes them on destruction;
// it must outlive every object it made, so declare it before the components.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/ComObject.h"
#include "speech/speech.h"

struct FakeMode {
    std::string name;
    std::string dialect = "English (America)";
    std::string manufacturer = "Fake Voices";
    std::string product = "Fake Engine";
    std::string speaker = "speaker";
    std::string style = "plain";
    WORD gender = GENDER_FEMALE;
    WORD age = 30;
    DWORD features = 0x5, interfaces = 0x3, engineFeatures = 0x77;
    bool answersDialogs = true;
    // Limits the engine clamps into, and the values it starts with.
    WORD pitchMin = 50, pitchMax = 200, pitch = 100;
    DWORD rateMin = 10, rateMax = 400, rate = 100;
    DWORD speedMin = 80, speedMax = 450, speed = 175;
    DWORD volume = 0xFFFFFFFFu;
    // Raw bytes for the name field instead of name (for unterminated names).
    std::string rawName;
};

TTSMODEINFOA MakeRecord(const FakeMode& mode);

class FakeCentral;
class FakeFile;

class FakeSpeechService {
  public:
    FakeSpeechService();
    ~FakeSpeechService();
    FakeSpeechService(const FakeSpeechService&) = delete;
    FakeSpeechService& operator=(const FakeSpeechService&) = delete;

    std::vector<FakeMode> modes;
    std::vector<std::string> log;
    // Engines play each text handed over: audio start, then for each word its
    // position and a visual, then audio stop, all posted to the apartment.
    bool autoPlay = false;
    // Words that get no time mark when played, as an engine skips some short ones.
    std::vector<std::string> untimedWords;

    // Fails the occurrence-th call from now (1: the next) of "Object.Method"; 0 fails
    // every call.
    // Creation of the classes is "Create.Enum", "Create.File", "Create.Device".
    void FailAt(const std::string& call, HRESULT code, int occurrence = 1);
    // Logs the call and returns the failure planned for it, or S_OK.
    HRESULT Record(const std::string& object, int id, const std::string& method,
                   const std::string& args = {});
    void Note(const std::string& entry) { log.push_back(entry); }

    // Log entries whose object part starts with prefix ("Attr", "Central#2", ...).
    std::vector<std::string> Calls(const std::string& prefix) const;
    // Index in the log of the first entry equal to entry, or -1.
    int IndexOf(const std::string& entry) const;
    void ClearLog() { log.clear(); }

    // Engines and file destinations made so far, by id (1-based); null once destroyed.
    FakeCentral* Central(int id) const;
    FakeFile* File(int id) const;
    int CentralCount() const { return static_cast<int>(centrals_.size()); }
    // How a destination handed to Select is named in the log.
    std::string DestName(IUnknown* dest) const;

    // Bookkeeping of the fake objects.
    int AddCentral(FakeCentral* c);
    void RemoveCentral(int id) { centrals_[id - 1] = nullptr; }
    int AddFile(FakeFile* f, IUnknown* unknown);
    void RemoveFile(int id);
    int AddDevice(IUnknown* unknown);
    void RemoveDevice(int id);
    DWORD NextKey() { return nextKey_++; }
    int NextEnumId() { return ++enums_; }

  private:
    struct Plan {
        HRESULT code;
        int occurrence;
    };
    std::map<std::string, std::vector<Plan>> plans_;
    std::map<std::string, int> counts_;
    std::vector<FakeCentral*> centrals_;
    std::vector<FakeFile*> files_;
    std::map<IUnknown*, std::string> dests_;
    int devices_ = 0;
    int enums_ = 0;
    DWORD nextKey_ = 101;
};

// One engine object: the central interface, its attributes and its dialogs.
class FakeCentral : public TComObject<ITTSCentralA, ITTSAttributesA, ITTSDialogsA> {
  public:
    FakeCentral(FakeSpeechService& service, const FakeMode& mode);
    ~FakeCentral() override;

    HRESULT QueryInterface(const IID& iid, void** object) override;

    HRESULT Inject(const char* tag) override;
    HRESULT ModeGet(TTSMODEINFOA*) override { return E_NOTIMPL; }
    HRESULT Phoneme(DWORD, DWORD, const void*, size_t, void*) override { return E_NOTIMPL; }
    HRESULT PosnGet(QWORD*) override { return E_NOTIMPL; }
    HRESULT TextData(DWORD charset, DWORD flags, const void* text, size_t size, IUnknown* notify,
                     IID notifyIid) override;
    HRESULT ToFileTime(QWORD*, void*) override { return E_NOTIMPL; }
    HRESULT AudioPause() override;
    HRESULT AudioResume() override;
    HRESULT AudioReset() override;
    HRESULT Register(IUnknown* notify, IID notifyIid, DWORD* key) override;
    HRESULT UnRegister(DWORD key) override;

    HRESULT PitchGet(WORD* pitch) override;
    HRESULT PitchSet(WORD pitch) override;
    HRESULT RealTimeGet(DWORD* rate) override;
    HRESULT RealTimeSet(DWORD rate) override;
    HRESULT SpeedGet(DWORD* speed) override;
    HRESULT SpeedSet(DWORD speed) override;
    HRESULT VolumeGet(DWORD* volume) override;
    HRESULT VolumeSet(DWORD volume) override;

    HRESULT AboutDlg(void*, const char*) override { return E_NOTIMPL; }
    HRESULT LexiconDlg(void*, const char*) override { return E_NOTIMPL; }
    HRESULT GeneralDlg(void*, const char*) override { return E_NOTIMPL; }
    HRESULT TranslateDlg(void*, const char*) override { return E_NOTIMPL; }

    // What the engine would report, sent straight to the registered notification
    // objects (all of them) and to the buffer object of the oldest pending text.
    void FireAudioStart();
    void FireAudioStop();
    void FireVisual(DWORD hints, PTTSMOUTH mouth);
    void FireWordPosition(DWORD offset);

    int id() const { return id_; }
    FakeMode mode;
    std::vector<std::string> texts;                // bytes handed over, NUL included
    std::vector<ComPtr<IUnknown>> pending;         // buffer objects of pending texts
    std::map<DWORD, ComPtr<IUnknown>> registered;  // notification objects by key

  private:
    void Play(const std::string& text, const ComPtr<IUnknown>& notify);
    std::vector<ComPtr<ITTSNotifySinkA>> Sinks() const;

    FakeSpeechService& service_;
    int id_;
};

class FakeFile : public TComObject<IAudioFile> {
  public:
    explicit FakeFile(FakeSpeechService& service);
    ~FakeFile() override;
    HRESULT Register(IUnknown*) override { return E_NOTIMPL; }
    HRESULT Set(const char16_t* fileName, DWORD flags) override;
    HRESULT Add(const char16_t*, DWORD) override { return E_NOTIMPL; }
    HRESULT Flush() override;
    HRESULT RealTimeSet(WORD) override { return E_NOTIMPL; }
    HRESULT RealTimeGet(WORD*) override { return E_NOTIMPL; }
    int id() const { return id_; }

  private:
    FakeSpeechService& service_;
    int id_;
};
