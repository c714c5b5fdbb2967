// ole32 over the simulated machine.
#include "ole32.h"

#include <cstring>

#include "layer.h"

HRESULT WINAPI CLSIDFromString(LPCOLESTR text, LPCLSID clsid)
{
    LAYER_ENTER_STATUS(HRESULT);
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
