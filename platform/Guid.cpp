#include "platform/Guid.h"

#include <sha1.h>

#include <cstdio>

namespace {
std::function<HRESULT(const CLSID&, std::string&)>& Hook() {
    static std::function<HRESULT(const CLSID&, std::string&)> hook;
    return hook;
}
// Namespace of the program's name-based identifiers.
constexpr GUID kNamespace{
    0x6f1c2a3e, 0x5b7d, 0x4e11, {0x9a, 0x2c, 0x8d, 0x3b, 0x7e, 0x4f, 0x1a, 0x60}};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The identifier's 16 bytes in network order, as name-based identifiers hash them.
void ToBytes(const GUID& g, uint8_t out[16]) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(g.Data1 >> (24 - 8 * i));
    out[4] = static_cast<uint8_t>(g.Data2 >> 8);
    out[5] = static_cast<uint8_t>(g.Data2);
    out[6] = static_cast<uint8_t>(g.Data3 >> 8);
    out[7] = static_cast<uint8_t>(g.Data3);
    for (int i = 0; i < 8; ++i) out[8 + i] = g.Data4[i];
}

GUID FromBytes(const uint8_t b[16]) {
    GUID g{};
    g.Data1 = uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
    g.Data2 = static_cast<uint16_t>(b[4] << 8 | b[5]);
    g.Data3 = static_cast<uint16_t>(b[6] << 8 | b[7]);
    for (int i = 0; i < 8; ++i) g.Data4[i] = b[8 + i];
    return g;
}
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
    // Settings files of earlier versions were read leniently: an optional opening brace,
    // then the 36 characters; what follows them is not looked at.
    if (!text.empty() && text.front() == '{') text.remove_prefix(1);
    if (text.size() < 36) return false;
    uint8_t bytes[16] = {};
    size_t n = 0;
    for (size_t i = 0; i < 36; ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-') return false;
            continue;
        }
        const int digit = HexDigit(text[i]);
        if (digit < 0) return false;
        bytes[n / 2] = static_cast<uint8_t>(bytes[n / 2] << 4 | digit);
        ++n;
    }
    const GUID parsed = FromBytes(bytes);
    // The null identifier is taken only in its registry form.
    if (parsed == GUID{} && text != "00000000-0000-0000-0000-000000000000}") return false;
    id = parsed;
    return true;
}

GUID GuidFromName(std::string_view name) {
    // A version 5 identifier (RFC 4122): the SHA-1 of the namespace and the name.
    uint8_t bytes[16];
    ToBytes(kNamespace, bytes);
    SHA1_CTX sha;
    SHA1Init(&sha);
    SHA1Update(&sha, bytes, sizeof bytes);
    SHA1Update(&sha, reinterpret_cast<const uint8_t*>(name.data()), name.size());
    uint8_t digest[SHA1_DIGEST_LENGTH];
    SHA1Final(digest, &sha);
    digest[6] = static_cast<uint8_t>((digest[6] & 0x0F) | 0x50);
    digest[8] = static_cast<uint8_t>((digest[8] & 0x3F) | 0x80);
    return FromBytes(digest);
}

void SetStringFromCLSIDHook(std::function<HRESULT(const CLSID&, std::string&)> hook) {
    Hook() = std::move(hook);
}
