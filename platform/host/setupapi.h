// Setup API calls (setupapi.dll) and newdev's driver update.
#pragma once

#include "types.h"

typedef PVOID HDEVINFO;

struct SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
};
typedef SP_DEVINFO_DATA* PSP_DEVINFO_DATA;
