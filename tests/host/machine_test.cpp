// The simulated machine itself: injected failures are honoured by every call that can fail
// and refused by the calls Windows gives no way to fail, what is not simulated stops the
// test by name, the journal keeps the calls in order, and path lookup reads a folder once.
#include "device_fixture.h"
#include "winapi.h"

namespace {

const std::u16string Store = u"C:\\Windows\\inf\\";

// The message of the NotSimulated a call throws, or empty when it throws none.
template <typename Call>
std::string NotSimulatedMessage(Call call)
{
    try {
        call();
    } catch (const host::NotSimulated& e) {
        return e.what();
    }
    return std::string();
}

}  // namespace

class InjectedFailure : public DeviceTest {};

// A close that fails still gives the resource back (the caller cannot try again), and
// reports the injected code.
TEST_F(InjectedFailure, ClosingCallsFailAndStillRelease)
{
    m().WriteFile(u"C:\\pkg\\a.inf", "");
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(W("C:\\pkg\\*.inf"), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    m().Fail("FindClose", ERROR_INVALID_FUNCTION, 1);
    EXPECT_FALSE(FindClose(find));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));

    HMODULE newdev = LoadLibraryW(W("newdev.dll"));
    ASSERT_NE(newdev, nullptr);
    m().Fail("FreeLibrary", ERROR_ACCESS_DENIED, 1);
    EXPECT_FALSE(FreeLibrary(newdev));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    HDEVINFO set = SetupDiGetClassDevsW(&PackageClass, nullptr, nullptr, DIGCF_PRESENT);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    m().Fail("SetupDiDestroyDeviceInfoList", ERROR_INVALID_DATA, 1);
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));

    void* block = HeapAlloc(GetProcessHeap(), 0, 16);
    m().Fail("HeapFree", ERROR_INVALID_PARAMETER, 1);
    EXPECT_FALSE(HeapFree(GetProcessHeap(), 0, block));

    MSIHANDLE record = MsiCreateRecord(1);
    m().Fail("MsiCloseHandle", ERROR_INVALID_HANDLE, 1);
    EXPECT_EQ(MsiCloseHandle(record), static_cast<UINT>(ERROR_INVALID_HANDLE));
    // TearDown finds every handle, reference and block given back.
}

TEST_F(InjectedFailure, CallsThatCannotFailRefuseIt)
{
    m().Fail("Sleep", ERROR_INVALID_FUNCTION);
    EXPECT_NE(NotSimulatedMessage([] { Sleep(1); }).find("Sleep"), std::string::npos);
    m().Fail("GetCommandLineW", ERROR_INVALID_FUNCTION);
    EXPECT_NE(NotSimulatedMessage([] { GetCommandLineW(); }).find("GetCommandLineW"), std::string::npos);
    m().Fail("IsWellKnownSid", ERROR_INVALID_FUNCTION);
    EXPECT_NE(NotSimulatedMessage([] { IsWellKnownSid(nullptr, WinLocalSystemSid); }), "");
    EXPECT_TRUE(m().sleeps.empty());
}

