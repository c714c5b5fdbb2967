// The installer's device, store and update operations against Wine's own setupapi and newdev:
// a root-enumerated device of the package's class that this program creates, store INFs
// placed in the inf folder, and a sample package written at run time.
#include "check.h"

#include <setupapi.h>
#include <stdio.h>

#include <vector>

#include "installer.h"
#include "log.h"
#include "text.h"

namespace {

const GUID PackageClass = {0xF72FE0D4, 0xCBCB, 0x407d, {0x88, 0x14, 0x9E, 0xD6, 0x73, 0xD0, 0xDD, 0x6B}};
const wchar_t PackageClassText[] = L"{F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}";
const wchar_t PackageClassLog[] = L"{f72fe0d4-cbcb-407d-8814-9ed673d0dd6b}";
const wchar_t HardwareId[] = L"ROOT\\TESMAR_WINE_TEST";
const wchar_t DriverName[] = L"tesmarwt.sys";

std::string Inf(const std::string& classGuid, const std::string& className)
{
    std::string version =
        "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=" + className + "\r\nClassGUID=" + classGuid;
    return version +
           "\r\nProvider=%Tesmar%\r\n"
           "DriverVer=01/01/2024,1.0.0.0\r\n\r\n"
           "[Manufacturer]\r\n%Tesmar%=Tesmar,NTamd64\r\n\r\n"
           "[Tesmar]\r\n%Device%=TesmarInstall,ROOT\\TESMAR_WINE_TEST\r\n\r\n"
           "[Tesmar.NTamd64]\r\n%Device%=TesmarInstall,ROOT\\TESMAR_WINE_TEST\r\n\r\n"
           "[TesmarInstall]\r\nCopyFiles=TesmarFiles\r\n\r\n"
           "[TesmarFiles]\r\ntesmarwt.sys\r\n\r\n"
           "[DestinationDirs]\r\nDefaultDestDir=12\r\n\r\n"
           "[SourceDisksNames]\r\n1=%Disk%\r\n\r\n"
           "[SourceDisksFiles]\r\ntesmarwt.sys=1\r\n\r\n"
           "[Strings]\r\nTesmar=\"Tesmar\"\r\nDevice=\"Tesmar test device\"\r\nDisk=\"Tesmar driver disk\"\r\n";
}

std::wstring Format(const wchar_t* format, ...)
{
    wchar_t text[512];
    va_list values;
    va_start(values, format);
    _vsnwprintf(text, 511, format, values);
    va_end(values);
    text[511] = 0;
    return text;
}

std::wstring ReadFolder(UINT(WINAPI* read)(LPWSTR, UINT))
{
    wchar_t folder[MAX_PATH];
    UINT length = read(folder, MAX_PATH);
    return length && length < MAX_PATH ? std::wstring(folder) : std::wstring();
}

std::wstring InfFolder() { return ReadFolder(GetWindowsDirectoryW) + L"\\inf\\"; }

// The package folder, the log and a fresh library state for one case.
struct Bed {
    std::wstring folder, log;
    explicit Bed(const wchar_t* name)
    {
        folder = FreshFolder(name);
        SetEnvironmentVariableW(L"TEMP", folder.c_str());
        log = folder + L"\\drvmate.log";
        ForgetLogPath();
    }
    std::string Log() const { return ReadBytes(log); }
};

// Creates a present root-enumerated device of the package's class.
bool CreateDevice()
{
    HDEVINFO set = SetupDiCreateDeviceInfoList(&PackageClass, nullptr);
    if (set == INVALID_HANDLE_VALUE) return false;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof(device);
    bool ok = SetupDiCreateDeviceInfoW(set, L"TESMARTEST", &PackageClass, nullptr, nullptr, DICD_GENERATE_ID, &device);
    wchar_t ids[64] = {0};
    lstrcpyW(ids, HardwareId);  // the buffer's zeros close the multi-string
    ok = ok && SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, reinterpret_cast<BYTE*>(ids),
                                                 (lstrlenW(ids) + 2) * sizeof(wchar_t));
    ok = ok && SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device);
    if (!ok) printf("  creating the device failed: %lu\n", GetLastError());
    SetupDiDestroyDeviceInfoList(set);
    return ok;
}

struct PresentDevice {
    DWORD devInst;
    std::wstring id;
};

std::vector<PresentDevice> PresentDevices()
{
    std::vector<PresentDevice> devices;
    HDEVINFO set = SetupDiGetClassDevsExW(&PackageClass, nullptr, nullptr, DIGCF_PRESENT, nullptr, nullptr, nullptr);
    if (set == INVALID_HANDLE_VALUE) return devices;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof(device);
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        wchar_t id[MAX_DEVICE_ID_LEN] = {0};
        CM_Get_Device_ID_ExW(device.DevInst, id, MAX_DEVICE_ID_LEN, 0, nullptr);
        devices.push_back(PresentDevice{device.DevInst, id});
    }
    SetupDiDestroyDeviceInfoList(set);
    return devices;
}

}  // namespace

