// COM base calls (ole32.dll).
#pragma once

#include "types.h"

typedef WCHAR OLECHAR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;

// Parses "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" (hexadecimal digits of either case).
// Anything else is CO_E_CLASSSTRING; a null text gives CLSID_NULL and NOERROR.
HRESULT WINAPI CLSIDFromString(LPCOLESTR text, LPCLSID clsid);
