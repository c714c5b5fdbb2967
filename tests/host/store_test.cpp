#include "device_fixture.h"

#include <algorithm>

#include "found_names.h"

namespace {

const std::string OtherClassText = "{4d36e978-e325-11ce-bfc1-08002be10318}";
const std::u16string Store = u"C:\\Windows\\inf\\";

std::string Line(const std::string& path, const std::string& guid) { return " " + path + " ClassGuid: " + guid; }

}  // namespace

class InfSearch : public DeviceTest {};

TEST_F(InfSearch, NamesAreWrittenAtTheInsertionPoint)
{
    m().WriteFile(u"C:\\pkg\\b.inf", "");
    m().WriteFile(u"C:\\pkg\\a.inf", "");
    m().MakeFolder(u"C:\\pkg\\c.inf");  // a folder is reported like a file
    WCHAR buffer[SEARCH_BUFFER_CHARS];
    CopyPathText(buffer, W("C:\\pkg\\*.inf"));
    WCHAR* insertionPoint = buffer + 7;
    HANDLE find = installer.FindFirstInf(buffer, insertionPoint);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_EQ(host::U8(buffer), "C:\\pkg\\a.inf");
    EXPECT_EQ(installer.FindNextInf(find, insertionPoint), 1);
    EXPECT_EQ(host::U8(buffer), "C:\\pkg\\b.inf");
    EXPECT_EQ(installer.FindNextInf(find, insertionPoint), 1);
    EXPECT_EQ(installer.FindNextInf(find, insertionPoint), 0);
    EXPECT_EQ(host::U8(buffer), "C:\\pkg\\c.inf");
    FindClose(find);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"infFile: a.inf", "infFile: b.inf", "infFile: c.inf"}));
}

TEST_F(InfSearch, NoMatchAndNoHandleLeaveEverythingAlone)
{
    WCHAR buffer[SEARCH_BUFFER_CHARS];
    CopyPathText(buffer, W("C:\\pkg\\*.inf"));
    EXPECT_EQ(installer.FindFirstInf(buffer, buffer + 7), INVALID_HANDLE_VALUE);
    EXPECT_EQ(host::U8(buffer), "C:\\pkg\\*.inf");
    EXPECT_EQ(installer.FindNextInf(INVALID_HANDLE_VALUE, buffer + 7), 0);
    EXPECT_EQ(m().Calls("FindNextFileW"), 0);
    EXPECT_FALSE(m().Exists(LogPath()));
}

class InfClass : public DeviceTest {};

TEST_F(InfClass, RelativePathIsResolvedAndLoggedAsGiven)
{
    m().WriteFile(u"C:\\pkg\\tesmar.inf", InfOfClass("{F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}"));
    m().currentDirectory = u"C:\\pkg";
    GUID guid = {};
    EXPECT_EQ(installer.GetInfClassGuid(W("tesmar.inf"), &guid), RESULT_SUCCESS);
    EXPECT_TRUE(IsEqualGUID(guid, PackageClass));
    EXPECT_EQ(LogLines(), (std::vector<std::string>{Line("tesmar.inf", PackageClassText)}));
}

TEST_F(InfClass, FailuresWriteNoLine)
{
    GUID guid = {};
    m().WriteFile(u"C:\\pkg\\noclass.inf", "[Version]\nSignature=$Windows NT$\n");
    m().WriteFile(u"C:\\pkg\\notinf.inf", "[Strings]\n");
    EXPECT_EQ(installer.GetInfClassGuid(nullptr, &guid), RESULT_FAILURE);
    EXPECT_EQ(installer.GetInfClassGuid(W("C:\\pkg\\missing.inf"), &guid), RESULT_FAILURE);
    EXPECT_EQ(installer.GetInfClassGuid(W("C:\\pkg\\noclass.inf"), &guid), RESULT_FAILURE);
    EXPECT_EQ(installer.GetInfClassGuid(W("C:\\pkg\\notinf.inf"), &guid), RESULT_FAILURE);
    std::u16string tooLong = u"C:\\" + std::u16string(257, u'x');  // 260 characters
    EXPECT_EQ(installer.GetInfClassGuid(reinterpret_cast<const WCHAR*>(tooLong.c_str()), &guid), RESULT_FAILURE);
    EXPECT_EQ(m().Calls("SetupDiGetINFClassW"), 3);
    EXPECT_FALSE(m().Exists(LogPath()));
}

