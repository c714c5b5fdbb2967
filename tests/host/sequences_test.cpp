#include "device_fixture.h"

#include "exports.h"

#include <algorithm>

namespace {

const std::u16string DriverFolder = u"C:\\Program Files\\Tesmar\\drivers\\";
const std::string Folder = "C:\\Program Files\\Tesmar\\drivers\\";
const std::string Inf = Folder + "tesmar.inf";
const std::u16string HardwareId = u"USB\\VID_1D6B&PID_7E57";
const std::string Guid = "{f72fe0d4-cbcb-407d-8814-9ed673d0dd6b}";
const std::string FrameLine =
    "IPROPNAME_CUSTOMACTIONDATA data {F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}  \"" + Folder + "\"";

// A line as the log keeps it: a long message is cut to the log's limit (ASCII text here).
std::string Logged(const std::string& line) { return line.substr(0, MESSAGE_TEXT_LIMIT); }

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

}  // namespace

// A machine with the driver package in the DriverFolder, one present device of its class,
// an earlier package of the class in the driver store and its binary in the drivers folder.
class Sequence : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        m().WriteFile(DriverFolder + u"tesmar.inf", InfOfClass(PackageClassText));
        m().WriteFile(DriverFolder + u"tesmar.sys", "driver");
        m().WriteFile(u"C:\\Windows\\inf\\oem3.inf", InfOfClass(PackageClassText));
        m().WriteFile(u"C:\\Windows\\inf\\oem3.PNF", "pnf");
        m().WriteFile(u"C:\\Windows\\system32\\drivers\\tesmar.sys", "old driver");
        device = &devices().Add(PackageClass).HardwareIds({HardwareId});
        session = host::CurrentMachine().session.Open();
    }
    void TearDown() override
    {
        EXPECT_FALSE(m().RedirectionDisabled()) << "redirection left off";
        DeviceTest::TearDown();
    }

    std::vector<std::string> FrameOpening()
    {
        std::vector<std::string> lines{"IsWow64Process: " + Kernel32Export("IsWow64Process")};
        if (m().windows64)
            lines.push_back("_Wow64DisableWow64FsRedirection: " + Kernel32Export("Wow64DisableWow64FsRedirection") +
                            " 1");
        lines.push_back(FrameLine);
        return lines;
    }
    std::vector<std::string> FrameClosing()
    {
        if (!m().windows64) return {};
        return {"_Wow64RevertWow64FsRedirection: " + Kernel32Export("Wow64RevertWow64FsRedirection") + " 1"};
    }
    static std::vector<std::string> RemoveLines(const std::string& instanceId = "ROOT\\SYSTEM\\0000")
    {
        return {"remove devices: " + Guid + " ...", "remove device 2...", "remove device: " + instanceId,
                "remove device count: 1 error: 259"};
    }
    // DeleteDriverPackages on the earlier store package, after its class line.
    static std::vector<std::string> StoreLines()
    {
        return {"search oeminf: C:\\Windows\\inf\\oem*.inf",
                "infFile: oem3.inf",
                " C:\\Windows\\inf\\oem3.inf ClassGuid: " + Guid,
                "DeleteDriverPackage (C:\\Windows\\inf\\oem3.inf) ok",
                "Delete File C:\\Windows\\inf\\oem3.inf: 2",
                "Delete File C:\\Windows\\inf\\oem3.PNF: 2",
                "DeleteDriverPackage finish"};
    }

    host::Device* device = nullptr;
    MSIHANDLE session = 0;
};

class Install : public Sequence {
protected:
    std::vector<std::string> InstallLines(std::initializer_list<std::string> updateLines)
    {
        return Join(
            {{"Install ...", "Module filename: " + Folder, "infFile: tesmar.inf", " " + Inf + " ClassGuid: " + Guid,
              "Install RemoveDevices ..."},
             RemoveLines(),
             {"Install DeleteDriverPackages...", " " + Inf + " ClassGuid: " + Guid},
             StoreLines(),
             {"SearchSYS: " + Folder + "*.SYS", "delete driver file C:\\Windows\\system32\\drivers\\tesmar.sys: 0",
              "add package: " + Inf, " " + Inf + " ClassGuid: " + Guid, "update device..."},
             std::vector<std::string>(updateLines)});
    }
};

