#include "cleaner_fixture.h"

namespace {

std::string Key(const std::string& name) { return std::string("SYSTEM\\CurrentControlSet\\Services\\") + name; }

}  // namespace

class Svcsweep : public CleanerTest {};

TEST_F(Svcsweep, DeletesTheDefaultServiceAndFindsItsKeyGoneWithIt)
{
    host::Services().Add("AndroidUSB");
    CreateLog();
    Run();
    ExpectLogged(Join({"Prepare delete the service: androidusb\n", "Success to delete service androidusb\n"},
                      MissingKeySteps("androidusb")));
    EXPECT_FALSE(host::Services().Has("androidusb"));
    EXPECT_FALSE(host::Registry().HasKey(Key("androidusb")));
    EXPECT_EQ(Err(), "");
    ExpectNoHandlesLeft();
}

TEST_F(Svcsweep, OnlyTheFirstArgumentCountsAndTheUsageLineShowsTheInvocationName)
{
    host::Services().Add("androidusb");
    host::Services().Add("first");
    host::Services().Add("second");
    CreateLog();
    Run({"first", "second"}, "sweep");
    EXPECT_EQ(Out().substr(0, Banner("sweep").size()), Banner("sweep"));
    EXPECT_FALSE(host::Services().Has("first"));
    EXPECT_TRUE(host::Services().Has("second"));
    EXPECT_TRUE(host::Services().Has("androidusb"));
    EXPECT_TRUE(host::Registry().HasKey(Key("second")));
}

TEST_F(Svcsweep, WithoutTheLogFileTheConsoleShowsOnlyTheBannerAndNothingIsCreated)
{
    host::Services().Add("androidusb");
    Run();
    EXPECT_EQ(Out(), Banner());
    EXPECT_EQ(Err(), "");
    EXPECT_TRUE(m().List(u"C:\\Work").empty());
    EXPECT_EQ(m().Calls("fopen"), 0);
    // The steps ran all the same.
    EXPECT_FALSE(host::Services().Has("androidusb"));
}

TEST_F(Svcsweep, WithoutNameOrVersionRecordTheUsageAndVersionStillPrint)
{
    CreateLog();
    m().Fail("GetVersionExA", ERROR_INVALID_PARAMETER);
    char* none[] = {nullptr};
    EXPECT_EQ(SvcsweepMain(0, none), 0);
    std::string logged = Logged(Join(Header("0.0.0"), {"Prepare delete the service: androidusb\n"}));
    EXPECT_EQ(Out().substr(0, Banner("Svcsweep").size() + logged.size()), Banner("Svcsweep") + logged);
}

TEST_F(Svcsweep, MissingServiceAndMissingKeyGiveTheirFailureLines)
{
    CreateLog();
    Run({"ghost"});
    ExpectLogged(Join({"Prepare delete the service: ghost\n", "The ghost Service could not be opened: 1060\n"},
                      MissingKeySteps("ghost")));
    ExpectNoHandlesLeft();
}

TEST_F(Svcsweep, ServiceMarkedForDeletionElsewhereCannotBeDeletedButItsKeyIs)
{
    // Another process deleted it and still holds a handle: it waits for that handle.
    host::ServiceEntry& service = host::Services().Add("busy");
    service.markedForDelete = true;
    service.openHandles = 1;
    CreateLog();
    Run({"busy"});
    ExpectLogged({"Prepare delete the service: busy\n", "The busy Service could not be deleted: 1072\n",
                  "Prepare clean the register for the service: busy\n",
                  "RegDeleteKey success to delete service-key: " + Key("busy") + "\n"});
    EXPECT_EQ(host::Services().Find("busy")->openHandles, 1);
    EXPECT_FALSE(host::Registry().HasKey(Key("busy")));
    ExpectNoHandlesLeft();
}

TEST_F(Svcsweep, LeftoverKeyWithSubkeysGoesInTheRecursiveStep)
{
    host::Registry().SetValue(Key("androidusb\\Enum"), "Count", "1");
    host::Registry().AddKey(Key("androidusb\\Security"));
    host::Registry().AddKey(Key("usbhub"));
    CreateLog();
    Run();
    ExpectLogged({"Prepare delete the service: androidusb\n", "The androidusb Service could not be opened: 1060\n",
                  "Prepare clean the register for the service: androidusb\n",
                  "RegDeleteKey could not delete the service-key : " + Key("androidusb") + " error = 5\n",
                  "SHDeleteKey success to delete service-key: " + Key("androidusb") + "\n"});
    EXPECT_FALSE(host::Registry().HasKey(Key("androidusb")));
    EXPECT_EQ(host::Registry().Subkeys(Key("")), std::vector<std::string>{"usbhub"});
    ExpectNoHandlesLeft();
}

