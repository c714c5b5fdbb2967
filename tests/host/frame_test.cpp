#include "fixture.h"

#include "exports.h"
#include "frame.h"
#include "installer.h"
#include "devices.h"

namespace {

std::string IsWow64Line() { return "IsWow64Process: " + MachineTest::Kernel32Export("IsWow64Process"); }
std::string DisableLine(int result)
{
    return "_Wow64DisableWow64FsRedirection: " + MachineTest::Kernel32Export("Wow64DisableWow64FsRedirection") + " " +
           std::to_string(result);
}
std::string RevertLine(int result)
{
    return "_Wow64RevertWow64FsRedirection: " + MachineTest::Kernel32Export("Wow64RevertWow64FsRedirection") + " " +
           std::to_string(result);
}
const std::string FrameLine =
    "IPROPNAME_CUSTOMACTIONDATA data {F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}  \"C:\\Program Files\\Tesmar\\drivers\\\"";

}  // namespace

class Wow64Check : public MachineTest {};

TEST_F(Wow64Check, ReportsWow64OnlyOn64BitWindows)
{
    EXPECT_FALSE(_IsWow64System());
    m().windows64 = true;
    EXPECT_TRUE(_IsWow64System());
    // One line on every call: nothing is cached.
    EXPECT_EQ(LogLines(), (std::vector<std::string>{IsWow64Line(), IsWow64Line()}));
}

TEST_F(Wow64Check, MissingFunctionCountsAsNotWow64)
{
    m().windows64 = true;
    m().RemoveExport(u"kernel32.dll", "IsWow64Process");
    EXPECT_FALSE(_IsWow64System());
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"IsWow64Process: 00000000"}));
}

TEST_F(Wow64Check, FailingCallLogsItsError)
{
    m().windows64 = true;
    m().Fail("IsWow64Process", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(_IsWow64System());
    EXPECT_EQ(LogLines(), (std::vector<std::string>{IsWow64Line(), "__IsWow64Process error: 5"}));
}

class Frame : public MachineTest {
protected:
    // Runs the frame around a sequence that logs one line and notes the redirection it met.
    std::string RunFrame()
    {
        std::string folder;
        {
            CustomActionFrame frame;
            folder = host::U8(frame.DriverFolder());
            redirectionOffInside = m().RedirectionDisabled();
            LogMessage(W("sequence"));
        }
        return folder;
    }
    bool redirectionOffInside = false;
};

TEST_F(Frame, On32BitWindowsLeavesRedirectionAlone)
{
    EXPECT_EQ(RunFrame(), "C:\\Program Files\\Tesmar\\drivers\\");
    EXPECT_FALSE(redirectionOffInside);
    EXPECT_EQ(m().Calls("Wow64DisableWow64FsRedirection"), 0);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{IsWow64Line(), FrameLine, "sequence"}));
}

TEST_F(Frame, On64BitWindowsSwitchesRedirectionOffAroundTheSequence)
{
    m().windows64 = true;
    RunFrame();
    EXPECT_TRUE(redirectionOffInside);
    EXPECT_FALSE(m().RedirectionDisabled());
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{IsWow64Line(), DisableLine(1), FrameLine, "sequence", RevertLine(1)}));
}

TEST_F(Frame, RevertLineRepeatsWhatTheDisableCallReturned)
{
    // Windows promises a nonzero BOOL, not TRUE: both lines show the value the call gave.
    m().windows64 = true;
    m().redirectionDisableResult = 7;
    RunFrame();
    EXPECT_TRUE(redirectionOffInside);
    EXPECT_FALSE(m().RedirectionDisabled());
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{IsWow64Line(), DisableLine(7), FrameLine, "sequence", RevertLine(7)}));
}

TEST_F(Frame, DisableMissingOrFailingMeansNoRevert)
{
    m().windows64 = true;
    m().RemoveExport(u"kernel32.dll", "Wow64DisableWow64FsRedirection");
    RunFrame();
    EXPECT_FALSE(redirectionOffInside);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{IsWow64Line(), FrameLine, "sequence"}));

    m().Remove(LogPath());
    m().modules[u"kernel32.dll"].exports["Wow64DisableWow64FsRedirection"] = nullptr;
    m().Fail("Wow64DisableWow64FsRedirection", ERROR_ACCESS_DENIED);
    RunFrame();
    EXPECT_FALSE(redirectionOffInside);
    EXPECT_EQ(m().Calls("Wow64RevertWow64FsRedirection"), 0);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{IsWow64Line(), DisableLine(0), FrameLine, "sequence"}));
}

TEST_F(Frame, RevertMissingAtTheEndWritesNothing)
{
    m().windows64 = true;
    {
        CustomActionFrame frame;
        m().RemoveExport(u"kernel32.dll", "Wow64RevertWow64FsRedirection");
    }
    EXPECT_EQ(LogLines(), (std::vector<std::string>{IsWow64Line(), DisableLine(1), FrameLine}));
}

TEST_F(Frame, DriverFolderIsOnTheSystemDrive)
{
    m().InstallWindowsAt(u"D:\\Windows");
    EXPECT_EQ(RunFrame(), "D:\\Program Files\\Tesmar\\drivers\\");
    EXPECT_EQ(LogLines()[1],
              "IPROPNAME_CUSTOMACTIONDATA data {F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}  "
              "\"D:\\Program Files\\Tesmar\\drivers\\\"");
}

TEST_F(Frame, UnreadableSystemDirectoryGivesTheRelativeFolder)
{
    m().Fail("GetSystemDirectoryW", ERROR_ACCESS_DENIED);
    EXPECT_EQ(RunFrame(), "Program Files\\Tesmar\\drivers\\");
}

class Rescan : public MachineTest {};

TEST_F(Rescan, ReenumeratesFromTheRootSilently)
{
    DeviceDriverInstaller installer;
    EXPECT_EQ(installer.RescanDevices(), RESULT_SUCCESS);
    EXPECT_EQ(_RescanDevices(), 0u);
    EXPECT_EQ(host::CurrentMachine().devices.reenumerations, 2);
    EXPECT_FALSE(m().Exists(LogPath()));
}

TEST_F(Rescan, FailuresAreLoggedAndTheExportStillReturnsZero)
{
    m().Fail("CM_Locate_DevNode_ExW", CR_FAILURE, 1);
    EXPECT_EQ(_RescanDevices(), 0u);
    m().Fail("CM_Reenumerate_DevNode_Ex", CR_ACCESS_DENIED, 1);
    EXPECT_EQ(_RescanDevices(), 0u);
    DeviceDriverInstaller installer;
    m().Fail("CM_Reenumerate_DevNode_Ex", CR_FAILURE, 1);
    EXPECT_EQ(installer.RescanDevices(), RESULT_FAILURE);
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{"CM_Locate_DevNode_Ex error: 19", "CM_Reenumerate_DevNode_Ex error: 51",
                                        "CM_Reenumerate_DevNode_Ex error: 19"}));
    EXPECT_EQ(host::CurrentMachine().devices.reenumerations, 0);
}

class Library : public MachineTest {};

TEST_F(Library, EntryPointDoesNothing)
{
    for (DWORD reason : {DLL_PROCESS_ATTACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH, DLL_PROCESS_DETACH})
        EXPECT_TRUE(DllMain(nullptr, reason, nullptr));
}
