#pragma once
// The class registry behind CoCreateInstance: the real speech service registers its
// classes at start-up, tests register recording fakes.
#include <functional>

#include "speech/speech.h"

using ClassFactory = std::function<HRESULT(const IID& iid, void** object)>;

void RegisterClassObject(const CLSID& clsid, ClassFactory factory);
void UnregisterClassObject(const CLSID& clsid);
void ClearClassRegistry();

HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, DWORD context, const IID& iid,
                         void** object);

// Binds the calling thread as the apartment that receives notifications (it must be
// the thread of the running QCoreApplication). Nested calls count; S_FALSE when the
// thread was bound already.
HRESULT CoInitialize(void* reserved);
void CoUninitialize();
