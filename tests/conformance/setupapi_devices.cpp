// Devices of a class through the Setup API and the configuration manager: how Drvmate lists,
// reads, marks and removes them, and re-enumerates the device tree.
#include "harness.h"
#include "winapi.h"

#include "case_text.h"
#include "conformance_class.h"
#include "known_differences.h"
#include "setup.h"

namespace {

const Text HardwareId = W("ROOT\\TESMAR_CONFORMANCE");
const DWORD ReinstallFlag = 0x20;  // CONFIGFLAG_REINSTALL

typedef BOOL(WINAPI* UpdateFunction)(HWND parent, LPCWSTR hardwareId, LPCWSTR fullInfPath, DWORD installFlags,
                                     PBOOL rebootRequired);

// The present devices of the class, as the product lists them.
HDEVINFO PresentOfClass() { return SetupDiGetClassDevsExW(&ConformanceClass, 0, 0, DIGCF_PRESENT, 0, 0, 0); }

bool FirstDevice(HDEVINFO set, SP_DEVINFO_DATA* device)
{
    device->cbSize = sizeof(SP_DEVINFO_DATA);
    return SetupDiEnumDeviceInfo(set, 0, device) != FALSE;
}

}  // namespace

CONFORMANCE_CASE(devices_of_a_class_and_their_properties)
{
    if (!CHECK(AddDevice(ConformanceClass, HardwareId))) return;
    HDEVINFO set = PresentOfClass();
    if (!CHECK(set != INVALID_HANDLE_VALUE)) return;
    SP_DEVINFO_DATA device;
    if (CHECK(FirstDevice(set, &device))) {
        CHECK(IsEqualGUID(device.ClassGuid, ConformanceClass));
        SP_DEVINFO_DATA next;
        next.cbSize = sizeof next;
        SetLastError(0);
        CHECK(!SetupDiEnumDeviceInfo(set, 1, &next));
        CHECK_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);

        SP_DEVINFO_LIST_DETAIL_DATA_W detail;
        detail.cbSize = sizeof detail;
        CHECK(SetupDiGetDeviceInfoListDetailW(set, &detail));
        CHECK(detail.RemoteMachineHandle == 0);  // the local machine

        // The hardware IDs: a multi-string; a buffer too small says its type and size.
        const std::string ids = Utf16Bytes(HardwareId + Text(2, W('\0')));
        BYTE buffer[256];
        DWORD type = 0, required = 0;
        SetLastError(0);
        CHECK(!SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, &type, buffer, 2, &required));
        CHECK_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        CHECK_EQ(type, REG_MULTI_SZ);
        CHECK_EQ(required, ids.size());
        CHECK(
            SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, &type, buffer, sizeof buffer, &required));
        CHECK_EQ(std::string(reinterpret_cast<char*>(buffer), required), ids);

        // The configuration flags as Drvmate marks a device for reinstallation.
        DWORD flags = ReinstallFlag;
        CHECK(SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_CONFIGFLAGS, reinterpret_cast<const BYTE*>(&flags),
                                                sizeof flags));
        flags = 0;
        CHECK(SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_CONFIGFLAGS, &type, reinterpret_cast<PBYTE>(&flags),
                                                sizeof flags, 0));
        CHECK_EQ(type, REG_DWORD);
        CHECK_EQ(flags, ReinstallFlag);

        SP_DEVINSTALL_PARAMS_W installParams;
        installParams.cbSize = sizeof installParams;
        CHECK(SetupDiGetDeviceInstallParamsW(set, &device, &installParams));

        // A present device has a status and a root-enumerated instance ID.
        ULONG status = 0, problem = 0;
        CHECK_EQ(CM_Get_DevNode_Status(&status, &problem, device.DevInst, 0), CR_SUCCESS);
        WCHAR id[MAX_DEVICE_ID_LEN] = {0};
        CHECK_EQ(CM_Get_Device_ID_ExW(device.DevInst, id, MAX_DEVICE_ID_LEN, 0, 0), CR_SUCCESS);
        if (Checked(WINE_DEVICE_ID_UNWRITTEN)) CHECK(SameName(Within(id, MAX_DEVICE_ID_LEN).substr(0, 5), W("ROOT\\")));
    }
    CHECK(SetupDiDestroyDeviceInfoList(set));

    // Every class at once holds it too.
    HDEVINFO all = SetupDiGetClassDevsW(0, 0, 0, DIGCF_ALLCLASSES);
    if (!CHECK(all != INVALID_HANDLE_VALUE)) return;
    bool found = false;
    SP_DEVINFO_DATA member;
    member.cbSize = sizeof member;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(all, index, &member); ++index)
        if (IsEqualGUID(member.ClassGuid, ConformanceClass)) found = true;
    CHECK(found);
    CHECK(SetupDiDestroyDeviceInfoList(all));
}

