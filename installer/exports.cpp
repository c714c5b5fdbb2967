#include "exports.h"

#include "frame.h"
#include "installer.h"
#include "log.h"

namespace {

// The installer package's Error table entry that asks whether to retry a device removal.
const int RETRY_PROMPT_ERROR_ENTRY = 25000;
const UINT RETRY_PROMPT_FIELDS = 1;
const INSTALLMESSAGE RETRY_PROMPT_MESSAGE =
    static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_USER | MB_ABORTRETRYIGNORE | MB_ICONERROR);

// Shows the retry prompt through the session and returns the answer: IDABORT, IDRETRY,
// IDIGNORE, 0 when the installer showed nothing, -1 when no message could be shown. The
// record is released as it leaves scope, right after the message.
int RetryPrompt(MSIHANDLE session)
{
    int response = -1;
    PMSIHANDLE record = MsiCreateRecord(RETRY_PROMPT_FIELDS);
    if (record && MsiRecordSetInteger(record, 1, RETRY_PROMPT_ERROR_ENTRY) == ERROR_SUCCESS)
        response = MsiProcessMessage(session, RETRY_PROMPT_MESSAGE, record);
    return response;
}

}  // namespace

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

UINT WINAPI InstallDeviceDriver(MSIHANDLE session)
{
    DeviceDriverInstaller installer;
    if (!session) return static_cast<UINT>(installer.InstallPackage(nullptr, nullptr));

    CustomActionFrame frame;
    LogMessage(W("Install ..."));
    int result = installer.InstallPackage(DeviceClassGuid, frame.DriverFolder());
    LogMessage(W("Install result: %d"), result);
    if (result == RESULT_REBOOT) {
        MsiSetMode(session, MSIRUNMODE_REBOOTATEND, TRUE);
        result = RESULT_SUCCESS;
    }
    return result == RESULT_SUCCESS ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

UINT WINAPI UninstallDeviceDriver(MSIHANDLE session)
{
    DeviceDriverInstaller installer;
    if (!session) return static_cast<UINT>(installer.UninstallPackage(DeviceClassGuid, nullptr));

    GUID classGuid;
    if (CLSIDFromString(DeviceClassGuid, &classGuid) != NOERROR) return RESULT_FAILURE;

    CustomActionFrame frame;
    LogMessage(W("Uninstall ..."));
    for (;;) {
        LogMessage(W("Remove Device ..."));
        if (installer.RemoveDevices(classGuid) != RESULT_REBOOT) break;
        int response = RetryPrompt(session);
        if (response == IDRETRY) continue;
        if (response == IDABORT) {
            LogMessage(W("Uninstall abort... "));
            MsiSetMode(session, MSIRUNMODE_REBOOTATEND, TRUE);
            return ERROR_SUCCESS_REBOOT_INITIATED;
        }
        break;
    }
    int result = installer.UninstallPackage(DeviceClassGuid, frame.DriverFolder());
    LogMessage(W("Uninstall result: %d"), result);
    return ERROR_SUCCESS;
}

UINT WINAPI UpgradeDeviceDriver(MSIHANDLE session)
{
    // The session is not read: both halves work on the folder of the calling executable.
    (void)session;
    DeviceDriverInstaller installer;
    installer.UpgradePackage(nullptr);
    return ERROR_SUCCESS;
}
