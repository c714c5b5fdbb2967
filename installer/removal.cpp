// Device removal: the present devices of a class through the class installer, and the
// reinstall mark on the class's devices that are not attached.
#include "guards.h"
#include "installer.h"
#include "log.h"
#include "text.h"

namespace {

// The removal wants a restart or a reboot.
const DWORD RESTART_OR_REBOOT_FLAGS = DI_NEEDRESTART | DI_NEEDREBOOT;
// True when a terminator lies within the first `capacity` characters. An instance ID that
// fills its whole buffer comes back without one.
bool IsTerminatedWithin(const WCHAR* text, int capacity)
{
    for (int i = 0; i < capacity; ++i)
        if (text[i] == 0) return true;
    return false;
}

}  // namespace

int DeviceDriverInstaller::RemoveDevices(GUID classGuid)
{
    WCHAR classText[GUID_TEXT_CHARS];
    FormatGuid(classGuid, classText);
    LogMessage(W("remove devices: %s ...\n"), classText);
    bool rebootNeeded = false;
    {
        DeviceSetGuard devices(
            SetupDiGetClassDevsExW(&classGuid, nullptr, nullptr, DIGCF_PRESENT, nullptr, nullptr, nullptr));
        if (!devices.Built()) {
            LogMessage(W("SetupDiGetClassDevsEx error: %d \n"), GetLastError());
        } else {
            SP_DEVINFO_DATA device;
            device.cbSize = sizeof(device);
            DWORD index = 0;
            for (; SetupDiEnumDeviceInfo(devices.Get(), index, &device); ++index) {
                int deviceNeedsReboot = 0;
                RemoveDevice(devices.Get(), &device, &deviceNeedsReboot);
                if (deviceNeedsReboot == 1) rebootNeeded = true;
            }
            LogMessage(W("remove device count: %d error: %d\n"), index, GetLastError());
        }
    }
    MarkPhantomDevicesForReinstall(classGuid);
    return rebootNeeded ? RESULT_REBOOT : RESULT_SUCCESS;
}

int DeviceDriverInstaller::RemoveDevice(HDEVINFO devices, SP_DEVINFO_DATA* device, int* rebootNeeded)
{
    LogMessage(W("remove device %d...\n"), static_cast<int>(device->DevInst));

    SP_DEVINFO_LIST_DETAIL_DATA_W detail;
    detail.cbSize = sizeof(detail);
    if (!SetupDiGetDeviceInfoListDetailW(devices, &detail)) return 0;
    // Zeroed first: a configuration manager that reports success without writing the ID
    // (Wine's stub does) leaves an empty ID rather than whatever the stack held.
    WCHAR deviceId[MAX_DEVICE_ID_LEN] = {0};
    if (CM_Get_Device_ID_ExW(device->DevInst, deviceId, MAX_DEVICE_ID_LEN, 0, detail.RemoteMachineHandle) != CR_SUCCESS)
        return 0;
    // An ID that fills the buffer has no terminator to log it by: skipped like an unreadable one.
    if (!IsTerminatedWithin(deviceId, MAX_DEVICE_ID_LEN)) return 0;

    SP_REMOVEDEVICE_PARAMS params;
    params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
    params.ClassInstallHeader.InstallFunction = DIF_REMOVE;
    params.Scope = DI_REMOVEDEVICE_GLOBAL;
    params.HwProfile = 0;
    if (SetupDiSetClassInstallParamsW(devices, device, &params.ClassInstallHeader, sizeof(params)) &&
        SetupDiCallClassInstaller(DIF_REMOVE, devices, device)) {
        SP_DEVINSTALL_PARAMS_W installParams;
        installParams.cbSize = sizeof(installParams);
        if (SetupDiGetDeviceInstallParamsW(devices, device, &installParams) &&
            (installParams.Flags & RESTART_OR_REBOOT_FLAGS))
            *rebootNeeded = 1;
    } else {
        LogMessage(W("remove error: 0x%08x"), GetLastError());
    }
    LogMessage(W("remove device: %s\n"), deviceId);
    return 0;
}

void DeviceDriverInstaller::MarkPhantomDevicesForReinstall(GUID classGuid)
{
    DeviceSetGuard devices(SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES));
    if (!devices.Built()) return;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof(device);
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices.Get(), index, &device); ++index) {
        if (!IsEqualGUID(device.ClassGuid, classGuid)) continue;
        ULONG status = 0, problem = 0;
        if (CM_Get_DevNode_Status(&status, &problem, device.DevInst, 0) == CR_SUCCESS) continue;
        SetConfigFlags(devices.Get(), &device, GetConfigFlags(devices.Get(), &device) | CONFIGFLAG_REINSTALL);
    }
}

DWORD DeviceDriverInstaller::GetConfigFlags(HDEVINFO devices, SP_DEVINFO_DATA* device)
{
    DWORD flags = 0;
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(devices, device, SPDRP_CONFIGFLAGS, &type, reinterpret_cast<PBYTE>(&flags),
                                           sizeof(flags), nullptr) ||
        type != REG_DWORD)
        return 0;
    return flags;
}

BOOL DeviceDriverInstaller::SetConfigFlags(HDEVINFO devices, SP_DEVINFO_DATA* device, DWORD flags)
{
    return SetupDiSetDeviceRegistryPropertyW(devices, device, SPDRP_CONFIGFLAGS, reinterpret_cast<const BYTE*>(&flags),
                                             sizeof(flags));
}
