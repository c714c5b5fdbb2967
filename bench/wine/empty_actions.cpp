// A custom-action DLL with the entry points of Drvmate.dll that return at once: what msiexec
// spends on loading and calling a DLL custom action, which bench.sh takes off Drvmate's time.
#include <windows.h>

#include <msi.h>

extern "C" UINT __stdcall InstallDeviceDriver(MSIHANDLE session)
{
    (void)session;
    return ERROR_SUCCESS;
}

extern "C" UINT __stdcall UninstallDeviceDriver(MSIHANDLE session)
{
    (void)session;
    return ERROR_SUCCESS;
}
