#include "device_fixture.h"

namespace {

const std::string Header = "remove devices: " + PackageClassText + " ...";

std::string Removing(const host::Device& device) { return "remove device " + std::to_string(device.devInst) + "..."; }
std::string Removed(const host::Device& device) { return "remove device: " + host::U8(device.instanceId); }

}  // namespace

class RemoveDevices : public DeviceTest {};

TEST_F(RemoveDevices, ClassWithoutPresentDevicesStillMarksItsPhantoms)
{
    host::Device& phantom = devices().Add(PackageClass).Present(false);
    devices().Add(OtherClass);
    EXPECT_EQ(installer.RemoveDevices(PackageClass), RESULT_SUCCESS);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{Header, "remove device count: 0 error: 259"}));
    EXPECT_EQ(phantom.configFlagsWritten, std::vector<DWORD>{0x20});
    EXPECT_FALSE(devices().devices[1].removed);
}

TEST_F(RemoveDevices, OneRebootAmongTwoMakesTheResultOne)
{
    host::Device& first = devices().Add(PackageClass).InstanceId(u"USB\\VID_1234&PID_0001\\5&1");
    host::Device& second = devices().Add(PackageClass).RemovalNeeds(DI_NEEDREBOOT);
    EXPECT_EQ(installer.RemoveDevices(PackageClass), RESULT_REBOOT);
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{Header, Removing(first), "remove device: USB\\VID_1234&PID_0001\\5&1",
                                        Removing(second), Removed(second), "remove device count: 2 error: 259"}));
    EXPECT_TRUE(first.removed);
    EXPECT_EQ(second.removalsAsked, 1);  // removed once the machine restarts
}

TEST_F(RemoveDevices, RestartAloneCountsLikeReboot)
{
    devices().Add(PackageClass).RemovalNeeds(DI_NEEDRESTART);
    EXPECT_EQ(installer.RemoveDevices(PackageClass), RESULT_REBOOT);
}

TEST_F(RemoveDevices, LaterDevicesNeverResetTheReboot)
{
    devices().Add(PackageClass).RemovalNeeds(DI_NEEDREBOOT);
    host::Device& failing = devices().Add(PackageClass).RemovalFails(ERROR_ACCESS_DENIED).RemovalNeeds(DI_NEEDREBOOT);
    host::Device& plain = devices().Add(PackageClass);
    EXPECT_EQ(installer.RemoveDevices(PackageClass), RESULT_REBOOT);
    std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 3, lines.end()),
              (std::vector<std::string>{Removing(failing), "remove error: 0x00000005", Removed(failing),
                                        Removing(plain), Removed(plain), "remove device count: 3 error: 259"}));
    EXPECT_FALSE(failing.removed);
}

TEST_F(RemoveDevices, FailedDevicesAddNothingButCount)
{
    // An unreadable ID skips the device after its first line; a failed removal still logs
    // the ID; unreadable install parameters after a removal drop its reboot request.
    host::Device& noId = devices().Add(PackageClass).RemovalNeeds(DI_NEEDREBOOT);
    host::Device& failing = devices().Add(PackageClass).RemovalFails(ERROR_INVALID_CLASS_INSTALLER);
    host::Device& noParams = devices().Add(PackageClass).RemovalNeeds(DI_NEEDREBOOT).InstallParamsUnreadable();
    m().Fail("CM_Get_Device_ID_ExW", CR_NO_SUCH_DEVNODE, 1);
    EXPECT_EQ(installer.RemoveDevices(PackageClass), RESULT_SUCCESS);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{Header, Removing(noId), Removing(failing),
                                                    "remove error: 0xe000020d", Removed(failing), Removing(noParams),
                                                    Removed(noParams), "remove device count: 3 error: 259"}));
    EXPECT_FALSE(noId.removed);
    EXPECT_FALSE(failing.removed);
    EXPECT_EQ(noParams.removalsAsked, 1);
}

TEST_F(RemoveDevices, UnreadableSetDetailSkipsTheDevice)
{
    host::Device& device = devices().Add(PackageClass);
    m().Fail("SetupDiGetDeviceInfoListDetailW", ERROR_INVALID_HANDLE);
    EXPECT_EQ(installer.RemoveDevices(PackageClass), RESULT_SUCCESS);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{Header, Removing(device), "remove device count: 1 error: 259"}));
    EXPECT_FALSE(device.removed);
    EXPECT_EQ(m().Calls("SetupDiCallClassInstaller"), 0);
}

TEST_F(RemoveDevices, RejectedClassInstallParamsSkipTheClassInstaller)
{
    host::Device& device = devices().Add(PackageClass);
    m().Fail("SetupDiSetClassInstallParamsW", ERROR_INVALID_PARAMETER);
    EXPECT_EQ(installer.RemoveDevices(PackageClass), RESULT_SUCCESS);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{Header, Removing(device), "remove error: 0x00000057",
                                                    Removed(device), "remove device count: 1 error: 259"}));
    EXPECT_EQ(m().Calls("SetupDiCallClassInstaller"), 0);
}

