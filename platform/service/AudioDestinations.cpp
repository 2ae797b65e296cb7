// Registers the two audio destination classes with the class registry.
#include "platform/ClassRegistry.h"
#include "platform/device/DeviceDest.h"
#include "platform/audio/FileDest.h"
#include "platform/service/SpeechService.h"

namespace {

template <class T>
HRESULT CreateDestination(const IID& iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    ComPtr<T> dest = MakeCom<T>();  // holds it, so a refused interface frees it
    return dest->QueryInterface(iid, object);
}

}  // namespace

void RegisterAudioDestinations() {
    RegisterClassObject(CLSID_MMAudioDest, &CreateDestination<DeviceDest>);
    RegisterClassObject(CLSID_AudioDestFile, &CreateDestination<FileDest>);
}