class AddPackage : public DeviceTest {};

TEST_F(AddPackage, StagesOnceAsTheNextOemInf)
{
    m().WriteFile(Store + u"oem0.inf", InfOfClass(OtherClassText, "Ports"));
    m().WriteFile(u"C:\\pkg\\tesmar.inf", InfOfClass(PackageClassText));
    m().currentDirectory = u"C:\\pkg";
    EXPECT_EQ(installer.AddDriverPackage(W("tesmar.inf")), RESULT_SUCCESS);
    EXPECT_EQ(installer.AddDriverPackage(W("C:\\pkg\\tesmar.inf")), RESULT_SUCCESS);  // already staged
    EXPECT_EQ(m().List(Store), (std::vector<std::u16string>{u"oem0.inf", u"oem1.inf", u"oem1.PNF"}));
    EXPECT_EQ(m().ReadFile(Store + u"oem1.inf"), InfOfClass(PackageClassText));
    EXPECT_FALSE(m().Exists(LogPath()));
}

TEST_F(AddPackage, FailuresLogTheirStep)
{
    EXPECT_EQ(installer.AddDriverPackage(nullptr), RESULT_FAILURE);
    EXPECT_EQ(installer.AddDriverPackage(W("")), RESULT_FAILURE);
    m().MakeFolder(u"C:\\pkg");
    m().currentDirectory = u"C:\\pkg";
    EXPECT_EQ(installer.AddDriverPackage(W("missing.inf")), RESULT_FAILURE);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"GetFullPathName () error: 123",
                                                    "SetupCopyOEMInf (C:\\pkg\\missing.inf) error: 2"}));
}

class DeletePackages : public DeviceTest {
protected:
    void Stage(const std::u16string& name, const std::string& guidText)
    {
        m().WriteFile(Store + name, InfOfClass(guidText));
        m().WriteFile(Store + name.substr(0, name.size() - 4) + u".PNF", "PNF");
    }
};

TEST_F(DeletePackages, EmptyStore)
{
    EXPECT_EQ(
        installer.DeleteDriverPackages(reinterpret_cast<const WCHAR*>(u"{F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}"), 0),
        RESULT_SUCCESS);
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{"search oeminf: C:\\Windows\\inf\\oem*.inf", "DeleteDriverPackage finish"}));
}

TEST_F(DeletePackages, OnlyTheClassPackagesAreUninstalledAndDeleted)
{
    Stage(u"oem3.inf", PackageClassText);
    Stage(u"oem4.inf", OtherClassText);
    Stage(u"oem7.inf", "{F72FE0D4-CBCB-407D-8814-9ED673D0DD6B}");
    m().WriteFile(Store + u"oem9.inf", "not an INF");
    m().WriteFile(Store + u"machine.inf", InfOfClass(PackageClassText));
    EXPECT_EQ(installer.DeleteDriverPackages(W("{F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}"), 0), RESULT_SUCCESS);
    // SetupUninstallOEMInfW has removed both files already: the direct deletions find none.
    EXPECT_EQ(LogText(),
              "search oeminf: C:\\Windows\\inf\\oem*.inf\n"
              "infFile: oem3.inf\n" +
                  Line("C:\\Windows\\inf\\oem3.inf", PackageClassText) +
                  "\n"
                  "DeleteDriverPackage (C:\\Windows\\inf\\oem3.inf) ok\n"
                  "Delete File C:\\Windows\\inf\\oem3.inf: 2\n"
                  "Delete File C:\\Windows\\inf\\oem3.PNF: 2\n"
                  "infFile: oem4.inf\n" +
                  Line("C:\\Windows\\inf\\oem4.inf", OtherClassText) +
                  "\n"
                  "infFile: oem7.inf\n" +
                  Line("C:\\Windows\\inf\\oem7.inf", PackageClassText) +
                  "\n"
                  "DeleteDriverPackage (C:\\Windows\\inf\\oem7.inf) ok\n"
                  "Delete File C:\\Windows\\inf\\oem7.inf: 2\n"
                  "Delete File C:\\Windows\\inf\\oem7.PNF: 2\n"
                  "infFile: oem9.inf\n"
                  "DeleteDriverPackage finish\n");
    EXPECT_EQ(m().List(Store), (std::vector<std::u16string>{u"machine.inf", u"oem4.inf", u"oem4.PNF", u"oem9.inf"}));
    EXPECT_EQ(m().Calls("SetupUninstallOEMInfW"), 2);
    EXPECT_EQ(m().Calls("LoadLibraryExW"), 2);  // once per package, from the system folder
}

