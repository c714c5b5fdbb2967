// The functions Drvmate exports, under their exact undecorated names (see Drvmate.def).
#pragma once

#include "system.h"  // DeviceClassGuid, and _IsWow64System, which is exported as well
#include "winapi.h"

extern "C" {
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
UINT WINAPI InstallDeviceDriver(MSIHANDLE session);
UINT WINAPI UninstallDeviceDriver(MSIHANDLE session);
UINT WINAPI UpgradeDeviceDriver(MSIHANDLE session);
UINT WINAPI _RescanDevices();
}
