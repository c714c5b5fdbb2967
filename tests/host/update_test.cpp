#include "device_fixture.h"

namespace {

const std::u16string InfPath = u"C:\\pkg\\tesmar.inf";
const std::string ClassLine = " C:\\pkg\\tesmar.inf ClassGuid: " + PackageClassText;
const std::string DevcountLine(int count)
{
    return "SetupDiEnumDeviceInfo " + PackageClassText + " devcount:" + std::to_string(count) + " error: 259";
}
const WCHAR* Wide(const std::u16string& text) { return reinterpret_cast<const WCHAR*>(text.c_str()); }

// A REG_MULTI_SZ's bytes, with the closing empty string.
std::string MultiSz(const std::vector<std::u16string>& strings)
{
    std::u16string text;
    for (const auto& s : strings) text += s + u'\0';
    text += u'\0';
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

}  // namespace

class UpdateDriver : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        m().WriteFile(InfPath, InfOfClass(PackageClassText));
    }
    int Update(const std::u16string& path = InfPath) { return installer.UpdateDeviceDriver(Wide(path)); }
};

TEST_F(UpdateDriver, OnePresentDevice)
{
    devices().Add(PackageClass).HardwareIds({u"USB\\VID_1234&PID_0001", u"USB\\VID_1234"});
    devices().Add(OtherClass).HardwareIds({u"USB\\VID_1234&PID_0001"});
    m().currentDirectory = u"C:\\pkg";
    EXPECT_EQ(Update(u"tesmar.inf"), RESULT_SUCCESS);
    EXPECT_EQ(LogText(), ClassLine +
                             "\nupdate device...\nupdate (C:\\pkg\\tesmar.inf) ok: USB\\VID_1234&PID_0001(0)\n" +
                             DevcountLine(1) + "\n");
    ASSERT_EQ(devices().updates.size(), 1u);
    EXPECT_EQ(host::U8(devices().updates[0].infPath), "C:\\pkg\\tesmar.inf");
    EXPECT_EQ(devices().updates[0].flags, DWORD(INSTALLFLAG_FORCE));
    EXPECT_EQ(devices().devices[0].driverInf, u"oem0.inf");
}

TEST_F(UpdateDriver, PathChecksGiveTwoWithoutALine)
{
    EXPECT_EQ(installer.UpdateDeviceDriver(nullptr), RESULT_FAILURE);
    EXPECT_EQ(Update(u""), RESULT_FAILURE);
    EXPECT_EQ(Update(u"C:\\pkg\\missing.inf"), RESULT_FAILURE);
    m().WriteFile(u"C:\\pkg\\notinf.inf", "text");
    EXPECT_EQ(Update(u"C:\\pkg\\notinf.inf"), RESULT_FAILURE);
    EXPECT_FALSE(m().Exists(LogPath()));
    EXPECT_EQ(m().Calls("LoadLibraryW"), 0);
}

TEST_F(UpdateDriver, ResolvedPathOf259IsTakenAnd260Refused)
{
    // "C:\" + folder + "\" + "t.inf": 3 + 250 + 1 + 5 = 259 characters.
    std::u16string folder = u"C:\\" + std::u16string(250, u'f');
    m().WriteFile(folder + u"\\t.inf", InfOfClass(PackageClassText));
    devices().Add(PackageClass).HardwareIds({u"USB\\VID_1234"});
    ASSERT_EQ((folder + u"\\t.inf").size(), 259u);
    EXPECT_EQ(Update(folder + u"\\t.inf"), RESULT_SUCCESS);
    ASSERT_EQ(devices().updates.size(), 1u);
    EXPECT_EQ(devices().updates[0].infPath, folder + u"\\t.inf");
    m().Remove(LogPath());
    EXPECT_EQ(Update(folder + u"\\tt.inf"), RESULT_FAILURE);
    EXPECT_EQ(Update(u"C:\\" + std::u16string(250, u'f') + u"\\..\\" + std::u16string(257, u'g')), RESULT_FAILURE);
    EXPECT_FALSE(m().Exists(LogPath()));
    EXPECT_EQ(m().Calls("GetFileAttributesW"), 1);
}