TEST_F(InjectedFailure, EqualSidReportsItsFailure)
{
    std::vector<BYTE> sid = host::SidBytes(host::SYSTEM_SID);
    EXPECT_TRUE(EqualSid(sid.data(), sid.data()));
    m().Fail("EqualSid", ERROR_INVALID_PARAMETER);
    SetLastError(0);
    EXPECT_FALSE(EqualSid(sid.data(), sid.data()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// The fault explorer's two faults: one call by its place in the journal fails once; from
// a kill on, no call has an effect, and the process's end gives back what it held (a
// service marked for deletion goes with the last handle) while files stay as they stand.
TEST_F(InjectedFailure, ByJournalPositionAndKilledProcess)
{
    m().WriteFile(u"C:\\pkg\\a.sys", "a");
    m().WriteFile(u"C:\\pkg\\b.sys", "b");
    m().FailAt(m().journal.Size() + 1, ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(DeleteFileW(W("C:\\pkg\\a.sys")));
    EXPECT_FALSE(DeleteFileW(W("C:\\pkg\\b.sys")));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(m().Exists(u"C:\\pkg\\b.sys"));

    m().services.Add("androidusb");
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceA(manager, "androidusb", DELETE);
    ASSERT_NE(service, nullptr);
    EXPECT_TRUE(DeleteService(service));
    HMODULE newdev = LoadLibraryW(W("newdev.dll"));
    ASSERT_NE(newdev, nullptr);
    m().StopAt(m().journal.Size());
    EXPECT_FALSE(DeleteFileW(W("C:\\pkg\\b.sys")));
    EXPECT_FALSE(CloseServiceHandle(service));
    EXPECT_TRUE(m().Dead());
    EXPECT_TRUE(m().Exists(u"C:\\pkg\\b.sys"));
    EXPECT_TRUE(m().services.Has("androidusb"));

    m().EndProcess();
    EXPECT_FALSE(m().Dead());
    EXPECT_FALSE(m().services.Has("androidusb"));
    EXPECT_EQ(m().References(u"newdev.dll"), 0);
    EXPECT_TRUE(DeleteFileW(W("C:\\pkg\\b.sys")));
}

class Unsimulated : public DeviceTest {};

TEST_F(Unsimulated, StopsTheTestNamingCallAndArgument)
{
    EXPECT_EQ(NotSimulatedMessage([] { SetupDiGetClassDevsW(&PackageClass, nullptr, nullptr, DIGCF_DEVICEINTERFACE); }),
              "SetupDiGetClassDevsW: not simulated: DIGCF_DEVICEINTERFACE: sets of device interfaces");
    EXPECT_EQ(NotSimulatedMessage([] {
                  WCHAR name[MAX_PATH];
                  GetModuleFileNameW(reinterpret_cast<HMODULE>(1), name, MAX_PATH);
              }),
              "GetModuleFileNameW: not simulated: a module other than the process's file");

    devices().Add(PackageClass);
    HDEVINFO set = SetupDiGetClassDevsW(&PackageClass, nullptr, nullptr, DIGCF_PRESENT);
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(SP_DEVINFO_DATA);
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &device));
    EXPECT_EQ(NotSimulatedMessage([&] { SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &device); }),
              "SetupDiCallClassInstaller: not simulated: install function 18");
    EXPECT_NE(NotSimulatedMessage([&] {
                  SP_CLASSINSTALL_HEADER header = {sizeof(SP_CLASSINSTALL_HEADER), DIF_REMOVE};
                  SetupDiSetClassInstallParamsW(set, nullptr, &header, sizeof header);
              }),
              "");
    SetupDiDestroyDeviceInfoList(set);
}

class Journal : public MachineTest {};

TEST_F(Journal, KeepsEveryCallInOrder)
{
    m().windows64 = true;
    PVOID old;
    Wow64DisableWow64FsRedirection(&old);
    m().session.Open();
    MsiSetMode(m().session.sessions[0], MSIRUNMODE_REBOOTATEND, TRUE);
    Wow64RevertWow64FsRedirection(old);
    long mode = m().journal.Position("MsiSetMode");
    EXPECT_LT(m().journal.Position("Wow64DisableWow64FsRedirection"), mode);
    EXPECT_GT(m().journal.Position("Wow64RevertWow64FsRedirection"), mode);
    EXPECT_EQ(m().journal.Position("MsiSetMode", 1), -1);
    EXPECT_EQ(m().Calls("MsiSetMode"), 1);
}

class PathLookup : public DeviceTest {};

// Windows matches names without regard to case, whatever happened to them since the folder
// was first looked at.
TEST_F(PathLookup, FindsNamesWithoutRegardToCaseThroughChanges)
{
    m().WriteFile(u"C:\\Pkg\\Tesmar.INF", "1");
    EXPECT_EQ(m().ReadFile(u"c:\\PKG\\tesmar.inf"), "1");
    m().Remove(u"C:\\pkg\\TESMAR.inf");
    EXPECT_FALSE(m().Exists(u"C:\\pkg\\tesmar.inf"));
    m().WriteFile(u"C:\\PKG\\TESMAR.inf", "2");  // a new file under the old name's other case
    EXPECT_EQ(m().List(u"C:\\pkg"), (std::vector<std::u16string>{u"TESMAR.inf"}));
    EXPECT_EQ(m().ReadFile(u"C:\\pkg\\tesmar.INF"), "2");
    EXPECT_EQ(GetFileAttributesW(W("C:\\PKG\\TESMAR.INF")), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_TRUE(DeleteFileW(W("c:\\pkg\\tesmar.inf")));
    EXPECT_EQ(GetFileAttributesW(W("C:\\pkg\\Tesmar.INF")), INVALID_FILE_ATTRIBUTES);
}

// A store sweep reads the store folder a fixed number of times, however many INFs it holds:
// each INF costs a lookup per path component, not a reading of the folder.
class StoreSweep : public DeviceTest, public ::testing::WithParamInterface<int> {};

TEST_P(StoreSweep, ReadsTheStoreFolderAFixedNumberOfTimes)
{
    for (int i = 0; i < GetParam(); ++i)
        m().WriteFile(Store + u"oem" + host::U16(std::to_string(i)) + u".inf", InfOfClass(PackageClassText));
    m().folderScans = 0;
    EXPECT_EQ(installer.DeleteDriverPackages(W("{F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}"), 0), RESULT_SUCCESS);
    EXPECT_TRUE(m().List(Store).empty());
    EXPECT_LE(m().folderScans, 6);
}

INSTANTIATE_TEST_SUITE_P(Sizes, StoreSweep, ::testing::Values(3, 300));
