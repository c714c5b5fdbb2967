// Device driver update: every present device of an INF's class onto that INF, through
// newdev's UpdateDriverForPlugAndPlayDevicesW; and the hardware-ID lists it offers.
#include "guards.h"
#include "installer.h"
#include "log.h"
#include "text.h"

namespace {

typedef BOOL(WINAPI* UpdateDriverFunction)(HWND parent, LPCWSTR hardwareId, LPCWSTR fullInfPath, DWORD installFlags,
                                           PBOOL rebootRequired);

// Bytes offered by the first read of a hardware-ID list.
const DWORD FIRST_HARDWARE_ID_READ_BYTES = 8192;
// Characters behind the data for the two terminators that close every list.
const SIZE_T TERMINATOR_CHARS = 2;
// The largest byte count whose buffer size is still representable.
const SIZE_T LARGEST_HARDWARE_ID_BYTES = (static_cast<SIZE_T>(-1) / sizeof(WCHAR) - TERMINATOR_CHARS) * sizeof(WCHAR);

// A buffer for a property of `bytes` bytes: bytes / 2 characters and the two terminators.
WCHAR* AllocateHardwareIdBuffer(DWORD bytes)
{
    if (bytes > LARGEST_HARDWARE_ID_BYTES) return nullptr;
    SIZE_T characters = bytes / sizeof(WCHAR) + TERMINATOR_CHARS;
    return static_cast<WCHAR*>(HeapAlloc(GetProcessHeap(), 0, characters * sizeof(WCHAR)));
}

void Release(void* block) { HeapFree(GetProcessHeap(), 0, block); }

// Owns a device's hardware-ID list until the device has been handled.
class HardwareIdList {
public:
    HardwareIdList(DeviceDriverInstaller& installer, WCHAR** list) : installer_(installer), list_(list) {}
    ~HardwareIdList() { installer_.FreeMultiSzList(list_); }
    HardwareIdList(const HardwareIdList&) = delete;
    HardwareIdList& operator=(const HardwareIdList&) = delete;

    WCHAR** Get() const { return list_; }

private:
    DeviceDriverInstaller& installer_;
    WCHAR** list_;
};

}  // namespace

int DeviceDriverInstaller::UpdateDeviceDriver(const WCHAR* infPath)
{
    if (!infPath) return RESULT_FAILURE;
    WCHAR fullPath[MAX_PATH];
    if (!ResolveFullPath(infPath, fullPath)) return RESULT_FAILURE;
    if (GetFileAttributesW(fullPath) == INVALID_FILE_ATTRIBUTES) return RESULT_FAILURE;
    GUID classGuid;
    int result = GetInfClassGuid(fullPath, &classGuid);
    if (result != RESULT_SUCCESS) return result;

    LibraryGuard newdev(W("newdev.dll"));
    UpdateDriverFunction updateDriver =
        reinterpret_cast<UpdateDriverFunction>(newdev.Function("UpdateDriverForPlugAndPlayDevicesW"));
    if (!updateDriver) return RESULT_SUCCESS;

    LogMessage(W("update device...\n"));
    WCHAR classText[GUID_TEXT_CHARS];
    FormatGuid(classGuid, classText);
    bool rebootNeeded = false;
    {
        DeviceSetGuard devices(
            SetupDiGetClassDevsExW(&classGuid, nullptr, nullptr, DIGCF_PRESENT, nullptr, nullptr, nullptr));
        if (!devices.Built()) {
            LogMessage(W("SetupDiGetClasDevsEx %s error: %d\n"), classText, GetLastError());
        } else {
            SP_DEVINFO_DATA device;
            device.cbSize = sizeof(device);
            DWORD index = 0;
            for (; SetupDiEnumDeviceInfo(devices.Get(), index, &device); ++index) {
                BOOL deviceNeedsReboot = FALSE;
                HardwareIdList hardwareIds(*this, GetHardwareIds(devices.Get(), &device, SPDRP_HARDWAREID));
                // A list without any string has no hardware ID to offer.
                if (!hardwareIds.Get() || !hardwareIds.Get()[0]) {
                    LogMessage(W("get hwIDs error...\n"));
                    continue;
                }
                const WCHAR* hardwareId = hardwareIds.Get()[0];
                if (updateDriver(nullptr, hardwareId, fullPath, INSTALLFLAG_FORCE, &deviceNeedsReboot)) {
                    if (deviceNeedsReboot) rebootNeeded = true;
                    LogMessage(W("update (%s) ok: %s(%d)\n"), fullPath, hardwareId, deviceNeedsReboot);
                } else {
                    LogMessage(W("update (%s) %s error: 0x%08x\n"), fullPath, hardwareId, GetLastError());
                }
            }
            LogMessage(W("SetupDiEnumDeviceInfo %s devcount:%d error: %d\n"), classText, index, GetLastError());
        }
    }
    MarkPhantomDevicesForReinstall(classGuid);
    return rebootNeeded ? RESULT_REBOOT : RESULT_SUCCESS;
}

WCHAR** DeviceDriverInstaller::GetHardwareIds(HDEVINFO devices, SP_DEVINFO_DATA* device, DWORD property)
{
    DWORD offered = FIRST_HARDWARE_ID_READ_BYTES;
    for (;;) {
        WCHAR* buffer = AllocateHardwareIdBuffer(offered);
        if (!buffer) return nullptr;
        DWORD type = 0;
        DWORD required = 0;
        if (SetupDiGetDeviceRegistryPropertyW(devices, device, property, &type, reinterpret_cast<PBYTE>(buffer),
                                              offered, &required)) {
            // The terminators go behind the data, and never behind the buffer.
            DWORD end = (required < offered ? required : offered) / sizeof(WCHAR);
            buffer[end] = 0;
            buffer[end + 1] = 0;
            WCHAR** list = MultiSzList(buffer);
            if (!list) Release(buffer);
            return list;
        }
        DWORD error = GetLastError();
        Release(buffer);
        // Only a multi-string that asks for more room than it was offered is read again.
        if (error != ERROR_INSUFFICIENT_BUFFER || type != REG_MULTI_SZ || required <= offered) return nullptr;
        offered = required;
    }
}

WCHAR** DeviceDriverInstaller::MultiSzList(WCHAR* buffer)
{
    if (!buffer) return nullptr;
    SIZE_T count = 0;
    for (WCHAR* text = buffer; *text; text += lstrlenW(text) + 1) ++count;
    // Slot 0 keeps the buffer, then one slot per string, then the closing null.
    WCHAR** slots = static_cast<WCHAR**>(HeapAlloc(GetProcessHeap(), 0, (count + 2) * sizeof(WCHAR*)));
    if (!slots) return nullptr;
    slots[0] = buffer;
    SIZE_T slot = 1;
    for (WCHAR* text = buffer; *text; text += lstrlenW(text) + 1) slots[slot++] = text;
    slots[slot] = nullptr;
    return slots + 1;
}

void DeviceDriverInstaller::FreeMultiSzList(WCHAR** list)
{
    if (!list) return;
    WCHAR** slots = list - 1;
    if (slots[0]) Release(slots[0]);
    Release(slots);
}