TEST_F(UpdateDriver, WithoutNewdevNothingIsTouched)
{
    host::Device& phantom = devices().Add(PackageClass).Present(false);
    devices().Add(PackageClass).HardwareIds({u"USB\\VID_1234"});
    m().RemoveExport(u"newdev.dll", "UpdateDriverForPlugAndPlayDevicesW");
    EXPECT_EQ(Update(), RESULT_SUCCESS);
    m().FailLoad(u"newdev.dll");
    EXPECT_EQ(Update(), RESULT_SUCCESS);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{ClassLine, ClassLine}));
    EXPECT_TRUE(devices().updates.empty());
    EXPECT_TRUE(phantom.configFlagsWritten.empty());
}

TEST_F(UpdateDriver, UnbuildableSetGivesZeroAndPhantomsAreMarked)
{
    host::Device& phantom = devices().Add(PackageClass).Present(false);
    m().Fail("SetupDiGetClassDevsExW", ERROR_ACCESS_DENIED);
    EXPECT_EQ(Update(), RESULT_SUCCESS);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{ClassLine, "update device...",
                                                    "SetupDiGetClasDevsEx " + PackageClassText + " error: 5"}));
    EXPECT_EQ(phantom.configFlagsWritten, std::vector<DWORD>{0x20});
}

TEST_F(UpdateDriver, ClassWithoutPresentDevices)
{
    host::Device& phantom = devices().Add(PackageClass).Present(false).HardwareIds({u"USB\\VID_1234"});
    EXPECT_EQ(Update(), RESULT_SUCCESS);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{ClassLine, "update device...", DevcountLine(0)}));
    EXPECT_EQ(phantom.configFlagsWritten, std::vector<DWORD>{0x20});
}

TEST_F(UpdateDriver, OneRebootMakesTheResultOneAndFailuresChangeNothing)
{
    devices().Add(PackageClass).HardwareIds({u"USB\\VID_0001"});
    devices().Add(PackageClass).HardwareIds({u"USB\\VID_0002"});
    devices().Add(PackageClass);  // no hardware IDs
    devices().Add(PackageClass).HardwareIds({u"USB\\VID_0003"});
    devices().UpdateOf(u"USB\\VID_0001").NeedsReboot();
    devices().UpdateOf(u"USB\\VID_0002").Fails(ERROR_NO_SUCH_DEVINST);
    EXPECT_EQ(Update(), RESULT_REBOOT);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{
                              ClassLine, "update device...", "update (C:\\pkg\\tesmar.inf) ok: USB\\VID_0001(1)",
                              "update (C:\\pkg\\tesmar.inf) USB\\VID_0002 error: 0xe000020b", "get hwIDs error...",
                              "update (C:\\pkg\\tesmar.inf) ok: USB\\VID_0003(0)", DevcountLine(4)}));
}

TEST_F(UpdateDriver, EveryUpdateFailingGivesZero)
{
    devices().Add(PackageClass).HardwareIds({u"USB\\VID_0001"});
    m().Fail("UpdateDriverForPlugAndPlayDevicesW", ERROR_ACCESS_DENIED);
    EXPECT_EQ(Update(), RESULT_SUCCESS);
    EXPECT_EQ(LogLines()[2], "update (C:\\pkg\\tesmar.inf) USB\\VID_0001 error: 0x00000005");
}

TEST_F(UpdateDriver, DevicesSharingTheFirstIdAreEachUpdated)
{
    devices().Add(PackageClass).HardwareIds({u"USB\\VID_1234", u"USB\\A"});
    devices().Add(PackageClass).HardwareIds({u"USB\\VID_1234", u"USB\\B"});
    EXPECT_EQ(Update(), RESULT_SUCCESS);
    ASSERT_EQ(devices().updates.size(), 2u);
    EXPECT_EQ(devices().updates[0].hardwareId, u"USB\\VID_1234");
    EXPECT_EQ(devices().updates[1].hardwareId, u"USB\\VID_1234");
}

