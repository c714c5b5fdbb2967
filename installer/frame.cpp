#include "frame.h"

#include "exports.h"
#include "installer.h"
#include "log.h"
#include "text.h"

const WCHAR DeviceClassGuid[] = W("{F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}");

namespace {

const WCHAR DRIVER_FOLDER_PATH[] = W("Program Files\\Tesmar\\drivers\\");
const int DRIVE_ROOT_CHARS = 3;  // "C:\"

typedef BOOL(WINAPI* IsWow64ProcessFunction)(HANDLE, PBOOL);
typedef BOOL(WINAPI* Wow64DisableFunction)(PVOID*);
typedef BOOL(WINAPI* Wow64RevertFunction)(PVOID);

FARPROC Kernel32Function(const char* name)
{
    HMODULE kernel32 = GetModuleHandleW(W("kernel32.dll"));
    return kernel32 ? GetProcAddress(kernel32, name) : 0;
}

}  // namespace

BOOL WINAPI _IsWow64System()
{
    BOOL wow64 = FALSE;
    IsWow64ProcessFunction isWow64Process =
        reinterpret_cast<IsWow64ProcessFunction>(Kernel32Function("IsWow64Process"));
    LogMessage(W("IsWow64Process: %p\n"), reinterpret_cast<void*>(isWow64Process));
    if (isWow64Process && !isWow64Process(GetCurrentProcess(), &wow64))
        LogMessage(W("__IsWow64Process error: %d\n"), GetLastError());
    return wow64;
}

void RedirectionGuard::Disable()
{
    Wow64DisableFunction disable =
        reinterpret_cast<Wow64DisableFunction>(Kernel32Function("Wow64DisableWow64FsRedirection"));
    if (!disable) return;
    disabled_ = disable(&oldValue_);
    LogMessage(W("_Wow64DisableWow64FsRedirection: %p %d"), reinterpret_cast<void*>(disable), disabled_);
}

void RedirectionGuard::Revert()
{
    if (!disabled_) return;
    Wow64RevertFunction revert =
        reinterpret_cast<Wow64RevertFunction>(Kernel32Function("Wow64RevertWow64FsRedirection"));
    if (!revert) return;
    revert(oldValue_);
    LogMessage(W("_Wow64RevertWow64FsRedirection: %p %d"), reinterpret_cast<void*>(revert), disabled_);
}

CustomActionFrame::CustomActionFrame()
{
    driverFolder_[0] = 0;
    GetSystemDirectoryW(driverFolder_, MAX_PATH);
    driverFolder_[DRIVE_ROOT_CHARS] = 0;
    if (_IsWow64System()) redirection_.Disable();
    AppendPathText(driverFolder_, DRIVER_FOLDER_PATH);
    LogMessage(W("IPROPNAME_CUSTOMACTIONDATA data %s  \"%s\""), DeviceClassGuid, driverFolder_);
}
