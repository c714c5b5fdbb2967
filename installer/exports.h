// The functions Drvmate exports, under their exact undecorated names (see Drvmate.def).
#pragma once

#include "winapi.h"

extern "C" {
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
UINT WINAPI InstallDeviceDriver(MSIHANDLE session);
UINT WINAPI UninstallDeviceDriver(MSIHANDLE session);
UINT WINAPI UpgradeDeviceDriver(MSIHANDLE session);
BOOL WINAPI _IsWow64System();
UINT WINAPI _RescanDevices();
}
