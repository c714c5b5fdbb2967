// The install, uninstall and upgrade sequences that the custom actions run.
#include "installer.h"
#include "log.h"
#include "text.h"

namespace {

const WCHAR INF_PATTERN[] = W("*.inf");
const WCHAR DRIVER_FILE_PATTERN[] = W("*.SYS");
const DWORD RESCAN_PAUSE_MS = 1000;
const DWORD UPGRADE_PAUSE_MS = 2000;

// Puts the package folder into `path`: the folder given, or the path of the calling
// process's executable. False when there is none, or it does not fit; a folder too long and
// an executable's path cut off at the buffer's end are logged.
bool ReadPackageFolder(WCHAR (&path)[SEARCH_BUFFER_CHARS], const WCHAR* folder)
{
    if (folder) {
        if (CopyPathText(path, folder)) return true;
        LogMessage(W("package folder too long: %.200s...\n"), folder);
        return false;
    }
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0) return false;
    // A path that fills the buffer was cut off, perhaps inside a folder's name, and would lead
    // to another folder. Windows XP leaves the last error at 0 then: the line names the cause.
    if (length >= MAX_PATH) {
        path[0] = 0;
        LogMessage(W("GetModuleFileName error: %d\n"), ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    return true;
}

// Cuts `path` behind its last backslash and returns that insertion point, or null when the
// path holds no backslash.
WCHAR* CutBehindLastBackslash(WCHAR* path)
{
    WCHAR* slash = FindLastChar(path, W('\\'));
    if (!slash) return nullptr;
    slash[1] = 0;
    return slash + 1;
}

}  // namespace

int DeviceDriverInstaller::InstallPackage(const WCHAR* classGuidText, const WCHAR* folder)
{
    // The class always comes from the INF that is installed.
    (void)classGuidText;
    int result = RESULT_FAILURE;
    WCHAR packagePath[SEARCH_BUFFER_CHARS] = {0};
    GUID classGuid = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

    if (!folder) LogMessage(W("Getting Module filename..."));
    if (!ReadPackageFolder(packagePath, folder)) return result;
    LogMessage(W("Module filename: %s\n"), packagePath);

    WCHAR* insertionPoint = CutBehindLastBackslash(packagePath);
    if (!insertionPoint) {
        LogMessage(W("not a package folder: %s\n"), packagePath);
        return result;
    }
    // The pattern of the package's driver files: the folder and "*.SYS". It is formed before
    // anything is removed, so that a folder that leaves it no room is refused untouched.
    WCHAR driverFilePattern[MAX_PATH];
    if (!CopyPathText(driverFilePattern, packagePath) || !AppendPathText(driverFilePattern, DRIVER_FILE_PATTERN) ||
        !AppendPathText(packagePath, insertionPoint, INF_PATTERN)) {
        LogMessage(W("package folder too long: %.200s...\n"), packagePath);
        return result;
    }
    HANDLE find = FindFirstInf(packagePath, insertionPoint);
    if (find == INVALID_HANDLE_VALUE) return result;
    FindClose(find);

    WCHAR patternPath[MAX_PATH];
    if (!CopyPathText(patternPath, packagePath)) {
        LogMessage(W("INF path too long: %.200s...\n"), packagePath);
        return result;
    }

    if (GetInfClassGuid(patternPath, &classGuid) == RESULT_SUCCESS) {
        LogMessage(W("Install RemoveDevices ...\n"));
        RemoveDevices(classGuid);
        LogMessage(W("Install DeleteDriverPackages...\n"));
        DeleteDriverPackages(patternPath, 1);
    }

    DeleteDriverFiles(driverFilePattern);

    LogMessage(W("add package: %s\n"), packagePath);
    result = AddDriverPackage(packagePath);
    if (result != RESULT_SUCCESS) {
        LogMessage(W("AddDriverPackage(%s) error: %d\n"), packagePath, GetLastError());
        return result;
    }

    result = UpdateDeviceDriver(packagePath);
    if (result == RESULT_SUCCESS) {
        LogMessage(W("rescan devices...\n"));
        RescanDevices();
        Sleep(RESCAN_PAUSE_MS);
        return result;
    }
    if (result == RESULT_REBOOT) {
        LogMessage(W("UpdateDeviceDriver (%s) reboot required...\n"), packagePath);
        return result;
    }
    LogMessage(W("UpdateDeviceDriver (%s) error: %d\n"), packagePath, GetLastError());
    return result;
}

int DeviceDriverInstaller::UninstallPackage(const WCHAR* classGuidText, const WCHAR* folder)
{
    int result = RESULT_FAILURE;
    GUID classGuid = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
    bool rebootNeeded = false;
    WCHAR path[SEARCH_BUFFER_CHARS] = {0};

    if (!ReadPackageFolder(path, folder)) return result;
    LogMessage(W("Uninstall modulefile: %s\n"), path);

    WCHAR* insertionPoint = CutBehindLastBackslash(path);
    if (!insertionPoint) {
        LogMessage(W("not a package folder: %s\n"), path);
        return result;
    }

    if (!classGuidText) {
        AppendPathText(path, insertionPoint, INF_PATTERN);
        LogMessage(W("SearchINF: %s\n"), path);
        HANDLE find = FindFirstInf(path, insertionPoint);
        if (find == INVALID_HANDLE_VALUE) return result;
        FindClose(find);
        LogMessage(W("INF: %s\n"), insertionPoint);
        int classResult = GetInfClassGuid(path, &classGuid);
        if (classResult != RESULT_SUCCESS) return classResult;
    } else {
        HRESULT parsed = CLSIDFromString(classGuidText, &classGuid);
        if (parsed != NOERROR) {
            LogMessage(W("CLSIDFromString error: 0x%08x...\n"), parsed);
            return result;
        }
    }

    LogMessage(W("RemoveDevices again...\n"));
    if (RemoveDevices(classGuid) == RESULT_REBOOT) rebootNeeded = true;

    LogMessage(W("DeleteDriverPackages...\n"));
    if (classGuidText)
        DeleteDriverPackages(classGuidText, 0);
    else
        DeleteDriverPackages(path, 1);

    CopyPathText(path, insertionPoint, DRIVER_FILE_PATTERN);
    DeleteDriverFiles(path);

    if (rebootNeeded) {
        LogMessage(W("RemoveDevices (%s) reboot required...\n"), path);
        return RESULT_REBOOT;
    }
    return RESULT_SUCCESS;
}

int DeviceDriverInstaller::UpgradePackage(const WCHAR* classGuidText)
{
    UninstallPackage(classGuidText, nullptr);
    Sleep(UPGRADE_PAUSE_MS);
    return InstallPackage(classGuidText, nullptr);
}