TEST_F(Install, WholeRoadWithASessionOn32BitWindows)
{
    EXPECT_EQ(InstallDeviceDriver(session), ERROR_SUCCESS);
    EXPECT_EQ(LogLines(), Join({FrameOpening(),
                                InstallLines({"SetupDiEnumDeviceInfo " + Guid + " devcount:0 error: 259",
                                              "rescan devices...", "Install result: 0"}),
                                FrameClosing()}));
    EXPECT_TRUE(device->removed);
    EXPECT_FALSE(m().Exists(u"C:\\Windows\\system32\\drivers\\tesmar.sys"));
    EXPECT_TRUE(m().Exists(DriverFolder + u"tesmar.sys"));  // the package itself stays
    EXPECT_EQ(m().List(u"C:\\Windows\\inf"), (std::vector<std::u16string>{u"oem0.inf", u"oem0.PNF"}));
    EXPECT_EQ(devices().reenumerations, 1);
    // The re-enumeration is only requested (flags 0, not CM_REENUMERATE_SYNCHRONOUS); the pause
    // that gives the devices time to come up follows the request.
    EXPECT_EQ(devices().reenumerationFlags, std::vector<ULONG>{CM_REENUMERATE_NORMAL});
    EXPECT_LT(m().journal.Position("CM_Reenumerate_DevNode_Ex"), m().journal.Position("Sleep"));
    EXPECT_EQ(m().sleeps, std::vector<DWORD>{1000});
    EXPECT_FALSE(host::CurrentMachine().session.RebootAtEnd());
}

TEST_F(Install, WholeRoadWithASessionOn64BitWindows)
{
    m().windows64 = true;
    // On 64-bit Windows the native drivers folder is reached only because redirection is off.
    m().MakeFolder(m().Wow64Directory() + u"\\drivers");
    EXPECT_EQ(InstallDeviceDriver(session), ERROR_SUCCESS);
    std::vector<std::string> lines = LogLines();
    // Windows refuses the removal to a 32-bit process, and newdev.dll cannot be loaded while
    // redirection is off: the device stays on its driver, and the install goes on.
    std::vector<std::string> expected =
        Join({FrameOpening(), InstallLines({"rescan devices...", "Install result: 0"}), FrameClosing()});
    expected.erase(std::find(expected.begin(), expected.end(), "update device..."));
    auto removal = std::find(expected.begin(), expected.end(), "remove device 2...");
    expected.insert(removal + 1, "remove error: 0xe0000235");
    // The WOW64 drivers folder is searched too.
    auto at =
        std::find(expected.begin(), expected.end(), "delete driver file C:\\Windows\\system32\\drivers\\tesmar.sys: 0");
    expected.insert(at + 1, "delete wow64 driver file C:\\Windows\\SysWOW64\\drivers\\tesmar.sys: 2");
    EXPECT_EQ(lines, expected);
    EXPECT_FALSE(device->removed);
    EXPECT_FALSE(m().RedirectionDisabled());
}

TEST_F(Install, DeviceThatNeedsARebootAfterTheUpdate)
{
    // A device that could not be removed is still there for the update, which asks for a reboot.
    // On 32-bit Windows only: on 64-bit Windows the update is refused to this 32-bit library.
    device->RemovalFails(ERROR_ACCESS_DENIED);
    devices().UpdateOf(HardwareId).NeedsReboot();
    EXPECT_EQ(InstallDeviceDriver(session), ERROR_SUCCESS);
    std::vector<std::string> lines = LogLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
              (std::vector<std::string>{"SetupDiEnumDeviceInfo " + Guid + " devcount:1 error: 259",
                                        "UpdateDeviceDriver (" + Inf + ") reboot required...", "Install result: 1"}));
    EXPECT_TRUE(host::CurrentMachine().session.RebootAtEnd());
    EXPECT_EQ(devices().reenumerations, 0);
    EXPECT_TRUE(m().sleeps.empty());
}

