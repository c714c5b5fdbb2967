// The 32-bit library on 64-bit Windows. Windows refuses device installation to a 32-bit
// process there: the class installer and the driver update fail with ERROR_IN_WOW64. The
// custom actions still stage the package, sweep the store and delete the driver binaries,
// but no device is removed or updated, and the install still succeeds.
#include "device_fixture.h"

#include "exports.h"

namespace {

const std::u16string DriverFolder = u"C:\\Program Files\\Tesmar\\drivers\\";
const std::u16string HardwareId = u"USB\\VID_1D6B&PID_7E57";
const std::u16string NativeDriver = u"C:\\Windows\\system32\\drivers\\tesmar.sys";
const std::u16string Wow64Driver = u"C:\\Windows\\SysWOW64\\drivers\\tesmar.sys";

}  // namespace

// 64-bit Windows with the driver package in the DriverFolder, one present device of its
// class, an earlier package of the class in the driver store, and the package's binary in
// both the native and the WOW64 drivers folder.
class OnWow64 : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        m().WriteFile(DriverFolder + u"tesmar.inf", InfOfClass(PackageClassText));
        m().WriteFile(DriverFolder + u"tesmar.sys", "driver");
        m().WriteFile(u"C:\\Windows\\inf\\oem3.inf", InfOfClass(PackageClassText));
        m().WriteFile(u"C:\\Windows\\inf\\oem3.PNF", "pnf");
        m().WriteFile(NativeDriver, "old 64-bit driver");  // written before WOW64 redirects it
        m().WriteFile(Wow64Driver, "old 32-bit driver");
        m().windows64 = true;
        device = &devices().Add(PackageClass).HardwareIds({HardwareId});
        session = host::CurrentMachine().session.Open();
        disableLine = "_Wow64DisableWow64FsRedirection: " + Kernel32Export("Wow64DisableWow64FsRedirection") + " 1";
        revertLine = "_Wow64RevertWow64FsRedirection: " + Kernel32Export("Wow64RevertWow64FsRedirection") + " 1";
        isWow64Line = "IsWow64Process: " + Kernel32Export("IsWow64Process");
    }
    void TearDown() override
    {
        EXPECT_EQ(host::CurrentMachine().session.OpenRecords(), 0) << "installer records left open";
        EXPECT_FALSE(m().RedirectionDisabled()) << "redirection left off";
        DeviceTest::TearDown();
    }

    // The native drivers folder as it is, without WOW64 redirection.
    bool NativeDriverExists()
    {
        m().windows64 = false;
        bool exists = m().Exists(NativeDriver);
        m().windows64 = true;
        return exists;
    }

    host::Device* device = nullptr;
    MSIHANDLE session = 0;
    std::string isWow64Line, disableLine, revertLine;
};

TEST_F(OnWow64, InstallStagesAndSweepsButNeitherRemovesNorUpdates)
{
    EXPECT_EQ(InstallDeviceDriver(session), ERROR_SUCCESS);
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{
                  isWow64Line,
                  disableLine,
                  "IPROPNAME_CUSTOMACTIONDATA data {F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}  \"C:\\Program "
                  "Files\\Tesmar\\drivers\\\"",
                  "Install ...",
                  "Module filename: C:\\Program Files\\Tesmar\\drivers\\",
                  "infFile: tesmar.inf",
                  " C:\\Program Files\\Tesmar\\drivers\\tesmar.inf ClassGuid: {f72fe0d4-cbcb-407d-8814-9ed673d0dd6b}",
                  "Install RemoveDevices ...",
                  "remove devices: {f72fe0d4-cbcb-407d-8814-9ed673d0dd6b} ...",
                  "remove device 2...",
                  "remove error: 0xe0000235",
                  "remove device: ROOT\\SYSTEM\\0000",
                  "remove device count: 1 error: 259",
                  "Install DeleteDriverPackages...",
                  " C:\\Program Files\\Tesmar\\drivers\\tesmar.inf ClassGuid: {f72fe0d4-cbcb-407d-8814-9ed673d0dd6b}",
                  "search oeminf: C:\\Windows\\inf\\oem*.inf",
                  "infFile: oem3.inf",
                  " C:\\Windows\\inf\\oem3.inf ClassGuid: {f72fe0d4-cbcb-407d-8814-9ed673d0dd6b}",
                  "DeleteDriverPackage (C:\\Windows\\inf\\oem3.inf) ok",
                  "Delete File C:\\Windows\\inf\\oem3.inf: 2",
                  "Delete File C:\\Windows\\inf\\oem3.PNF: 2",
                  "DeleteDriverPackage finish",
                  "SearchSYS: C:\\Program Files\\Tesmar\\drivers\\*.SYS",
                  "delete driver file C:\\Windows\\system32\\drivers\\tesmar.sys: 0",
                  "delete wow64 driver file C:\\Windows\\SysWOW64\\drivers\\tesmar.sys: 0",
                  "add package: C:\\Program Files\\Tesmar\\drivers\\tesmar.inf",
                  " C:\\Program Files\\Tesmar\\drivers\\tesmar.inf ClassGuid: {f72fe0d4-cbcb-407d-8814-9ed673d0dd6b}",
                  // newdev.dll cannot be loaded while redirection is off: the update is skipped silently.
                  "rescan devices...",
                  "Install result: 0",
                  revertLine,
              }));
    // The device stays on its old driver; the package is staged all the same.
    EXPECT_FALSE(device->removed);
    EXPECT_TRUE(device->driverInf.empty());
    EXPECT_TRUE(devices().updates.empty());
    EXPECT_EQ(m().References(u"newdev.dll"), 0);
    EXPECT_EQ(m().List(u"C:\\Windows\\inf"), (std::vector<std::u16string>{u"oem0.inf", u"oem0.PNF"}));
    EXPECT_FALSE(NativeDriverExists());
    EXPECT_FALSE(m().Exists(Wow64Driver));
    EXPECT_EQ(devices().reenumerations, 1);
    EXPECT_EQ(m().sleeps, std::vector<DWORD>{1000});
    EXPECT_FALSE(host::CurrentMachine().session.RebootAtEnd());
}

