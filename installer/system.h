// What the custom actions and their frame learn of the system they run on: the device setup
// class they work on, kernel32 functions that older Windows versions lack, and whether this
// process runs under WOW64. The exports and the frame both build on it.
#pragma once

#include "winapi.h"

// The device setup class on which the install and uninstall custom actions work.
extern const WCHAR DeviceClassGuid[];

// The kernel32.dll export of that name, or null when this Windows lacks it.
FARPROC Kernel32Function(const char* name);

// Whether this is a 32-bit process on 64-bit Windows; logs the IsWow64Process binding. The
// library exports it under this name (see Drvmate.def).
extern "C" BOOL WINAPI _IsWow64System();