// A package that a device still uses: Windows refuses its removal unless SUOI_FORCEDELETE asks
// for it, which the sweep passes, so that the package goes and the device keeps running on the
// driver it has loaded.
TEST_F(DeletePackages, PackageStillBoundToADeviceIsForcedOut)
{
    Stage(u"oem3.inf", PackageClassText);
    host::Device& device = devices().Add(PackageClass).HardwareIds({u"USB\\VID_1234&PID_0001"});
    device.driverInf = u"oem3.inf";
    EXPECT_FALSE(SetupUninstallOEMInfW(W("oem3.inf"), 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INF_IN_USE_BY_DEVICES));
    EXPECT_FALSE(SetupUninstallOEMInfW(W("oem3.inf"), 0x80000000, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
    EXPECT_TRUE(m().Exists(Store + u"oem3.inf"));

    EXPECT_EQ(installer.DeleteDriverPackages(W("{F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}"), 0), RESULT_SUCCESS);
    EXPECT_NE(LogText().find("DeleteDriverPackage (C:\\Windows\\inf\\oem3.inf) ok\n"), std::string::npos);
    EXPECT_TRUE(m().List(Store).empty());
    EXPECT_TRUE(devices().devices[0].driverInf.empty());
}

TEST_F(DeletePackages, MissingUninstallFunctionStillDeletesTheFiles)
{
    Stage(u"oem1.inf", PackageClassText);
    m().RemoveExport(u"setupapi.dll", "SetupUninstallOEMInfW");
    EXPECT_EQ(installer.DeleteDriverPackages(W("{F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}"), 0), RESULT_SUCCESS);
    std::vector<std::string> lines = LogLines();
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 3, lines.end()),
              (std::vector<std::string>{"DeleteDriverPackage (C:\\Windows\\inf\\oem1.inf) error: 127",
                                        "Delete File C:\\Windows\\inf\\oem1.inf: 0",
                                        "Delete File C:\\Windows\\inf\\oem1.PNF: 0", "DeleteDriverPackage finish"}));
    EXPECT_TRUE(m().List(Store).empty());
}

TEST_F(DeletePackages, ClassFromAnInfPath)
{
    Stage(u"oem1.inf", OtherClassText);
    m().WriteFile(u"C:\\pkg\\ports.inf", InfOfClass(OtherClassText));
    EXPECT_EQ(installer.DeleteDriverPackages(W("C:\\pkg\\ports.inf"), 1), RESULT_SUCCESS);
    EXPECT_EQ(LogLines()[0], Line("C:\\pkg\\ports.inf", OtherClassText));
    EXPECT_FALSE(m().Exists(Store + u"oem1.inf"));
    EXPECT_EQ(installer.DeleteDriverPackages(W("C:\\pkg\\missing.inf"), 1), RESULT_FAILURE);
}