TEST_F(Install, RemovalThatNeedsARebootDoesNotChangeTheResult)
{
    device->RemovalNeeds(DI_NEEDREBOOT);
    EXPECT_EQ(InstallDeviceDriver(session), ERROR_SUCCESS);
    EXPECT_EQ(LogLines().back(), "Install result: 0");
    EXPECT_FALSE(host::CurrentMachine().session.RebootAtEnd());
}

TEST_F(Install, FolderWithoutInfFails)
{
    m().Remove(DriverFolder + u"tesmar.inf");
    EXPECT_EQ(InstallDeviceDriver(session), ERROR_INSTALL_FAILURE);
    EXPECT_EQ(LogLines(), Join({FrameOpening(), {"Install ...", "Module filename: " + Folder, "Install result: 2"}}));
    EXPECT_FALSE(device->removed);
    EXPECT_TRUE(m().Exists(u"C:\\Windows\\inf\\oem3.inf"));
    EXPECT_TRUE(m().Exists(u"C:\\Windows\\system32\\drivers\\tesmar.sys"));
}

TEST_F(Install, OnlyTheFirstInfIsInstalled)
{
    m().WriteFile(DriverFolder + u"zz-other.inf", InfOfClass("{4d36e978-e325-11ce-bfc1-08002be10318}", "Ports"));
    m().WriteFile(DriverFolder + u"aa-first.inf", InfOfClass(PackageClassText));
    EXPECT_EQ(InstallDeviceDriver(session), ERROR_SUCCESS);
    std::string text = LogText();
    EXPECT_NE(text.find("add package: " + Folder + "aa-first.inf\n"), std::string::npos);
    EXPECT_EQ(text.find("tesmar.inf"), std::string::npos);
    EXPECT_EQ(text.find("zz-other.inf"), std::string::npos);
}

TEST_F(Install, InfWithoutReadableClassLeavesDevicesAndStoreAlone)
{
    m().WriteFile(DriverFolder + u"tesmar.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\n");
    EXPECT_EQ(InstallDeviceDriver(session), ERROR_INSTALL_FAILURE);
    EXPECT_EQ(
        LogLines(),
        Join({FrameOpening(),
              {"Install ...", "Module filename: " + Folder, "infFile: tesmar.inf", "SearchSYS: " + Folder + "*.SYS",
               "delete driver file C:\\Windows\\system32\\drivers\\tesmar.sys: 0", "add package: " + Inf,
               "UpdateDeviceDriver (" + Inf + ") error: " + std::to_string(static_cast<int>(ERROR_NO_ASSOCIATED_CLASS)),
               "Install result: 2"}}));
    EXPECT_FALSE(device->removed);
    EXPECT_TRUE(m().Exists(u"C:\\Windows\\inf\\oem3.inf"));
}

TEST_F(Install, FailedStagingIsReportedWithItsOwnError)
{
    m().Fail("SetupCopyOEMInfW", ERROR_ACCESS_DENIED);
    EXPECT_EQ(InstallDeviceDriver(session), ERROR_INSTALL_FAILURE);
    std::vector<std::string> lines = LogLines();
    EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
              (std::vector<std::string>{"SetupCopyOEMInf (" + Inf + ") error: 5",
                                        "AddDriverPackage(" + Inf + ") error: 5", "Install result: 2"}));
}

