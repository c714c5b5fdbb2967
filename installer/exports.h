// The functions Drvmate exports, under their exact undecorated names (see Drvmate.def).
#pragma once

#include "winapi.h"

// The device setup class on which the install and uninstall custom actions work.
extern const WCHAR DeviceClassGuid[];

extern "C" {
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
UINT WINAPI InstallDeviceDriver(MSIHANDLE session);
UINT WINAPI UninstallDeviceDriver(MSIHANDLE session);
UINT WINAPI UpgradeDeviceDriver(MSIHANDLE session);
BOOL WINAPI _IsWow64System();
UINT WINAPI _RescanDevices();
}