TEST_F(DeletePackages, ClassThatCannotBeDeterminedEndsSilently)
{
    for (const char16_t* text : {u"F72FE0D4-CBCB-407d-8814-9ED673D0DD6B", u"{F72FE0D4-CBCB-407d-8814-9ED673D0DD6B",
                                 u"{F72FE0D4-CBCB-407d-8814-9ED673D0DD6G}", u"{F72FE0D4CBCB-407d-8814-9ED673D0DD6B0}",
                                 u"{F72FE0D4-CBCB-407d-8814-9ED673D0DD6B} ", u"Tesmar.Class"})
        EXPECT_EQ(installer.DeleteDriverPackages(reinterpret_cast<const WCHAR*>(text), 0), RESULT_FAILURE)
            << host::U8(text);
    EXPECT_FALSE(m().Exists(LogPath()));
    EXPECT_EQ(m().Calls("GetWindowsDirectoryW"), 0);
}

TEST_F(DeletePackages, UnreadableOrOverlongWindowsDirectory)
{
    m().Fail("GetWindowsDirectoryW", ERROR_ACCESS_DENIED, 1);
    EXPECT_EQ(installer.DeleteDriverPackages(W("{F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}"), 0), RESULT_FAILURE);
    // 246 characters and "\inf\oem*.inf" make 259; one more does not fit the pattern.
    m().windowsDirectory = u"C:\\" + std::u16string(243, u'w');
    m().MakeFolder(m().windowsDirectory + u"\\inf");
    EXPECT_EQ(installer.DeleteDriverPackages(W("{F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}"), 0), RESULT_SUCCESS);
    m().windowsDirectory += u"w";
    EXPECT_EQ(installer.DeleteDriverPackages(W("{F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}"), 0), RESULT_FAILURE);
    std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "GetWindowsDir error: 5");
    EXPECT_EQ(lines[2], "DeleteDriverPackage finish");
    EXPECT_EQ(lines[3], "GetWindowsDir error: 122");
}

class DeletePackage : public DeviceTest {};

TEST_F(DeletePackage, PathWithoutFileNameFailsBeforeLoadingSetupapi)
{
    EXPECT_EQ(installer.DeleteDriverPackage(W("C:\\Windows\\inf\\")), RESULT_FAILURE);
    EXPECT_EQ(installer.DeleteDriverPackage(nullptr), RESULT_FAILURE);
    std::u16string tooLong = u"C:\\" + std::u16string(257, u'x');
    EXPECT_EQ(installer.DeleteDriverPackage(reinterpret_cast<const WCHAR*>(tooLong.c_str())), RESULT_FAILURE);
    EXPECT_EQ(m().Calls("LoadLibraryW"), 0);
}

TEST_F(DeletePackage, OffersTheBareNameAndFreesTheLibraryOnEveryPath)
{
    m().WriteFile(Store + u"oem2.inf", InfOfClass(PackageClassText));
    EXPECT_EQ(installer.DeleteDriverPackage(W("C:\\Windows\\inf\\oem2.inf")), RESULT_SUCCESS);
    EXPECT_FALSE(m().Exists(Store + u"oem2.inf"));
    EXPECT_EQ(installer.DeleteDriverPackage(W("C:\\Windows\\inf\\oem2.inf")), RESULT_FAILURE);  // gone
    m().FailLoad(u"setupapi.dll");
    EXPECT_EQ(installer.DeleteDriverPackage(W("C:\\Windows\\inf\\oem2.inf")), RESULT_FAILURE);
    EXPECT_EQ(m().Calls("SetupUninstallOEMInfW"), 2);
    EXPECT_FALSE(m().Exists(LogPath()));
}

class DeleteDriverFiles : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        m().WriteFile(u"C:\\pkg\\tesmar.sys", "new");
        m().WriteFile(u"C:\\pkg\\tesmarf.SYS", "new");
        m().WriteFile(u"C:\\pkg\\readme.txt", "");
    }
    void Run() { installer.DeleteDriverFiles(W("C:\\pkg\\*.SYS")); }
};