CONFORMANCE_CASE(driver_key_of_a_device_and_its_text_values)
{
    // A device on which no driver was installed has no driver key.
    if (!CHECK(AddDevice(ConformanceClass, HardwareId))) return;
    HDEVINFO set = PresentOfClass();
    if (!CHECK(set != INVALID_HANDLE_VALUE)) return;
    SP_DEVINFO_DATA device;
    if (CHECK(FirstDevice(set, &device))) {
        SetLastError(0);
        HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
        CHECK(key == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE));
        CHECK_EQ(GetLastError(), ERROR_KEY_DOES_NOT_EXIST);
        SetLastError(0);
        key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_BOTH, KEY_READ);
        CHECK(key == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE));
        CHECK_EQ(GetLastError(), ERROR_INVALID_FLAGS);
    }
    CHECK(SetupDiDestroyDeviceInfoList(set));

    // A text value as a driver key holds its InfPath: the size alone, too small a buffer, the
    // text with its terminator, and a value that is not there.
    const std::string path = "SOFTWARE\\" + UniqueName("TesmarConformance");
    if (!CHECK(MakeKey(path) && SetTextValue(path, "InfPath", "oem7.inf"))) return;
    HKEY key = 0;
    if (!CHECK_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, path.c_str(), &key), ERROR_SUCCESS)) return;
    DWORD type = 0, size = 0;
    CHECK_EQ(RegQueryValueExW(key, W("InfPath"), 0, &type, 0, &size), ERROR_SUCCESS);
    CHECK_EQ(type, REG_SZ);
    CHECK_EQ(size, 18u);
    WCHAR text[16] = {0};
    size = 4;
    CHECK_EQ(RegQueryValueExW(key, W("InfPath"), 0, &type, reinterpret_cast<BYTE*>(text), &size), ERROR_MORE_DATA);
    CHECK_EQ(size, 18u);
    size = sizeof text;
    CHECK_EQ(RegQueryValueExW(key, W("InfPath"), 0, &type, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
    CHECK_EQ(size, 18u);
    CHECK(Text(text) == W("oem7.inf"));
    size = sizeof text;
    CHECK_EQ(RegQueryValueExW(key, W("InfSection"), 0, &type, reinterpret_cast<BYTE*>(text), &size),
             ERROR_FILE_NOT_FOUND);
    CHECK_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

CONFORMANCE_CASE(removal_through_the_class_installer)
{
    if (!CHECK(AddDevice(ConformanceClass, HardwareId))) return;
    HDEVINFO set = PresentOfClass();
    if (!CHECK(set != INVALID_HANDLE_VALUE)) return;
    SP_DEVINFO_DATA device;
    if (CHECK(FirstDevice(set, &device))) {
        SP_REMOVEDEVICE_PARAMS params;
        params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
        params.ClassInstallHeader.InstallFunction = DIF_REMOVE;
        params.Scope = DI_REMOVEDEVICE_GLOBAL;
        params.HwProfile = 0;
        BOOL paramsSet = SetupDiSetClassInstallParamsW(set, &device, &params.ClassInstallHeader, sizeof params);
        if (Checked(WINE_CLASS_INSTALL_PARAMS_STUB)) CHECK(paramsSet);

        // A 32-bit process on 64-bit Windows may not run the class installer.
        BOOL wow64 = FALSE;
        IsWow64Process(GetCurrentProcess(), &wow64);
        SetLastError(0);
        BOOL removed = SetupDiCallClassInstaller(DIF_REMOVE, set, &device);
        if (!wow64) {
            CHECK(removed);
        } else if (Checked(WINE_NO_WOW64_REFUSAL)) {
            CHECK(!removed);
            CHECK_EQ(GetLastError(), ERROR_IN_WOW64);
        }
        if (removed) {
            // Gone from the class's present devices, and from the configuration manager.
            HDEVINFO after = PresentOfClass();
            SP_DEVINFO_DATA left;
            CHECK(after != INVALID_HANDLE_VALUE && !FirstDevice(after, &left));
            if (after != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(after);
            ULONG status = 0, problem = 0;
            CONFIGRET gone = CM_Get_DevNode_Status(&status, &problem, device.DevInst, 0);
            if (Checked(WINE_DEVNODE_STATUS_STUB)) CHECK(gone != CR_SUCCESS);
        }
    }
    CHECK(SetupDiDestroyDeviceInfoList(set));
}

CONFORMANCE_CASE(driver_update_for_a_hardware_id_without_device)
{
    const std::string absent = "ROOT\\TESMAR_CONFORMANCE_ABSENT";
    const Text inf = InCase(W("conformance.inf"));
    CHECK(PutFile(inf, ConformanceDeviceInf(absent)));
    // Bound at run time, as Drvmate binds it.
    HMODULE newdev = LoadLibraryW(W("newdev.dll"));
    if (!CHECK(newdev != 0)) return;
    UpdateFunction update =
        reinterpret_cast<UpdateFunction>(GetProcAddress(newdev, "UpdateDriverForPlugAndPlayDevicesW"));
    if (CHECK(update != 0)) {
        BOOL wow64 = FALSE;
        IsWow64Process(GetCurrentProcess(), &wow64);
        BOOL reboot = FALSE;
        SetLastError(0);
        BOOL updated = update(0, Wide(absent).c_str(), inf.c_str(), INSTALLFLAG_FORCE, &reboot);
        DWORD error = GetLastError();
        if (wow64) {
            // A 32-bit process on 64-bit Windows may not update drivers at all.
            if (Checked(WINE_NO_WOW64_REFUSAL)) {
                CHECK(!updated);
                CHECK_EQ(error, ERROR_IN_WOW64);
            }
        } else if (Checked(WINE_UPDATE_WITHOUT_DEVICE)) {
            CHECK(!updated);
            CHECK_EQ(error, ERROR_NO_SUCH_DEVINST);
            // Flags beyond the INSTALLFLAG_ ones, and an INF that is not there.
            const DWORD unknownFlag = 0x80000000;
            SetLastError(0);
            CHECK(!update(0, Wide(absent).c_str(), inf.c_str(), unknownFlag, &reboot));
            CHECK_EQ(GetLastError(), ERROR_INVALID_FLAGS);
            SetLastError(0);
            CHECK(!update(0, Wide(absent).c_str(), InCase(W("missing.inf")).c_str(), INSTALLFLAG_FORCE, &reboot));
            CHECK_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
        }
    }
    CHECK(FreeLibrary(newdev));
}

CONFORMANCE_CASE(device_tree_is_reenumerated_from_its_root)
{
    DEVINST root = 0;
    CONFIGRET located = CM_Locate_DevNode_ExW(&root, 0, CM_LOCATE_DEVNODE_NORMAL, 0);
    if (!Checked(WINE_ROOT_NOT_LOCATED)) return;
    CHECK_EQ(located, CR_SUCCESS);
    CHECK_EQ(CM_Reenumerate_DevNode_Ex(root, CM_REENUMERATE_NORMAL, 0), CR_SUCCESS);
    const ULONG unknownFlag = 0x80000000;
    CHECK_EQ(CM_Reenumerate_DevNode_Ex(root, unknownFlag, 0), CR_INVALID_FLAG);
}