TEST_F(Install, NullSessionWorksBesideTheExecutable)
{
    m().moduleFileName = u"C:\\Field\\drvrun.exe";
    m().WriteFile(u"C:\\Field\\tesmar.inf", InfOfClass(PackageClassText));
    m().windows64 = true;
    EXPECT_EQ(InstallDeviceDriver(0), static_cast<UINT>(RESULT_SUCCESS));
    std::vector<std::string> lines = LogLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 3),
              (std::vector<std::string>{"Getting Module filename...", "Module filename: C:\\Field\\drvrun.exe",
                                        "infFile: tesmar.inf"}));
    EXPECT_EQ(LogText().find("IPROPNAME"), std::string::npos);
    EXPECT_EQ(m().Calls("Wow64DisableWow64FsRedirection"), 0);

    // The raw operation result comes back: 2 when nothing is found, 1 for a reboot.
    m().Remove(u"C:\\Field\\tesmar.inf");
    EXPECT_EQ(InstallDeviceDriver(0), static_cast<UINT>(RESULT_FAILURE));
    m().Fail("GetModuleFileNameW", ERROR_ACCESS_DENIED);
    EXPECT_EQ(InstallDeviceDriver(0), static_cast<UINT>(RESULT_FAILURE));
    EXPECT_EQ(LogLines().back(), "Getting Module filename...");
}

TEST_F(Install, FolderWithoutTrailingBackslashLosesItsLastComponent)
{
    m().WriteFile(u"C:\\pkg\\tesmar.inf", InfOfClass(PackageClassText));
    EXPECT_EQ(installer.InstallPackage(nullptr, W("C:\\pkg\\sub")), RESULT_SUCCESS);
    EXPECT_EQ(LogLines()[0], "Module filename: C:\\pkg\\sub");
    EXPECT_EQ(LogLines()[1], "infFile: tesmar.inf");
}

TEST_F(Install, FolderThatIsNotAPathIsRefused)
{
    EXPECT_EQ(installer.InstallPackage(nullptr, W("nobackslash")), RESULT_FAILURE);
    std::u16string tooLong = u"C:\\" + std::u16string(257, u'x');
    EXPECT_EQ(installer.InstallPackage(nullptr, reinterpret_cast<const WCHAR*>(tooLong.c_str())), RESULT_FAILURE);
    EXPECT_EQ(LogLines().size(), 3u);
    EXPECT_FALSE(device->removed);
}

// A package folder of 255 characters holds an INF path of 259 ("<folder>.inf"), but the
// driver-file pattern "<folder>*.SYS" would take 260: the folder is refused before anything is
// removed. One character less and the whole road runs.
TEST_F(Install, PackageFolderWithoutRoomForTheDriverFilePatternIsRefused)
{
    std::u16string folder = u"C:\\" + std::u16string(251, u'p') + u"\\";
    m().WriteFile(folder + u".inf", InfOfClass(PackageClassText));
    m().moduleFileName = folder + u"d.x";  // 258 characters: the executable's path is whole
    EXPECT_EQ(InstallDeviceDriver(0), static_cast<UINT>(RESULT_FAILURE));
    EXPECT_EQ(installer.InstallPackage(nullptr, reinterpret_cast<const WCHAR*>(folder.c_str())), RESULT_FAILURE);
    std::string refusal = "package folder too long: " + host::U8(folder.substr(0, 200)) + "...";
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"Getting Module filename...",
                                                    Logged("Module filename: " + host::U8(folder) + "d.x"), refusal,
                                                    Logged("Module filename: " + host::U8(folder)), refusal}));
    EXPECT_FALSE(device->removed);
    EXPECT_TRUE(m().Exists(u"C:\\Windows\\inf\\oem3.inf"));
    EXPECT_TRUE(m().Exists(u"C:\\Windows\\system32\\drivers\\tesmar.sys"));
    EXPECT_EQ(m().Calls("SetupCopyOEMInfW"), 0);

    m().Remove(LogPath());
    std::u16string fits = u"C:\\" + std::u16string(250, u'p') + u"\\";
    m().WriteFile(fits + u".inf", InfOfClass(PackageClassText));
    m().WriteFile(fits + u"tesmar.sys", "driver");
    m().moduleFileName = fits + u"d.x";
    EXPECT_EQ(InstallDeviceDriver(0), static_cast<UINT>(RESULT_SUCCESS));
    std::vector<std::string> lines = LogLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), Logged("SearchSYS: " + host::U8(fits) + "*.SYS")), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), Logged("add package: " + host::U8(fits) + ".inf")), lines.end());
    EXPECT_FALSE(m().Exists(u"C:\\Windows\\system32\\drivers\\tesmar.sys"));
}

