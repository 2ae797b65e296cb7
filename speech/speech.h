#pragma once
// Declarations of the speech platform: result codes, GUIDs, the engine, attribute,
// audio and notification interfaces, the mode record and the mouth record.
// Slot order within each interface follows the platform's; slots this program never
// calls still exist so that the layout stays that of the platform.
#include <cstddef>
#include <cstdint>

using HRESULT = int32_t;
using ULONG = uint32_t;
using DWORD = uint32_t;
using WORD = uint16_t;
using QWORD = uint64_t;
using BYTE = uint8_t;

constexpr HRESULT MakeResult(uint32_t code) {
    return static_cast<HRESULT>(code);
}
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;  // also the end-of-list code of Next
constexpr HRESULT E_NOTIMPL = MakeResult(0x80004001u);
constexpr HRESULT E_NOINTERFACE = MakeResult(0x80004002u);
constexpr HRESULT E_POINTER = MakeResult(0x80004003u);
constexpr HRESULT E_FAIL = MakeResult(0x80004005u);
constexpr HRESULT E_UNEXPECTED = MakeResult(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = MakeResult(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = MakeResult(0x80070057u);
constexpr HRESULT E_ACCESSDENIED = MakeResult(0x80070005u);
constexpr HRESULT REGDB_E_CLASSNOTREG = MakeResult(0x80040154u);
constexpr HRESULT CO_E_NOTINITIALIZED = MakeResult(0x800401F0u);
// Speech service codes.
constexpr HRESULT TTSERR_INVALIDCHAR = MakeResult(0x80040201u);    // malformed control tag
constexpr HRESULT TTSERR_NOSOUNDSERVER = MakeResult(0x80040202u);  // no sound device reachable
constexpr HRESULT AUDERR_CANNOTOPENFILE = MakeResult(0x80040203u);
constexpr HRESULT AUDERR_WRITEFAILED = MakeResult(0x80040204u);

constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}
constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
    friend constexpr bool operator==(const GUID& a, const GUID& b) {
        if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
        for (int i = 0; i < 8; ++i)
            if (a.Data4[i] != b.Data4[i]) return false;
        return true;
    }
};
using IID = GUID;
using CLSID = GUID;

// {D1-D2-D3-D4a-D4b}, written as in the registry form.
constexpr GUID MakeGuid(uint32_t d1, uint16_t d2, uint16_t d3, uint16_t d4, uint64_t d5) {
    return GUID{
        d1,
        d2,
        d3,
        {static_cast<uint8_t>(d4 >> 8), static_cast<uint8_t>(d4), static_cast<uint8_t>(d5 >> 40),
         static_cast<uint8_t>(d5 >> 32), static_cast<uint8_t>(d5 >> 24),
         static_cast<uint8_t>(d5 >> 16), static_cast<uint8_t>(d5 >> 8), static_cast<uint8_t>(d5)}};
}

constexpr GUID GUID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
constexpr IID IID_IUnknown = MakeGuid(0x00000000, 0x0000, 0x0000, 0xC000, 0x000000000046);
constexpr CLSID CLSID_TTSEnumerator = MakeGuid(0xD67C0280, 0xC743, 0x11CD, 0x80E5, 0x00AA003E4B50);
constexpr CLSID CLSID_MMAudioDest = MakeGuid(0xCB96B400, 0xC743, 0x11CD, 0x80E5, 0x00AA003E4B50);
constexpr CLSID CLSID_AudioDestFile = MakeGuid(0xD4623720, 0xE4B9, 0x11CF, 0x8D56, 0x00A0C9034A7E);
constexpr IID IID_ITTSEnumA = MakeGuid(0x05EB6C6D, 0xDBAB, 0x11CD, 0xB3CA, 0x00AA0047BA4F);
constexpr IID IID_ITTSCentralA = MakeGuid(0x05EB6C6A, 0xDBAB, 0x11CD, 0xB3CA, 0x00AA0047BA4F);
constexpr IID IID_IAudioMultiMediaDevice =
    MakeGuid(0xB68AD320, 0xC743, 0x11CD, 0x80E5, 0x00AA003E4B50);
constexpr IID IID_IAudioFile = MakeGuid(0xFD7C2320, 0x3D6D, 0x11B9, 0xC000, 0xFED6CBA3B1A9);
constexpr IID IID_ITTSAttributesA = MakeGuid(0x0FD6E2A1, 0xE77D, 0x11CD, 0xB3CA, 0x00AA0047BA4F);
constexpr IID IID_ITTSDialogsA = MakeGuid(0x05EB6C6B, 0xDBAB, 0x11CD, 0xB3CA, 0x00AA0047BA4F);
constexpr IID IID_ITTSNotifySinkA = MakeGuid(0x05EB6C6F, 0xDBAB, 0x11CD, 0xB3CA, 0x00AA0047BA4F);
constexpr IID IID_ITTSBufNotifySink = MakeGuid(0xE4963D40, 0xC743, 0x11CD, 0x80E5, 0x00AA003E4B50);

constexpr DWORD CLSCTX_ALL = 7;
constexpr DWORD CHARSET_TEXT = 0;

