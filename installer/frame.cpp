#include "frame.h"

#include "log.h"
#include "system.h"
#include "text.h"

namespace {

const WCHAR DRIVER_FOLDER_PATH[] = W("Program Files\\Tesmar\\drivers\\");
const int DRIVE_ROOT_CHARS = 3;  // "C:\"

typedef BOOL(WINAPI* Wow64DisableFunction)(PVOID*);
typedef BOOL(WINAPI* Wow64RevertFunction)(PVOID);

}  // namespace

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