TEST_F(DeleteDriverFiles, On32BitWindowsOnlyTheSystemDriversFolder)
{
    m().WriteFile(u"C:\\Windows\\system32\\drivers\\tesmar.sys", "old");
    m().WriteFile(u"C:\\Windows\\system32\\drivers\\other.sys", "old");
    Run();
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{"SearchSYS: C:\\pkg\\*.SYS",
                                        "delete driver file C:\\Windows\\system32\\drivers\\tesmar.sys: 0",
                                        "delete driver file C:\\Windows\\system32\\drivers\\tesmarf.SYS: 2"}));
    EXPECT_EQ(m().List(u"C:\\Windows\\system32\\drivers"), std::vector<std::u16string>{u"other.sys"});
    EXPECT_TRUE(m().Exists(u"C:\\pkg\\tesmar.sys"));
}

TEST_F(DeleteDriverFiles, On64BitWindowsBothFoldersWithRedirectionOff)
{
    m().WriteFile(u"C:\\Windows\\system32\\drivers\\tesmar.sys", "native");
    m().windows64 = true;
    m().WriteFile(u"C:\\Windows\\SysWOW64\\drivers\\tesmar.sys", "wow64");
    m().WriteFile(u"C:\\Windows\\SysWOW64\\drivers\\tesmarf.SYS", "wow64");
    m().Lock(u"C:\\Windows\\SysWOW64\\drivers\\tesmarf.SYS");
    PVOID old = nullptr;
    ASSERT_TRUE(Wow64DisableWow64FsRedirection(&old));
    Run();
    Wow64RevertWow64FsRedirection(old);
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{"SearchSYS: C:\\pkg\\*.SYS",
                                        "delete driver file C:\\Windows\\system32\\drivers\\tesmar.sys: 0",
                                        "delete wow64 driver file C:\\Windows\\SysWOW64\\drivers\\tesmar.sys: 0",
                                        "delete driver file C:\\Windows\\system32\\drivers\\tesmarf.SYS: 2",
                                        "delete wow64 driver file C:\\Windows\\SysWOW64\\drivers\\tesmarf.SYS: 32"}));
    m().windows64 = false;  // read the native folder as it is
    EXPECT_TRUE(m().List(u"C:\\Windows\\system32\\drivers").empty());
}

TEST_F(DeleteDriverFiles, With64BitRedirectionOnTheNativeFolderIsNotReached)
{
    m().WriteFile(u"C:\\Windows\\system32\\drivers\\tesmar.sys", "native");
    m().windows64 = true;
    m().WriteFile(u"C:\\Windows\\SysWOW64\\drivers\\tesmar.sys", "wow64");
    Run();
    std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 5u);
    // Both names land in SysWOW64: the first deletes the file, the second finds it gone.
    EXPECT_EQ(lines[1], "delete driver file C:\\Windows\\system32\\drivers\\tesmar.sys: 0");
    EXPECT_EQ(lines[2], "delete wow64 driver file C:\\Windows\\SysWOW64\\drivers\\tesmar.sys: 2");
    m().windows64 = false;
    EXPECT_EQ(m().ReadFile(u"C:\\Windows\\system32\\drivers\\tesmar.sys"), "native");
}

TEST_F(DeleteDriverFiles, NoMatchOrNoSystemDirectory)
{
    installer.DeleteDriverFiles(W("C:\\pkg\\*.DLL"));
    EXPECT_EQ(LogLines(), std::vector<std::string>{"SearchSYS: C:\\pkg\\*.DLL"});
    m().WriteFile(u"C:\\drivers\\tesmar.sys", "unrelated");
    m().Fail("GetSystemDirectoryW", ERROR_ACCESS_DENIED);
    Run();
    EXPECT_EQ(LogLines().size(), 1u);
    EXPECT_TRUE(m().Exists(u"C:\\drivers\\tesmar.sys"));
    EXPECT_EQ(m().Calls("FindFirstFileW"), 1);
}