struct IUnknown {
    virtual HRESULT QueryInterface(const IID& iid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

  protected:
    ~IUnknown() = default;
};

constexpr size_t TTSI_NAMELEN = 262;
constexpr size_t LANG_LEN = 64;

struct LANGUAGEA {
    WORD LanguageID;
    char szDialect[LANG_LEN];
};

constexpr WORD GENDER_NEUTRAL = 0;
constexpr WORD GENDER_FEMALE = 1;
constexpr WORD GENDER_MALE = 2;

// The mode record: one per engine mode that the enumerator lists.
struct TTSMODEINFOA {
    GUID gEngineID;
    char szMfgName[TTSI_NAMELEN];
    char szProductName[TTSI_NAMELEN];
    GUID gModeID;
    char szModeName[TTSI_NAMELEN];
    LANGUAGEA language;
    char szSpeaker[TTSI_NAMELEN];
    char szStyle[TTSI_NAMELEN];
    WORD wGender;
    WORD wAge;
    DWORD dwFeatures;
    DWORD dwInterfaces;
    DWORD dwEngineFeatures;
};
static_assert(sizeof(TTSMODEINFOA) == 1424, "mode record layout");

// Mouth shape reported with each visual notification.
struct TTSMOUTH {
    BYTE bMouthHeight;
    BYTE bMouthWidth;
    BYTE bMouthUpturn;
    BYTE bJawOpen;
    BYTE bTeethUpperVisible;
    BYTE bTeethLowerVisible;
    BYTE bTonguePosn;
    BYTE bLipTension;
};
using PTTSMOUTH = TTSMOUTH*;

// Hint bits of a visual notification.
constexpr DWORD TTSNSHINT_QUESTION = 0x1;
constexpr DWORD TTSNSHINT_STATEMENT = 0x2;
constexpr DWORD TTSNSHINT_COMMAND = 0x4;
constexpr DWORD TTSNSHINT_EXCLAMATION = 0x8;
constexpr DWORD TTSNSHINT_EMPHASIS = 0x10;

struct ITTSCentralA;

struct ITTSEnumA : IUnknown {
    virtual HRESULT Next(ULONG count, TTSMODEINFOA* records, ULONG* fetched) = 0;      // 3
    virtual HRESULT Skip(ULONG count) = 0;                                             // 4
    virtual HRESULT Reset() = 0;                                                       // 5
    virtual HRESULT Clone(ITTSEnumA** copy) = 0;                                       // 6
    virtual HRESULT Select(GUID modeId, ITTSCentralA** central, IUnknown* audio) = 0;  // 7

  protected:
    ~ITTSEnumA() = default;
};

struct ITTSCentralA : IUnknown {
    virtual HRESULT Inject(const char* tag) = 0;        // 3
    virtual HRESULT ModeGet(TTSMODEINFOA* record) = 0;  // 4
    virtual HRESULT Phoneme(DWORD charset, DWORD flags, const void* text, size_t size,
                            void* phonemes) = 0;   // 5
    virtual HRESULT PosnGet(QWORD* position) = 0;  // 6
    virtual HRESULT TextData(DWORD charset, DWORD flags, const void* text, size_t size,
                             IUnknown* notify, IID notifyIid) = 0;              // 7
    virtual HRESULT ToFileTime(QWORD* stamp, void* fileTime) = 0;               // 8
    virtual HRESULT AudioPause() = 0;                                           // 9
    virtual HRESULT AudioResume() = 0;                                          // 10
    virtual HRESULT AudioReset() = 0;                                           // 11
    virtual HRESULT Register(IUnknown* notify, IID notifyIid, DWORD* key) = 0;  // 12
    virtual HRESULT UnRegister(DWORD key) = 0;                                  // 13

  protected:
    ~ITTSCentralA() = default;
};

struct ITTSAttributesA : IUnknown {
    virtual HRESULT PitchGet(WORD* pitch) = 0;     // 3
    virtual HRESULT PitchSet(WORD pitch) = 0;      // 4
    virtual HRESULT RealTimeGet(DWORD* rate) = 0;  // 5
    virtual HRESULT RealTimeSet(DWORD rate) = 0;   // 6
    virtual HRESULT SpeedGet(DWORD* speed) = 0;    // 7
    virtual HRESULT SpeedSet(DWORD speed) = 0;     // 8
    virtual HRESULT VolumeGet(DWORD* volume) = 0;  // 9
    virtual HRESULT VolumeSet(DWORD volume) = 0;   // 10

  protected:
    ~ITTSAttributesA() = default;
};

struct ITTSDialogsA : IUnknown {
    virtual HRESULT AboutDlg(void* window, const char* title) = 0;
    virtual HRESULT LexiconDlg(void* window, const char* title) = 0;
    virtual HRESULT GeneralDlg(void* window, const char* title) = 0;
    virtual HRESULT TranslateDlg(void* window, const char* title) = 0;

  protected:
    ~ITTSDialogsA() = default;
};

struct IAudioMultiMediaDevice : IUnknown {
    virtual HRESULT CustomMessage(DWORD message, const void* data) = 0;
    virtual HRESULT DeviceNumGet(DWORD* device) = 0;
    virtual HRESULT DeviceNumSet(DWORD device) = 0;