// The executable's path is cut off when it does not fit the 260-character buffer, and the cut
// may fall inside a folder's name: what remains would name the folder above, with its own
// package. Such a path is a failure of its own, and nothing is touched.
class CutModuleFileName : public Sequence {
protected:
    void SetUp() override
    {
        Sequence::SetUp();
        m().WriteFile(u"C:\\Field\\tesmar.inf", InfOfClass(PackageClassText));
        m().WriteFile(u"C:\\Field\\tesmar.sys", "driver");
    }
    // "C:\Field\" and a folder's name, then "\drvrun.exe", `length` characters in all.
    static std::u16string ModulePath(size_t length)
    {
        return u"C:\\Field\\" + std::u16string(length - 9 - 11, u'f') + u"\\drvrun.exe";
    }
    void ExpectNothingTouched()
    {
        EXPECT_FALSE(device->removed);
        EXPECT_TRUE(m().Exists(u"C:\\Windows\\inf\\oem3.inf"));
        EXPECT_TRUE(m().Exists(u"C:\\Windows\\system32\\drivers\\tesmar.sys"));
        EXPECT_EQ(m().Calls("SetupCopyOEMInfW"), 0);
        EXPECT_EQ(m().Calls("FindFirstFileW"), 0);
    }
};

TEST_F(CutModuleFileName, InstallFails)
{
    m().moduleFileName = ModulePath(300);
    EXPECT_EQ(InstallDeviceDriver(0), static_cast<UINT>(RESULT_FAILURE));
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"Getting Module filename...", "GetModuleFileName error: 122"}));
    ExpectNothingTouched();
}

TEST_F(CutModuleFileName, UninstallFails)
{
    m().moduleFileName = ModulePath(300);
    EXPECT_EQ(UninstallDeviceDriver(0), static_cast<UINT>(RESULT_FAILURE));
    EXPECT_EQ(LogLines(), std::vector<std::string>{"GetModuleFileName error: 122"});
    ExpectNothingTouched();
}

TEST_F(CutModuleFileName, UpgradeFailsInBothHalves)
{
    m().moduleFileName = ModulePath(300);
    EXPECT_EQ(UpgradeDeviceDriver(0), ERROR_SUCCESS);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"GetModuleFileName error: 122", "Getting Module filename...",
                                                    "GetModuleFileName error: 122"}));
    EXPECT_EQ(m().sleeps, std::vector<DWORD>{2000});
    ExpectNothingTouched();
}

TEST_F(CutModuleFileName, LongestWholePathHas259Characters)
{
    m().moduleFileName = ModulePath(259);
    EXPECT_EQ(UninstallDeviceDriver(0), static_cast<UINT>(RESULT_SUCCESS));
    std::string folder = host::U8(ModulePath(259).substr(0, 259 - 10));
    EXPECT_EQ(LogLines()[0], Logged("Uninstall modulefile: " + folder + "drvrun.exe"));
    EXPECT_TRUE(m().Exists(u"C:\\Windows\\system32\\drivers\\tesmar.sys"));  // no such file in that folder

    // 260 characters leave the terminator no room: the path is cut, here inside its file name.
    m().Remove(LogPath());
    m().moduleFileName = ModulePath(260);
    EXPECT_EQ(UninstallDeviceDriver(0), static_cast<UINT>(RESULT_FAILURE));
    EXPECT_EQ(LogLines(), std::vector<std::string>{"GetModuleFileName error: 122"});
}

