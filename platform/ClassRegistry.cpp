#include "platform/ClassRegistry.h"

#include <mutex>
#include <vector>

#include "platform/Apartment.h"

namespace {
struct Entry {
    CLSID clsid;
    ClassFactory factory;
};
std::mutex& RegistryMutex() {
    static std::mutex m;
    return m;
}
std::vector<Entry>& Entries() {
    static std::vector<Entry> entries;
    return entries;
}
}  // namespace

void RegisterClassObject(const CLSID& clsid, ClassFactory factory) {
    std::lock_guard lock(RegistryMutex());
    for (auto& e : Entries())
        if (e.clsid == clsid) {
            e.factory = std::move(factory);
            return;
        }
    Entries().push_back({clsid, std::move(factory)});
}

void UnregisterClassObject(const CLSID& clsid) {
    std::lock_guard lock(RegistryMutex());
    std::erase_if(Entries(), [&](const Entry& e) { return e.clsid == clsid; });
}

void ClearClassRegistry() {
    std::lock_guard lock(RegistryMutex());
    Entries().clear();
}

HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, DWORD /*context*/, const IID& iid,
                         void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return E_INVALIDARG;  // aggregation is not supported
    ClassFactory factory;
    {
        std::lock_guard lock(RegistryMutex());
        for (auto& e : Entries())
            if (e.clsid == clsid) factory = e.factory;
    }
    if (!factory) return REGDB_E_CLASSNOTREG;
    return factory(iid, object);
}

HRESULT CoInitialize(void*) {
    return Apartment::Bind() ? S_OK : S_FALSE;
}

void CoUninitialize() {
    Apartment::Unbind();
}