  protected:
    ~IAudioMultiMediaDevice() = default;
};

struct IAudioFile : IUnknown {
    virtual HRESULT Register(IUnknown* notify) = 0;                  // 3
    virtual HRESULT Set(const char16_t* fileName, DWORD flags) = 0;  // 4
    virtual HRESULT Add(const char16_t* fileName, DWORD flags) = 0;  // 5
    virtual HRESULT Flush() = 0;                                     // 6
    virtual HRESULT RealTimeSet(WORD rate) = 0;                      // 7
    virtual HRESULT RealTimeGet(WORD* rate) = 0;                     // 8

  protected:
    ~IAudioFile() = default;
};

struct ITTSNotifySinkA : IUnknown {
    virtual HRESULT AttribChanged(DWORD attribute) = 0;  // 3
    virtual HRESULT AudioStart(QWORD timeStamp) = 0;     // 4
    virtual HRESULT AudioStop(QWORD timeStamp) = 0;      // 5
    virtual HRESULT Visual(QWORD timeStamp, char ipaPhoneme, char enginePhoneme, DWORD hints,
                           PTTSMOUTH mouth) = 0;  // 6

  protected:
    ~ITTSNotifySinkA() = default;
};

struct ITTSBufNotifySink : IUnknown {
    virtual HRESULT TextDataDone(QWORD timeStamp, DWORD flags) = 0;   // 3
    virtual HRESULT TextDataStarted(QWORD timeStamp) = 0;             // 4
    virtual HRESULT BookMark(QWORD timeStamp, DWORD mark) = 0;        // 5
    virtual HRESULT WordPosition(QWORD timeStamp, DWORD offset) = 0;  // 6

  protected:
    ~ITTSBufNotifySink() = default;
};

// This service's own extension, asked of a text's ITTSBufNotifySink: a text ended
// before its end because of a failure (a WAV file that cannot be written, a sound
// server gone, no memory left for synthesis). It comes once, just before the text's
// audio stop; description says why in words ("Cannot write file NAME: No space left
// on device"). A sink without it learns only that the text stopped.
constexpr IID IID_IParlenTextFailureSink =
    MakeGuid(0x5C2E7A91, 0x4D03, 0x4B6F, 0x8A17, 0x2E9B0C4D5F61);

struct IParlenTextFailureSink : IUnknown {
    virtual HRESULT TextFailed(QWORD timeStamp, HRESULT code, const char* description) = 0;

  protected:
    ~IParlenTextFailureSink() = default;
};

// This service's own extension, asked of a text's ITTSBufNotifySink: the byte offset
// and first sample of every word rendered, in order, including those whose word
// position was passed over because newer ones were already waiting for the UI thread.
// The frames count samples of the text stream's audio at samplesPerSecond, as the
// time stamps of the other notifications do. Each run comes just before the
// WordPosition of its last word; words are told once. The array lives for the call.
// A run also tells where each sentence ends, in its place among the words: the entry
// then has sentenceEnd set, offset is where the sentence's text ends and frame the
// first sample after its speech (the pause that follows is not part of it).
struct ParlenWordTime {
    uint32_t offset;
    uint64_t frame;
    bool sentenceEnd = false;
};

constexpr IID IID_IParlenWordTimesSink =
    MakeGuid(0x8B4F1D26, 0x93A7, 0x4E2C, 0xB5D0, 0x7C31E6A4F982);

struct IParlenWordTimesSink : IUnknown {
    virtual HRESULT WordsRendered(const ParlenWordTime* words, size_t count,
                                  DWORD samplesPerSecond) = 0;

  protected:
    ~IParlenWordTimesSink() = default;
};

// Maps an interface type to its identifier, for counted references and objects.
template <class I>
struct InterfaceIdOf;
#define PARLEN_INTERFACE_ID(I, id)       \
    template <>                          \
    struct InterfaceIdOf<I> {            \
        static constexpr IID value = id; \
    }
PARLEN_INTERFACE_ID(IUnknown, IID_IUnknown);
PARLEN_INTERFACE_ID(ITTSEnumA, IID_ITTSEnumA);
PARLEN_INTERFACE_ID(ITTSCentralA, IID_ITTSCentralA);
PARLEN_INTERFACE_ID(ITTSAttributesA, IID_ITTSAttributesA);
PARLEN_INTERFACE_ID(ITTSDialogsA, IID_ITTSDialogsA);
PARLEN_INTERFACE_ID(IAudioMultiMediaDevice, IID_IAudioMultiMediaDevice);
PARLEN_INTERFACE_ID(IAudioFile, IID_IAudioFile);
PARLEN_INTERFACE_ID(ITTSNotifySinkA, IID_ITTSNotifySinkA);
PARLEN_INTERFACE_ID(ITTSBufNotifySink, IID_ITTSBufNotifySink);
PARLEN_INTERFACE_ID(IParlenTextFailureSink, IID_IParlenTextFailureSink);
PARLEN_INTERFACE_ID(IParlenWordTimesSink, IID_IParlenWordTimesSink);