TEST_F(UpdateDriver, AnEmptyListOffersNoId)
{
    devices().Add(PackageClass).Property(SPDRP_HARDWAREID, REG_MULTI_SZ, MultiSz({}));
    EXPECT_EQ(Update(), RESULT_SUCCESS);
    EXPECT_EQ(LogLines()[2], "get hwIDs error...");
    EXPECT_TRUE(devices().updates.empty());
}

class HardwareIds : public DeviceTest {
protected:
    // The first device of the class, in a set of its own.
    WCHAR** Read(DWORD property = SPDRP_HARDWAREID)
    {
        set = SetupDiGetClassDevsExW(&PackageClass, nullptr, nullptr, DIGCF_PRESENT, nullptr, nullptr, nullptr);
        data.cbSize = sizeof(data);
        EXPECT_TRUE(SetupDiEnumDeviceInfo(set, 0, &data));
        WCHAR** list = installer.GetHardwareIds(set, &data, property);
        SetupDiDestroyDeviceInfoList(set);
        return list;
    }
    std::vector<std::u16string> Strings(WCHAR** list)
    {
        std::vector<std::u16string> strings;
        for (; *list; ++list) strings.push_back(reinterpret_cast<const char16_t*>(*list));
        return strings;
    }
    HDEVINFO set = nullptr;
    SP_DEVINFO_DATA data;
};

TEST_F(HardwareIds, ListOverTheFirstReadGrowsToTheRequiredSize)
{
    std::vector<std::u16string> ids;
    for (int i = 0; i < 40; ++i)
        ids.push_back(u"USB\\VID_1234&PID_" + host::U16(std::to_string(i)) + std::u16string(100, u'x'));
    std::string bytes = MultiSz(ids);
    ASSERT_GT(bytes.size(), 8192u);
    devices().Add(PackageClass).Property(SPDRP_HARDWAREID, REG_MULTI_SZ, bytes);
    WCHAR** list = Read();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(Strings(list), ids);
    EXPECT_EQ(m().Calls("SetupDiGetDeviceRegistryPropertyW"), 2);
    // 8192 bytes and two characters, then the required size and two characters, then the slots.
    EXPECT_EQ(host::CurrentMachine().heap.sizes,
              (std::vector<size_t>{8196, bytes.size() + 4, (ids.size() + 2) * sizeof(WCHAR*)}));
    EXPECT_EQ(host::CurrentMachine().heap.peakBlocks, 2u);
    installer.FreeMultiSzList(list);
}

namespace {

struct OddSize {
    const char* name;
    std::string bytes;            // an odd number of them
    std::u16string id;            // the one string of the list
    std::vector<size_t> buffers;  // the sizes of the buffers read into, in order
};
void PrintTo(const OddSize& size, std::ostream* out) { *out << size.name; }

}  // namespace

// A property of an odd number of bytes: its last byte is dropped, and the list's terminators
// go at the halved size.
class HardwareIdsOddSize : public HardwareIds, public ::testing::WithParamInterface<OddSize> {};

TEST_P(HardwareIdsOddSize, OddSizesPutTheTerminatorsAtTheHalvedSize)
{
    ASSERT_EQ(GetParam().bytes.size() % 2, 1u);
    devices().Add(PackageClass).Property(SPDRP_HARDWAREID, REG_MULTI_SZ, GetParam().bytes);
    WCHAR** list = Read();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(Strings(list), std::vector<std::u16string>{GetParam().id});
    std::vector<size_t> sizes = GetParam().buffers;
    sizes.push_back(3 * sizeof(WCHAR*));  // the owner, the string and the closing null
    EXPECT_EQ(host::CurrentMachine().heap.sizes, sizes);
    installer.FreeMultiSzList(list);
}