// The four searches over the names of the shared table, on a volume without short names and on
// one with them, where Windows also reports each name whose short name matches: the searches
// take the same names either way, and leave every other file as it was.
class SearchesOnAVolume : public DeviceTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        m().VolumeOf(u'C').shortNames = GetParam();
    }

    // The table's names of a search, the taken ones or the others.
    static std::vector<std::u16string> Names(const char* search, bool taken)
    {
        std::vector<std::u16string> names;
        for (const FoundName& row : FOUND_NAMES)
            if (std::string(row.search) == search && row.taken == taken) names.push_back(row.name);
        std::sort(names.begin(), names.end(), host::NoCaseLess());
        return names;
    }

    // The names the layer reports for a pattern, and their short names.
    std::vector<std::u16string> Reported(const std::u16string& pattern, std::vector<std::u16string>* shortNames)
    {
        std::vector<std::u16string> names;
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW(pattern.c_str(), &data);
        for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &data)) {
            names.push_back(data.cFileName);
            if (data.cAlternateFileName[0]) shortNames->push_back(data.cAlternateFileName);
        }
        if (find != INVALID_HANDLE_VALUE) FindClose(find);
        return names;
    }

    // With short names on, the layer reports every alias of the table beside the taken names.
    void ExpectReported(const std::u16string& folder, const char* search, const std::u16string& pattern)
    {
        std::vector<std::u16string> shortNames;
        std::vector<std::u16string> reported = Reported(folder + pattern, &shortNames);
        std::vector<std::u16string> others = Names(search, false);
        for (const char16_t* alias : {u"bystander.sys_old", u"driver.inf_old", u"notes.info", u"oem5.inf_old"}) {
            if (std::find(others.begin(), others.end(), alias) == others.end()) continue;
            EXPECT_EQ(std::count(reported.begin(), reported.end(), alias), GetParam() ? 1 : 0) << host::U8(alias);
        }
        EXPECT_EQ(shortNames.empty(), !GetParam());
    }
};

TEST_P(SearchesOnAVolume, InstallAndUninstallTakeOnlyInfNames)
{
    const char* search = "install's and uninstall's INF";
    for (bool taken : {true, false})
        for (const std::u16string& name : Names(search, taken)) m().WriteFile(u"C:\\pkg\\" + name, "");
    ExpectReported(u"C:\\pkg\\", search, u"*.inf");
    WCHAR buffer[SEARCH_BUFFER_CHARS];
    CopyPathText(buffer, W("C:\\pkg\\*.inf"));
    std::vector<std::string> lines;
    HANDLE find = installer.FindFirstInf(buffer, buffer + 7);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    while (installer.FindNextInf(find, buffer + 7)) {
    }
    FindClose(find);
    std::vector<std::string> expected;
    for (const std::u16string& name : Names(search, true)) expected.push_back("infFile: " + host::U8(name));
    EXPECT_EQ(LogLines(), expected);
}

TEST_P(SearchesOnAVolume, StoreSweepUninstallsOnlyOemInfs)
{
    const char* search = "store's OEM INFs";
    for (bool taken : {true, false})
        for (const std::u16string& name : Names(search, taken))
            m().WriteFile(Store + name, InfOfClass(PackageClassText));
    ExpectReported(Store, search, u"oem*.inf");
    EXPECT_EQ(installer.DeleteDriverPackages(W("{F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}"), 0), RESULT_SUCCESS);
    EXPECT_EQ(m().List(Store), Names(search, false));
    EXPECT_EQ(m().Calls("SetupUninstallOEMInfW"), static_cast<int>(Names(search, true).size()));
}

TEST_P(SearchesOnAVolume, DriverFileSweepDeletesOnlySysNames)
{
    const char* search = "package's driver files";
    const std::u16string drivers = u"C:\\Windows\\system32\\drivers\\";
    for (bool taken : {true, false}) {
        for (const std::u16string& name : Names(search, taken)) {
            m().WriteFile(u"C:\\pkg\\" + name, "new");
            m().WriteFile(drivers + name, "installed");
        }
    }
    ExpectReported(u"C:\\pkg\\", search, u"*.SYS");
    installer.DeleteDriverFiles(W("C:\\pkg\\*.SYS"));
    EXPECT_EQ(m().List(drivers), Names(search, false));
    EXPECT_EQ(m().Calls("DeleteFileW"), static_cast<int>(Names(search, true).size()));
}

INSTANTIATE_TEST_SUITE_P(ShortNames, SearchesOnAVolume, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "On" : "Off");
                         });
