// COM base calls (ole32.dll).
#pragma once

#include "types.h"

HRESULT WINAPI CLSIDFromString(LPCWSTR text, LPCLSID clsid);