INSTANTIATE_TEST_SUITE_P(
    HardwareIds, HardwareIdsOddSize,
    ::testing::Values(
        // Seven bytes: "ABC" without terminator and a stray byte, in the first buffer.
        OddSize{"SevenBytes", std::string("A\0B\0C\0X", 7), u"ABC", {8196}},
        // 8193 bytes: the second buffer has 4096 + 2 characters.
        OddSize{"Bytes8193", MultiSz({std::u16string(4094, u'z')}) + "Q", std::u16string(4094, u'z'), {8196, 8196}}),
    [](const ::testing::TestParamInfo<OddSize>& info) { return std::string(info.param.name); });

TEST_F(HardwareIds, OtherTypesAreTakenOnlyWhenTheyFit)
{
    devices().Add(PackageClass).Property(SPDRP_HARDWAREID, REG_SZ, MultiSz({u"USB\\ONE"}));
    WCHAR** list = Read();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(Strings(list), std::vector<std::u16string>{u"USB\\ONE"});
    installer.FreeMultiSzList(list);

    devices().devices[0].Property(SPDRP_HARDWAREID, REG_BINARY, std::string(9000, 'a'));
    EXPECT_EQ(Read(), nullptr);
    EXPECT_EQ(m().Calls("SetupDiGetDeviceRegistryPropertyW"), 2);  // not read again
}

TEST_F(HardwareIds, NoListWhenReadOrMemoryFailsAndNothingIsKept)
{
    devices().Add(PackageClass).HardwareIds({u"USB\\ONE", u"USB\\TWO"});
    m().Fail("SetupDiGetDeviceRegistryPropertyW", ERROR_INVALID_DATA, 1);
    EXPECT_EQ(Read(), nullptr);
    m().Fail("HeapAlloc", 0, 1);  // the buffer
    EXPECT_EQ(Read(), nullptr);
    host::CurrentMachine().heap.FailAfter(1);  // the slots
    EXPECT_EQ(Read(), nullptr);
    EXPECT_EQ(host::CurrentMachine().heap.LiveBlocks(), 0u);
    EXPECT_EQ(host::CurrentMachine().heap.peakBlocks, 1u);
}

TEST_F(HardwareIds, UpdateHoldsOneListAtATime)
{
    m().WriteFile(InfPath, InfOfClass(PackageClassText));
    for (int i = 0; i < 3; ++i) devices().Add(PackageClass).HardwareIds({u"USB\\ID" + host::U16(std::to_string(i))});
    host::CurrentMachine().heap.FailAfter(3);  // the first two blocks of the second device fail
    EXPECT_EQ(installer.UpdateDeviceDriver(Wide(InfPath)), RESULT_SUCCESS);
    EXPECT_EQ(host::CurrentMachine().heap.peakBlocks, 2u);
    EXPECT_EQ(devices().updates.size(), 1u);
}

TEST_F(HardwareIds, MultiSzListOfOneStringAndNoList)
{
    auto* buffer = static_cast<WCHAR*>(HeapAlloc(GetProcessHeap(), 0, 4 * sizeof(WCHAR)));
    buffer[0] = u'A';
    buffer[1] = 0;
    buffer[2] = 0;
    WCHAR** list = installer.MultiSzList(buffer);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list[0], buffer);
    EXPECT_EQ(list[1], nullptr);
    EXPECT_EQ(list[-1], buffer);  // the slot before the first entry owns the buffer
    installer.FreeMultiSzList(list);
    installer.FreeMultiSzList(nullptr);

    buffer = static_cast<WCHAR*>(HeapAlloc(GetProcessHeap(), 0, 2 * sizeof(WCHAR)));
    buffer[0] = 0;
    m().Fail("HeapAlloc", 0, 1);
    EXPECT_EQ(installer.MultiSzList(buffer), nullptr);
    EXPECT_EQ(host::CurrentMachine().heap.LiveBlocks(), 1u);  // still the caller's
    HeapFree(GetProcessHeap(), 0, buffer);
}

