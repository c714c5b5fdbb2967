#include "exports.h"

#include "installer.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}

UINT WINAPI _RescanDevices()
{
    DeviceDriverInstaller installer;
    installer.RescanDevices();
    return 0;
}

// The install, uninstall and upgrade sequences are not built yet: the custom actions do
// nothing and report failure, so that a package that runs them cannot mistake them for done.
UINT WINAPI InstallDeviceDriver(MSIHANDLE session)
{
    (void)session;
    return ERROR_INSTALL_FAILURE;
}

UINT WINAPI UninstallDeviceDriver(MSIHANDLE session)
{
    (void)session;
    return ERROR_INSTALL_FAILURE;
}

UINT WINAPI UpgradeDeviceDriver(MSIHANDLE session)
{
    (void)session;
    return ERROR_INSTALL_FAILURE;
}