TEST_F(OnWow64, UninstallSweepsButRemovesNoDevice)
{
    EXPECT_EQ(UninstallDeviceDriver(session), ERROR_SUCCESS);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{
                              isWow64Line,
                              disableLine,
                              "IPROPNAME_CUSTOMACTIONDATA data {F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}  \"C:\\Program "
                              "Files\\Tesmar\\drivers\\\"",
                              "Uninstall ...",
                              "Remove Device ...",
                              "remove devices: {f72fe0d4-cbcb-407d-8814-9ed673d0dd6b} ...",
                              "remove device 2...",
                              "remove error: 0xe0000235",
                              "remove device: ROOT\\SYSTEM\\0000",
                              "remove device count: 1 error: 259",
                              "Uninstall modulefile: C:\\Program Files\\Tesmar\\drivers\\",
                              "RemoveDevices again...",
                              "remove devices: {f72fe0d4-cbcb-407d-8814-9ed673d0dd6b} ...",
                              "remove device 2...",
                              "remove error: 0xe0000235",
                              "remove device: ROOT\\SYSTEM\\0000",
                              "remove device count: 1 error: 259",
                              "DeleteDriverPackages...",
                              "search oeminf: C:\\Windows\\inf\\oem*.inf",
                              "infFile: oem3.inf",
                              " C:\\Windows\\inf\\oem3.inf ClassGuid: {f72fe0d4-cbcb-407d-8814-9ed673d0dd6b}",
                              "DeleteDriverPackage (C:\\Windows\\inf\\oem3.inf) ok",
                              "Delete File C:\\Windows\\inf\\oem3.inf: 2",
                              "Delete File C:\\Windows\\inf\\oem3.PNF: 2",
                              "DeleteDriverPackage finish",
                              "SearchSYS: C:\\Program Files\\Tesmar\\drivers\\*.SYS",
                              "delete driver file C:\\Windows\\system32\\drivers\\tesmar.sys: 0",
                              "delete wow64 driver file C:\\Windows\\SysWOW64\\drivers\\tesmar.sys: 0",
                              "Uninstall result: 0",
                              revertLine,
                          }));
    EXPECT_FALSE(device->removed);
    EXPECT_TRUE(m().List(u"C:\\Windows\\inf").empty());
    EXPECT_FALSE(NativeDriverExists());
    EXPECT_FALSE(m().Exists(Wow64Driver));
    EXPECT_TRUE(host::CurrentMachine().session.messages.empty());
}

TEST_F(OnWow64, RefusedRemovalNeverAsksToRetry)
{
    // On 32-bit Windows this device would bring up the retry prompt; here no removal
    // succeeds, so nothing asks for a restart and the answer Abort is never given.
    device->RemovalNeeds(DI_NEEDRESTART);
    host::CurrentMachine().session.answers = {IDABORT};
    EXPECT_EQ(UninstallDeviceDriver(session), ERROR_SUCCESS);
    EXPECT_TRUE(host::CurrentMachine().session.messages.empty());
    EXPECT_FALSE(host::CurrentMachine().session.RebootAtEnd());
    EXPECT_EQ(device->removalsAsked, 0);
    std::vector<std::string> lines = LogLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "Uninstall result: 0");
}

