#pragma once
// The enumerator of engine modes (class CLSID_TTSEnumerator): one mode per voice of
// espeak-ng and flite, the voices of the user's locale language first (read when
// the enumerator is created), in the same order after every Reset.
#include <memory>
#include <vector>

#include "platform/ComObject.h"
#include "platform/voices/VoiceCatalogue.h"

class TTSEnumerator : public TComObject<ITTSEnumA> {
  public:
    TTSEnumerator();
    explicit TTSEnumerator(std::shared_ptr<const VoiceModeList> modes, size_t cursor = 0);

    HRESULT Next(ULONG count, TTSMODEINFOA* records, ULONG* fetched) override;
    HRESULT Skip(ULONG count) override;
    HRESULT Reset() override;
    HRESULT Clone(ITTSEnumA** copy) override;
    HRESULT Select(GUID modeId, ITTSCentralA** central, IUnknown* audio) override;

    // Registers the class with the class registry.
    static void RegisterClass();

  private:
    std::shared_ptr<const VoiceModeList> modes_;
    size_t cursor_ = 0;
};