WINE_CASE(class_text_has_every_digit_in_lower_case)
{
    // As the log shows a class: every field with its leading zeros, the digits in lower case.
    WCHAR text[GUID_TEXT_CHARS];
    FormatGuid(PackageClass, text);
    CHECK_EQ(Utf8(text), Utf8(PackageClassLog));
    const GUID small = {0x1, 0x2, 0x3, {0x4, 0x5, 0x6, 0x7, 0x8, 0x9, 0xA, 0x0}};
    FormatGuid(small, text);
    CHECK_EQ(Utf8(text), "{00000001-0002-0003-0405-060708090a00}");
    const GUID large = {0xFFFFFFFF, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};
    FormatGuid(large, text);
    CHECK_EQ(Utf8(text), "{ffffffff-ffff-ffff-ffff-ffffffffffff}");
}

WINE_CASE(device_of_the_class_is_updated_to_the_package)
{
    Bed bed(L"drvmate-update");
    std::wstring inf = bed.folder + L"\\tesmarwt.inf";
    CHECK(WriteBytes(inf, Inf("{F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}", "TesmarUsb")));
    CHECK(WriteBytes(bed.folder + L"\\" + DriverName, "driver binary"));
    if (!CHECK(CreateDevice())) return;
    size_t present = PresentDevices().size();
    CHECK(present >= 1);

    DeviceDriverInstaller installer;
    CHECK(installer.UpdateDeviceDriver(inf.c_str()) == RESULT_SUCCESS);
    std::wstring expected = L" " + inf + L" ClassGuid: " + PackageClassLog + L"\n" + L"update device...\n";
    for (size_t i = 0; i < present; ++i) expected += L"update (" + inf + L") ok: " + HardwareId + L"(0)\n";
    expected +=
        Format(L"SetupDiEnumDeviceInfo %ls devcount:%d error: 259\n", PackageClassLog, static_cast<int>(present));
    CHECK_EQ(bed.Log(), TextModeBytes(expected));
    CHECK(Exists(SystemDriversFolder() + DriverName));
}

WINE_CASE(removal_is_refused_by_the_class_install_params_stub)
{
    // Wine's SetupDiSetClassInstallParamsW returns FALSE: every device gets "remove error",
    // keeps its ID line and stays; nothing asks for a reboot. Wine's CM_Get_Device_ID_ExW is
    // a stub that succeeds without writing, so the IDs read here and logged there are empty.
    Bed bed(L"drvmate-remove");
    std::vector<PresentDevice> before = PresentDevices();
    if (!CHECK(!before.empty())) return;
    DeviceDriverInstaller installer;
    CHECK(installer.RemoveDevices(PackageClass) == RESULT_SUCCESS);
    std::string log = bed.Log();
    std::string head =
        TextModeBytes(std::wstring(L"remove devices: ") + PackageClassLog + L" ...\n" +
                      Format(L"remove device %d...\n", static_cast<int>(before[0].devInst)) + L"remove error: 0x");
    CHECK_EQ(log.substr(0, head.size()), head);
    std::string tail = TextModeBytes(Format(L"remove device: %ls\n", before.back().id.c_str()) +
                                     Format(L"remove device count: %d error: 259\n", static_cast<int>(before.size())));
    CHECK(log.size() >= tail.size() && log.compare(log.size() - tail.size(), tail.size(), tail) == 0);
    CHECK(PresentDevices().size() == before.size());
}

WINE_CASE(driver_files_are_deleted_from_the_drivers_folders)
{
    // The operation leaves redirection as its caller has it (on, here). Under WOW64 the system
    // directory's name then reaches the WOW64 folder: the copy there goes, the WOW64 name finds
    // nothing any more, and the native copy stays. With redirection off, as the custom actions
    // have it, both copies go.
    Bed bed(L"drvmate-files");
    CHECK(WriteBytes(bed.folder + L"\\" + DriverName, "driver binary"));
    std::wstring native = SystemDriversFolder() + DriverName;
    std::wstring wow64 = Is64BitWindows() ? Wow64DriversFolder() + DriverName : std::wstring();
    if (!Exists(native)) CHECK(WriteBytes(native, "installed"));
    if (IsWow64()) {
        NativeView view;
        CHECK(WriteBytes(native, "native copy"));
    }

    DeviceDriverInstaller installer;
    std::wstring pattern = bed.folder + L"\\*.SYS";
    installer.DeleteDriverFiles(pattern.c_str());
    std::wstring expected = L"SearchSYS: " + pattern + L"\n" + L"delete driver file " + native + L": 0\n";
    if (Is64BitWindows()) {
        // Nothing of ours lies in the WOW64 folder, or no longer under WOW64.
        DWORD missing = Exists(Wow64DriversFolder()) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
        expected += Format(L"delete wow64 driver file %ls: %d\n", wow64.c_str(), static_cast<int>(missing));
    }
    CHECK_EQ(bed.Log(), TextModeBytes(expected));
    CHECK(!Exists(native));
    CHECK(Exists(bed.folder + L"\\" + DriverName));
    if (!IsWow64()) return;

    std::string nativeBytes;
    {
        NativeView view;
        nativeBytes = ReadBytes(native);
    }
    CHECK_EQ(nativeBytes, "native copy");
    CHECK(WriteBytes(wow64, "wow64 copy"));
    DeleteFileW(bed.log.c_str());
    {
        NativeView view;
        installer.DeleteDriverFiles(pattern.c_str());
        CHECK(!Exists(native));
    }
    CHECK(!Exists(wow64));
    CHECK_EQ(bed.Log(), TextModeBytes(L"SearchSYS: " + pattern + L"\n" + L"delete driver file " + native + L": 0\n" +
                                      L"delete wow64 driver file " + wow64 + L": 0\n"));
}