// The two calls that Windows refuses to a 32-bit process on 64-bit Windows, made directly on
// each kind of process and system.
struct ProcessKind {
    const char* name;
    bool windows64;
    bool process64;
    bool refused;  // a 32-bit process on 64-bit Windows, under WOW64
};

void PrintTo(const ProcessKind& kind, std::ostream* out) { *out << kind.name; }

class DeviceInstallation : public DeviceTest, public ::testing::WithParamInterface<ProcessKind> {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        m().WriteFile(u"C:\\pkg\\tesmar.inf", InfOfClass(PackageClassText));
        m().windows64 = GetParam().windows64;
        m().process64 = GetParam().process64;
        device = &devices().Add(PackageClass).HardwareIds({HardwareId});
    }

    host::Device* device = nullptr;
};

TEST_P(DeviceInstallation, OnlyTheWow64ProcessIsToldSoAndRedirected)
{
    BOOL wow64 = -1;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_EQ(wow64, GetParam().refused ? TRUE : FALSE);
    // Under WOW64 the system directory's name leads to the WOW64 folder.
    m().WriteFile(u"C:\\Windows\\SysWOW64\\drivers\\only32.sys", "32-bit");
    EXPECT_EQ(GetFileAttributesW(W("C:\\Windows\\system32\\drivers\\only32.sys")) != INVALID_FILE_ATTRIBUTES,
              GetParam().refused);
}

TEST_P(DeviceInstallation, ClassInstallerRemovesTheDeviceOnlyOutsideWow64)
{
    HDEVINFO set = SetupDiGetClassDevsExW(&PackageClass, nullptr, nullptr, DIGCF_PRESENT, nullptr, nullptr, nullptr);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &data));
    SetLastError(ERROR_SUCCESS);
    BOOL removed = SetupDiCallClassInstaller(DIF_REMOVE, set, &data);
    DWORD error = GetLastError();
    SetupDiDestroyDeviceInfoList(set);
    if (GetParam().refused) {
        EXPECT_FALSE(removed);
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_IN_WOW64));
        EXPECT_FALSE(device->removed);
    } else {
        EXPECT_TRUE(removed);
        EXPECT_TRUE(device->removed);
    }
}

TEST_P(DeviceInstallation, DriverUpdateReachesTheDeviceOnlyOutsideWow64)
{
    BOOL reboot = -1;
    SetLastError(ERROR_SUCCESS);
    BOOL updated = UpdateDriverForPlugAndPlayDevicesW(nullptr, reinterpret_cast<const WCHAR*>(HardwareId.c_str()),
                                                      W("C:\\pkg\\tesmar.inf"), INSTALLFLAG_FORCE, &reboot);
    DWORD error = GetLastError();
    if (GetParam().refused) {
        EXPECT_FALSE(updated);
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_IN_WOW64));
        EXPECT_EQ(reboot, -1) << "a refused update leaves the reboot flag alone";
        EXPECT_TRUE(device->driverInf.empty());
        EXPECT_TRUE(m().List(u"C:\\Windows\\inf").empty()) << "nothing is staged";
    } else {
        EXPECT_TRUE(updated);
        EXPECT_EQ(reboot, FALSE);
        EXPECT_EQ(device->driverInf, u"oem0.inf");
    }
}

TEST_P(DeviceInstallation, LibraryLoadFailsOnlyUnderWow64WithRedirectionOff)
{
    PVOID old = nullptr;
    ASSERT_EQ(Wow64DisableWow64FsRedirection(&old) != FALSE, GetParam().windows64);
    SetLastError(ERROR_SUCCESS);
    HMODULE newdev = LoadLibraryW(W("newdev.dll"));
    DWORD error = GetLastError();
    // A library the process has mapped already is found without a look at the disk.
    HMODULE setupapi = LoadLibraryW(W("setupapi.dll"));
    EXPECT_NE(setupapi, nullptr);
    if (setupapi) FreeLibrary(setupapi);
    if (GetParam().windows64) Wow64RevertWow64FsRedirection(old);
    if (GetParam().refused) {
        EXPECT_EQ(newdev, nullptr);
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
        // With redirection back on, the 32-bit image in the WOW64 folder loads.
        newdev = LoadLibraryW(W("newdev.dll"));
        EXPECT_NE(newdev, nullptr);
    } else {
        EXPECT_NE(newdev, nullptr);
    }
    if (newdev) FreeLibrary(newdev);
}

INSTANTIATE_TEST_SUITE_P(Processes, DeviceInstallation,
                         ::testing::Values(ProcessKind{"On32BitWindows", false, false, false},
                                           ProcessKind{"Wow64Process", true, false, true},
                                           ProcessKind{"Native64BitProcess", true, true, false}),
                         [](const ::testing::TestParamInfo<ProcessKind>& info) {
                             return std::string(info.param.name);
                         });