// newdev.dll and setupapi.dll come from the system folder only, never from the program's
// folder, where the field runner's download or removable-media folder may hold a planted
// library of that name: with the LOAD_LIBRARY_SEARCH_SYSTEM32 flag where the loader has it
// (kernel32 exports SetDefaultDllDirectories), else by the system folder's full path. Under
// WOW64 with redirection off the system folder holds the native 64-bit files: newdev.dll does
// not load there, as a load by plain name does not; setupapi.dll, mapped already, is taken.
struct LibraryLoad {
    const char* name;
    bool searchFlags;         // the loader has the LOAD_LIBRARY_SEARCH_* flags
    bool redirectionOff;      // a 32-bit process on 64-bit Windows with redirection off
    bool newdevLoads;         // the update runs
    int setupapiByPlainName;  // LoadLibraryW calls for setupapi.dll, which is mapped already
};

const LibraryLoad LIBRARY_LOADS[] = {
    {"Windows10", true, false, true, 0},
    {"Windows7WithoutKB2533623", false, false, true, 1},
    {"Windows10Wow64RedirectionOff", true, true, false, 0},
    {"Windows7Wow64RedirectionOff", false, true, false, 1},
};

class SystemLibrary : public UpdateDriver, public ::testing::WithParamInterface<LibraryLoad> {};

TEST_P(SystemLibrary, ComesFromTheSystemFolderOnly)
{
    const LibraryLoad& load = GetParam();
    if (!load.searchFlags) m().RemoveExport(u"kernel32.dll", "SetDefaultDllDirectories");
    // Planted next to the program: a load that searched its folder would stop the test.
    m().WriteFile(u"C:\\Program Files\\Setup\\newdev.dll", "planted");
    m().WriteFile(u"C:\\Program Files\\Setup\\setupapi.dll", "planted");
    m().WriteFile(u"C:\\Windows\\inf\\oem3.inf", InfOfClass(PackageClassText));
    devices().Add(PackageClass).HardwareIds({u"USB\\VID_1234"});
    PVOID redirection = nullptr;
    if (load.redirectionOff) {
        m().windows64 = true;
        ASSERT_TRUE(Wow64DisableWow64FsRedirection(&redirection));
    }

    EXPECT_EQ(Update(), RESULT_SUCCESS);
    EXPECT_EQ(installer.DeleteDriverPackage(W("C:\\Windows\\inf\\oem3.inf")), RESULT_SUCCESS);
    if (load.redirectionOff) Wow64RevertWow64FsRedirection(redirection);

    EXPECT_EQ(devices().updates.size(), load.newdevLoads ? 1u : 0u);
    EXPECT_EQ(m().Calls("SetupUninstallOEMInfW"), 1);
    EXPECT_EQ(m().Calls("LoadLibraryW"), load.setupapiByPlainName);
    EXPECT_EQ(m().Calls("LoadLibraryExW"), 2 - load.setupapiByPlainName);
}

INSTANTIATE_TEST_SUITE_P(OnEachLoader, SystemLibrary, ::testing::ValuesIn(LIBRARY_LOADS),
                         [](const ::testing::TestParamInfo<LibraryLoad>& info) {
                             return std::string(info.param.name);
                         });

// The layer's LoadLibraryExW takes the flags as Windows does: the search flags only where the
// loader has them, never with LOAD_WITH_ALTERED_SEARCH_PATH, and hFile must be null.
class LibraryLoader : public DeviceTest {};

TEST_F(LibraryLoader, RefusesTheSearchFlagsItLacksOrThatAreCombinedWrongly)
{
    EXPECT_EQ(LoadLibraryExW(W("newdev.dll"), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_WITH_ALTERED_SEARCH_PATH),
              nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(LoadLibraryExW(W("newdev.dll"), reinterpret_cast<HANDLE>(1), LOAD_LIBRARY_SEARCH_SYSTEM32), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    HMODULE full = LoadLibraryExW(W("C:\\Windows\\System32\\newdev.dll"), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    EXPECT_NE(full, nullptr);
    if (full) FreeLibrary(full);

    m().RemoveExport(u"kernel32.dll", "SetDefaultDllDirectories");
    EXPECT_EQ(LoadLibraryExW(W("newdev.dll"), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}
