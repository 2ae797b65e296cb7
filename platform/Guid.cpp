#include "platform/Guid.h"

#include <QByteArray>
#include <QUuid>
#include <cstdio>

namespace {
std::function<HRESULT(const CLSID&, std::string&)>& Hook() {
    static std::function<HRESULT(const CLSID&, std::string&)> hook;
    return hook;
}
// Namespace of the program's name-based identifiers.
const QUuid kNamespace("{6f1c2a3e-5b7d-4e11-9a2c-8d3b7e4f1a60}");
}  // namespace

std::string GuidToString(const GUID& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1,
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                  g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

HRESULT StringFromCLSID(const CLSID& id, std::string& text) {
    if (Hook()) return Hook()(id, text);
    text = GuidToString(id);
    return S_OK;
}

bool GuidFromString(std::string_view text, GUID& id) {
    QUuid u(QByteArray(text.data(), static_cast<qsizetype>(text.size())));
    if (u.isNull() && text != "{00000000-0000-0000-0000-000000000000}") return false;
    id.Data1 = u.data1;
    id.Data2 = u.data2;
    id.Data3 = u.data3;
    for (int i = 0; i < 8; ++i) id.Data4[i] = u.data4[i];
    return true;
}

GUID GuidFromName(std::string_view name) {
    QUuid u = QUuid::createUuidV5(kNamespace,
                                  QByteArray(name.data(), static_cast<qsizetype>(name.size())));
    GUID g{u.data1, u.data2, u.data3, {}};
    for (int i = 0; i < 8; ++i) g.Data4[i] = u.data4[i];
    return g;
}

void SetStringFromCLSIDHook(std::function<HRESULT(const CLSID&, std::string&)> hook) {
    Hook() = std::move(hook);
}