class Uninstall : public Sequence {
protected:
    std::vector<std::string> PackageLines()
    {
        return Join(
            {{"Uninstall modulefile: " + Folder, "RemoveDevices again..."},
             {"remove devices: " + Guid + " ...", "remove device count: 0 error: 259"},
             {"DeleteDriverPackages..."},
             StoreLines(),
             {"SearchSYS: " + Folder + "*.SYS", "delete driver file C:\\Windows\\system32\\drivers\\tesmar.sys: 0"}});
    }
    const std::vector<host::InstallerSession::Message>& Messages() { return host::CurrentMachine().session.messages; }
};

// The whole road, on 32-bit Windows (false) and on 64-bit Windows (true).
class UninstallWindows : public Uninstall, public ::testing::WithParamInterface<bool> {};

TEST_P(UninstallWindows, WholeRoadWithASession)
{
    const bool windows64 = GetParam();
    m().windows64 = windows64;
    if (windows64) m().MakeFolder(m().Wow64Directory() + u"\\drivers");
    EXPECT_EQ(UninstallDeviceDriver(session), ERROR_SUCCESS);
    std::vector<std::string> expected = Join({FrameOpening(),
                                              {"Uninstall ...", "Remove Device ..."},
                                              RemoveLines(),
                                              PackageLines(),
                                              {"Uninstall result: 0"},
                                              FrameClosing()});
    if (windows64) {
        // Windows refuses the removal to a 32-bit process: the device stays, and the
        // package removal meets it again. The WOW64 drivers folder is searched too.
        std::vector<std::string> refused = {"remove devices: " + Guid + " ...", "remove device 2...",
                                            "remove error: 0xe0000235", "remove device: ROOT\\SYSTEM\\0000",
                                            "remove device count: 1 error: 259"};
        expected =
            Join({FrameOpening(),
                  {"Uninstall ...", "Remove Device ..."},
                  refused,
                  {"Uninstall modulefile: " + Folder, "RemoveDevices again..."},
                  refused,
                  {"DeleteDriverPackages..."},
                  StoreLines(),
                  {"SearchSYS: " + Folder + "*.SYS", "delete driver file C:\\Windows\\system32\\drivers\\tesmar.sys: 0",
                   "delete wow64 driver file C:\\Windows\\SysWOW64\\drivers\\tesmar.sys: 2", "Uninstall result: 0"},
                  FrameClosing()});
    }
    EXPECT_EQ(LogLines(), expected);
    EXPECT_EQ(device->removed, !windows64);
    EXPECT_TRUE(Messages().empty());
    EXPECT_TRUE(m().Exists(DriverFolder + u"tesmar.inf"));  // msiexec removes the package's own files
}

INSTANTIATE_TEST_SUITE_P(Uninstall, UninstallWindows, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "On64BitWindows" : "On32BitWindows");
                         });

TEST_F(Uninstall, RetryUntilTheRemovalNoLongerNeedsARestart)
{
    device->RemovalNeeds(DI_NEEDRESTART);
    host::CurrentMachine().session.answers = {IDRETRY, IDRETRY, IDRETRY, IDIGNORE};
    EXPECT_EQ(UninstallDeviceDriver(session), ERROR_SUCCESS);
    std::string text = LogText();
    size_t passes = 0;
    for (size_t at = text.find("Remove Device ...\n"); at != std::string::npos;
         at = text.find("Remove Device ...\n", at + 1))
        ++passes;
    EXPECT_EQ(passes, 4u);
    EXPECT_EQ(device->removalsAsked, 5);  // four passes and the package removal
    ASSERT_EQ(Messages().size(), 4u);
    for (const auto& message : Messages()) {
        EXPECT_EQ(static_cast<DWORD>(message.type), 0x03000012u);
        EXPECT_EQ(message.fields, 1u);
        EXPECT_EQ(message.integers, (std::map<UINT, int>{{1, 25000}}));
    }
    EXPECT_EQ(host::CurrentMachine().session.recordsCreated, 4);
    EXPECT_EQ(host::CurrentMachine().session.recordsClosed, 4);
    EXPECT_NE(text.find("RemoveDevices (" + Folder + "*.SYS) reboot required...\n"), std::string::npos);
    EXPECT_EQ(LogLines().back(), "Uninstall result: 1");
    EXPECT_FALSE(host::CurrentMachine().session.RebootAtEnd());  // the uninstall asks for no reboot of its own
}

