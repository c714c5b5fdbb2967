// ole32 over the simulated machine.
#include "ole32.h"

#include <cstring>

#include "machine.h"

namespace {

int HexDigit(WCHAR c)
{
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// Reads `digits` hexadecimal digits at `text`.
bool ReadHex(const WCHAR* text, int digits, uint32_t* value)
{
    uint32_t v = 0;
    for (int i = 0; i < digits; ++i) {
        int d = HexDigit(text[i]);
        if (d < 0) return false;
        v = (v << 4) | static_cast<uint32_t>(d);
    }
    *value = v;
    return true;
}

}  // namespace

namespace host {

// The registry form of a GUID, braces included: 38 characters, dashes at 9, 14, 19 and 24.
bool ParseGuid(const WCHAR* text, GUID* guid)
{
    const int GUID_TEXT_CHARS = 38;
    int length = 0;
    while (length <= GUID_TEXT_CHARS && text[length]) ++length;
    if (length != GUID_TEXT_CHARS || text[0] != u'{' || text[37] != u'}') return false;
    if (text[9] != u'-' || text[14] != u'-' || text[19] != u'-' || text[24] != u'-') return false;
    GUID g;
    uint32_t v;
    if (!ReadHex(text + 1, 8, &v)) return false;
    g.Data1 = v;
    if (!ReadHex(text + 10, 4, &v)) return false;
    g.Data2 = static_cast<uint16_t>(v);
    if (!ReadHex(text + 15, 4, &v)) return false;
    g.Data3 = static_cast<uint16_t>(v);
    static const int offsets[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!ReadHex(text + offsets[i], 2, &v)) return false;
        g.Data4[i] = static_cast<uint8_t>(v);
    }
    *guid = g;
    return true;
}

}  // namespace host

HRESULT WINAPI CLSIDFromString(LPCOLESTR text, LPCLSID clsid)
{
    DWORD code;
    if (host::CurrentMachine().Enter("CLSIDFromString", &code)) return static_cast<HRESULT>(code);
    if (!clsid) return E_INVALIDARG;
    if (!text) {
        std::memset(clsid, 0, sizeof(*clsid));
        return NOERROR;
    }
    // Text without a brace would be looked up as a ProgID; the machine registers none.
    if (!host::ParseGuid(text, clsid)) {
        std::memset(clsid, 0, sizeof(*clsid));
        return CO_E_CLASSSTRING;
    }
    return NOERROR;
}