TEST_F(RemoveDevices, UnbuildableSetGivesZeroAndPhantomMarkingStillRuns)
{
    host::Device& phantom = devices().Add(PackageClass).Present(false).ConfigFlags(0x4);
    m().Fail("SetupDiGetClassDevsExW", ERROR_ACCESS_DENIED);
    EXPECT_EQ(installer.RemoveDevices(PackageClass), RESULT_SUCCESS);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{Header, "SetupDiGetClassDevsEx error: 5 "}));
    EXPECT_EQ(phantom.Flags(), 0x24u);
}

TEST_F(RemoveDevices, AnInstanceIdThatFillsItsBufferIsRefused)
{
    // 199 characters and the terminator fit the 200-character buffer; 200 fill it without a
    // terminator, 201 do not fit.
    host::Device& fits = devices().Add(PackageClass).InstanceId(u"ROOT\\" + std::u16string(194, u'A'));
    host::Device& fills = devices().Add(PackageClass).InstanceId(u"ROOT\\" + std::u16string(195, u'B'));
    host::Device& over = devices().Add(PackageClass).InstanceId(u"ROOT\\" + std::u16string(196, u'C'));
    EXPECT_EQ(installer.RemoveDevices(PackageClass), RESULT_SUCCESS);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{Header, Removing(fits), Removed(fits), Removing(fills),
                                                    Removing(over), "remove device count: 3 error: 259"}));
    EXPECT_TRUE(fits.removed);
    EXPECT_FALSE(fills.removed);
    EXPECT_FALSE(over.removed);
}

TEST_F(RemoveDevices, AnIdCallThatWritesNothingLogsAnEmptyId)
{
    host::Device& device = devices().Add(PackageClass);
    m().Fail("CM_Get_Device_ID_ExW", CR_SUCCESS);  // success without touching the buffer
    EXPECT_EQ(installer.RemoveDevices(PackageClass), RESULT_SUCCESS);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{Header, Removing(device),
                                                    "remove device: ", "remove device count: 1 error: 259"}));
    EXPECT_TRUE(device.removed);
}

class MarkPhantoms : public DeviceTest {};

TEST_F(MarkPhantoms, OnlyTheClassDevicesThatAreNotPresent)
{
    host::Device& present = devices().Add(PackageClass).ConfigFlags(0x1);
    host::Device& marked = devices().Add(PackageClass).Present(false).ConfigFlags(0x20);
    host::Device& other = devices().Add(PackageClass).Present(false).ConfigFlags(0x401);
    host::Device& unreadable = devices().Add(PackageClass).Present(false).ConfigFlags(0x8).ConfigFlagsUnreadable();
    host::Device& notDword = devices()
                                 .Add(PackageClass)
                                 .Present(false)
                                 .Property(SPDRP_CONFIGFLAGS, REG_BINARY, std::string("\x11\0\0\0", 4));
    host::Device& otherClass = devices().Add(OtherClass).Present(false).ConfigFlags(0x2);
    installer.MarkPhantomDevicesForReinstall(PackageClass);
    EXPECT_TRUE(present.configFlagsWritten.empty());
    EXPECT_EQ(marked.configFlagsWritten, std::vector<DWORD>{0x20});  // written again
    EXPECT_EQ(other.Flags(), 0x421u);
    EXPECT_EQ(unreadable.Flags(), 0x20u);
    EXPECT_EQ(notDword.Flags(), 0x20u);
    EXPECT_TRUE(otherClass.configFlagsWritten.empty());
    EXPECT_FALSE(m().Exists(LogPath()));
}

TEST_F(MarkPhantoms, GuidsThatDifferInAnyOneByteAreOtherClasses)
{
    std::vector<host::Device*> neighbours;
    for (size_t i = 0; i < sizeof(GUID); ++i) {
        GUID near = PackageClass;
        reinterpret_cast<uint8_t*>(&near)[i] ^= 0x01;
        neighbours.push_back(&devices().Add(near).Present(false));
    }
    host::Device& same = devices().Add(PackageClass).Present(false);
    installer.MarkPhantomDevicesForReinstall(PackageClass);
    for (size_t i = 0; i < neighbours.size(); ++i)
        EXPECT_TRUE(neighbours[i]->configFlagsWritten.empty()) << "byte " << i;
    EXPECT_EQ(same.configFlagsWritten, std::vector<DWORD>{0x20});
}

TEST_F(MarkPhantoms, FailuresAreSilentAndTheWalkGoesOn)
{
    host::Device& first = devices().Add(PackageClass).Present(false);
    host::Device& second = devices().Add(PackageClass).Present(false);
    m().Fail("SetupDiSetDeviceRegistryPropertyW", ERROR_ACCESS_DENIED, 1);
    installer.MarkPhantomDevicesForReinstall(PackageClass);
    EXPECT_TRUE(first.configFlagsWritten.empty());
    EXPECT_EQ(second.configFlagsWritten, std::vector<DWORD>{0x20});

    m().Fail("SetupDiGetClassDevsW", ERROR_NOT_ENOUGH_MEMORY);
    installer.MarkPhantomDevicesForReinstall(PackageClass);
    EXPECT_EQ(second.configFlagsWritten.size(), 1u);
    EXPECT_FALSE(m().Exists(LogPath()));
}