TEST_F(Uninstall, AbortRequestsARebootAndStops)
{
    // On 32-bit Windows only: on 64-bit Windows the removal is refused to this 32-bit library,
    // so no removal asks for a reboot and the prompt never comes.
    device->RemovalNeeds(DI_NEEDREBOOT);
    host::CurrentMachine().session.answers = {IDABORT};
    EXPECT_EQ(UninstallDeviceDriver(session), ERROR_SUCCESS_REBOOT_INITIATED);
    EXPECT_EQ(LogLines(), Join({FrameOpening(),
                                {"Uninstall ...", "Remove Device ..."},
                                RemoveLines(),
                                {"Uninstall abort... "},
                                FrameClosing()}));
    EXPECT_TRUE(host::CurrentMachine().session.RebootAtEnd());
    EXPECT_TRUE(m().Exists(u"C:\\Windows\\inf\\oem3.inf"));
    EXPECT_EQ(host::CurrentMachine().session.recordsClosed, 1);
}

// What the RetryPrompt returns when no user saw it (0), when the message failed (-1), or an
// answer it does not offer (IDOK).
class UninstallAnswer : public Uninstall, public ::testing::WithParamInterface<int> {};

TEST_P(UninstallAnswer, NoUserInterfaceOrNoMessageGoesOnAsIgnore)
{
    device->RemovalNeeds(DI_NEEDREBOOT);
    host::CurrentMachine().session.answers = {GetParam()};
    EXPECT_EQ(UninstallDeviceDriver(session), ERROR_SUCCESS);
    EXPECT_EQ(Messages().size(), 1u);
    EXPECT_EQ(LogLines().back(), "Uninstall result: 1");
}

INSTANTIATE_TEST_SUITE_P(
    Uninstall, UninstallAnswer, ::testing::Values(0, -1, IDOK), [](const ::testing::TestParamInfo<int>& info) {
        return std::string(info.param == 0 ? "NoUserInterface" : info.param == -1 ? "FailedMessage" : "Ok");
    });

namespace {

struct RecordFailure {
    const char* api;
    DWORD code;
    int recordsMade;
};
void PrintTo(const RecordFailure& failure, std::ostream* out) { *out << failure.api << " fails"; }

}  // namespace

// The prompt's record cannot be made, or made but not filled: it is not shown, and a record
// that was made is closed.
class UninstallRecord : public Uninstall, public ::testing::WithParamInterface<RecordFailure> {};

TEST_P(UninstallRecord, RecordThatCannotBeMadeOrFilledShowsNothing)
{
    device->RemovalNeeds(DI_NEEDREBOOT);
    m().Fail(GetParam().api, GetParam().code);
    EXPECT_EQ(UninstallDeviceDriver(session), ERROR_SUCCESS);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(LogLines().back(), "Uninstall result: 1");
    EXPECT_EQ(host::CurrentMachine().session.recordsCreated, GetParam().recordsMade);
    EXPECT_EQ(host::CurrentMachine().session.recordsClosed, GetParam().recordsMade);
}