WINE_CASE(store_packages_of_the_class_are_uninstalled)
{
    Bed bed(L"drvmate-store");
    const wchar_t* names[] = {L"oem9001", L"oem9002", L"oem9003"};
    CHECK(WriteBytes(InfFolder() + names[0] + L".inf", Inf("{F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}", "TesmarUsb")));
    CHECK(WriteBytes(InfFolder() + names[1] + L".inf", Inf("{4d36e978-e325-11ce-bfc1-08002be10318}", "Ports")));
    CHECK(WriteBytes(InfFolder() + names[2] + L".inf", Inf("{f72fe0d4-cbcb-407d-8814-9ed673d0dd6b}", "TesmarUsb")));
    for (const wchar_t* name : names) CHECK(WriteBytes(InfFolder() + name + L".PNF", "PNF"));

    DeviceDriverInstaller installer;
    CHECK(installer.DeleteDriverPackages(PackageClassText, 0) == RESULT_SUCCESS);
    std::string log = bed.Log();
    CHECK(!Exists(InfFolder() + names[0] + L".inf") && !Exists(InfFolder() + names[0] + L".PNF"));
    CHECK(Exists(InfFolder() + names[1] + L".inf") && Exists(InfFolder() + names[1] + L".PNF"));
    CHECK(!Exists(InfFolder() + names[2] + L".inf") && !Exists(InfFolder() + names[2] + L".PNF"));
    for (int i : {0, 2}) {
        std::wstring path = InfFolder() + names[i] + L".inf";
        std::string ok = TextModeBytes(L"DeleteDriverPackage (" + path + L") ok\n");
        CheckThat(log.find(ok) != std::string::npos, Utf8(path).c_str(), __FILE__, __LINE__);
    }
    std::wstring other = InfFolder() + names[1] + L".inf";
    CHECK(log.find(TextModeBytes(L"infFile: oem9002.inf\n ")) != std::string::npos);
    CHECK(log.find(TextModeBytes(L"DeleteDriverPackage (" + other)) == std::string::npos);
    std::string finish = TextModeBytes(L"DeleteDriverPackage finish\n");
    CHECK(log.size() >= finish.size() && log.compare(log.size() - finish.size(), finish.size(), finish) == 0);
    DeleteFileW(other.c_str());
    DeleteFileW((InfFolder() + names[1] + L".PNF").c_str());
}

WINE_CASE(package_is_staged_and_its_class_read)
{
    Bed bed(L"drvmate-stage");
    std::wstring inf = bed.folder + L"\\tesmarst.inf";
    CHECK(WriteBytes(inf, Inf("{F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}", "TesmarUsb")));
    DeviceDriverInstaller installer;
    GUID guid;
    CHECK(installer.GetInfClassGuid(inf.c_str(), &guid) == RESULT_SUCCESS);
    CHECK(IsEqualGUID(guid, PackageClass));
    CHECK(installer.AddDriverPackage(inf.c_str()) == RESULT_SUCCESS);
    CHECK(installer.AddDriverPackage((bed.folder + L"\\missing.inf").c_str()) == RESULT_FAILURE);
    CHECK(installer.DeleteDriverPackages(L"F72FE0D4-CBCB-407d-8814-9ED673D0DD6B", 0) == RESULT_FAILURE);
    std::string log = bed.Log();
    std::string first = TextModeBytes(L" " + inf + L" ClassGuid: " + PackageClassLog + L"\n");
    CHECK_EQ(log.substr(0, first.size()), first);
    CHECK(log.find(TextModeBytes(L"SetupCopyOEMInf (" + bed.folder + L"\\missing.inf) error: ")) != std::string::npos);
}