TEST_F(Svcsweep, WithoutAdministratorRightsEveryStepFailsAndEverythingStays)
{
    host::Services().Add("androidusb");
    host::Registry().AddKey(Key("androidusb\\Enum"));
    host::CallerAccount().administrator = false;
    CreateLog();
    Run();
    // The manager's line has no newline of its own: the log adds one.
    ExpectLogged({"Prepare delete the service: androidusb\n", "The Service Control Manager could not be opened: 5\n",
                  "Prepare clean the register for the service: androidusb\n",
                  "RegDeleteKey could not delete the service-key : " + Key("androidusb") + " error = 5\n",
                  "SHDeleteKey could not delete the service-key : " + Key("androidusb") + " error = 5\n"});
    EXPECT_TRUE(host::Services().Has("androidusb"));
    EXPECT_TRUE(host::Registry().HasKey(Key("androidusb\\Enum")));
    ExpectNoHandlesLeft();
}

namespace {

struct RefusedName {
    const char* label;
    std::string name;
    std::string reason;
};

void PrintTo(const RefusedName& c, std::ostream* out) { *out << "name \"" << c.name << "\""; }

const std::string TooLong(226, 'a');

}  // namespace

class SvcsweepRefusedName : public Svcsweep, public ::testing::WithParamInterface<RefusedName> {};

TEST_P(SvcsweepRefusedName, RefusedNamesReachNeitherTheManagerNorTheRegistry)
{
    const RefusedName& c = GetParam();
    host::Services().Add("androidusb");
    host::Registry().AddKey(Key("androidusb\\Enum"));
    host::Registry().AddKey(Key(TooLong.substr(0, 225)));
    CreateLog();
    Run({c.name});
    EXPECT_EQ(Err(), c.reason);
    ExpectLogged({c.reason});
    for (const char* api : {"OpenSCManagerA", "OpenServiceA", "DeleteService", "RegOpenKeyA", "RegDeleteKeyA",
                            "SHDeleteKeyA"})
        EXPECT_EQ(m().Calls(api), 0) << api;
    EXPECT_TRUE(host::Services().Has("androidusb"));
    EXPECT_EQ(host::Registry().Subkeys(Key("")), (std::vector<std::string>{TooLong.substr(0, 225), "androidusb"}));
    EXPECT_TRUE(host::Registry().HasKey(Key("androidusb\\Enum")));
    EXPECT_TRUE(host::Registry().HasKey("SOFTWARE"));
}

INSTANTIATE_TEST_SUITE_P(
    Svcsweep, SvcsweepRefusedName,
    ::testing::Values(
        RefusedName{"Empty", "", "The service name is empty: nothing is deleted\n"},
        RefusedName{"ParentPath", "..\\..\\SOFTWARE",
                    "The service name ..\\..\\SOFTWARE holds a backslash or a slash: nothing is deleted\n"},
        RefusedName{"Subkey", "androidusb\\Enum",
                    "The service name androidusb\\Enum holds a backslash or a slash: nothing is deleted\n"},
        RefusedName{"Slash", "usb/hub", "The service name usb/hub holds a backslash or a slash: nothing is deleted\n"},
        RefusedName{"TooLong", TooLong, "The service name has 226 characters, more than 225: nothing is deleted\n"},
        RefusedName{"TooLongWithBackslash", TooLong + "\\x",
                    "The service name has 228 characters, more than 225: nothing is deleted\n"}),
    [](const ::testing::TestParamInfo<RefusedName>& info) { return std::string(info.param.label); });

TEST_F(Svcsweep, LongestNameFitsTheKeyPath)
{
    const std::string name(225, 'n');
    host::Registry().AddKey(Key(name));
    CreateLog();
    Run({name});
    EXPECT_FALSE(host::Registry().HasKey(Key(name)));
    EXPECT_NE(LogFile().find("RegDeleteKey success to delete service-key: " + Key(name) + "\r\n"), std::string::npos);
}