INSTANTIATE_TEST_SUITE_P(Uninstall, UninstallRecord,
                         ::testing::Values(RecordFailure{"MsiCreateRecord", 0, 0},
                                           RecordFailure{"MsiRecordSetInteger", ERROR_INVALID_PARAMETER, 1}),
                         [](const ::testing::TestParamInfo<RecordFailure>& info) {
                             return std::string(info.param.api);
                         });

TEST_F(Uninstall, NullSessionReturnsTheRawResultWithoutAPrompt)
{
    m().moduleFileName = u"C:\\Field\\drvrun.exe";
    device->RemovalNeeds(DI_NEEDREBOOT);
    EXPECT_EQ(UninstallDeviceDriver(0), static_cast<UINT>(RESULT_REBOOT));
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(LogLines()[0], "Uninstall modulefile: C:\\Field\\drvrun.exe");
    EXPECT_EQ(LogLines().back(), "RemoveDevices (C:\\Field\\*.SYS) reboot required...");

    m().Fail("GetModuleFileNameW", ERROR_ACCESS_DENIED);
    m().Remove(LogPath());
    EXPECT_EQ(UninstallDeviceDriver(0), static_cast<UINT>(RESULT_FAILURE));
    EXPECT_FALSE(m().Exists(LogPath()));
}

TEST_F(Uninstall, PackageFromTheFolderOfAFile)
{
    m().WriteFile(u"C:\\Field\\tesmar.inf", InfOfClass(PackageClassText));
    EXPECT_EQ(installer.UninstallPackage(nullptr, W("C:\\Field\\drvrun.exe")), RESULT_SUCCESS);
    std::vector<std::string> lines = LogLines();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 5),
              (std::vector<std::string>{"Uninstall modulefile: C:\\Field\\drvrun.exe", "SearchINF: C:\\Field\\*.inf",
                                        "infFile: tesmar.inf", "INF: tesmar.inf",
                                        " C:\\Field\\tesmar.inf ClassGuid: " + Guid}));
    EXPECT_TRUE(device->removed);

    m().Remove(LogPath());
    EXPECT_EQ(installer.UninstallPackage(nullptr, W("C:\\Empty\\x")), RESULT_FAILURE);
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{"Uninstall modulefile: C:\\Empty\\x", "SearchINF: C:\\Empty\\*.inf"}));

    m().Remove(LogPath());
    EXPECT_EQ(installer.UninstallPackage(W("{not-a-guid}"), W("C:\\Field\\")), RESULT_FAILURE);
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{"Uninstall modulefile: C:\\Field\\", "CLSIDFromString error: 0x800401f3..."}));
}

class Upgrade : public Sequence {};

TEST_F(Upgrade, WaitsAndInstallsEvenWhenBothHalvesFail)
{
    m().moduleFileName = u"C:\\Empty\\setup.exe";
    EXPECT_EQ(UpgradeDeviceDriver(session), ERROR_SUCCESS);
    EXPECT_EQ(m().sleeps, std::vector<DWORD>{2000});
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{"Uninstall modulefile: C:\\Empty\\setup.exe", "SearchINF: C:\\Empty\\*.inf",
                                        "Getting Module filename...", "Module filename: C:\\Empty\\setup.exe"}));
    EXPECT_EQ(m().Calls("Wow64DisableWow64FsRedirection"), 0);
    EXPECT_TRUE(host::CurrentMachine().session.modes.empty());
}

TEST_F(Upgrade, ReplacesThePackageBesideTheExecutable)
{
    m().moduleFileName = u"C:\\Field\\drvrun.exe";
    m().WriteFile(u"C:\\Field\\tesmar.inf", InfOfClass(PackageClassText));
    EXPECT_EQ(UpgradeDeviceDriver(0), ERROR_SUCCESS);
    EXPECT_TRUE(device->removed);
    EXPECT_EQ(m().sleeps, (std::vector<DWORD>{2000, 1000}));
    EXPECT_EQ(devices().reenumerations, 1);
    EXPECT_EQ(LogLines().back(), "rescan devices...");
}
