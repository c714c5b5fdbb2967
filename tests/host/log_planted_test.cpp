// What stands at the installer log's path when the custom actions run as SYSTEM, in a TEMP
// folder where every user may create files: only a plain file of the process's user, SYSTEM
// or Administrators is written; anything planted there drops the message and stays as it was.
#include "fixture.h"

#include "winapi.h"

namespace {

const char* const OTHER_USER = "S-1-5-21-1004336348-1177238915-682003330-1013";
const char* const PROCESS_USER = "S-1-5-21-1004336348-1177238915-682003330-500";
const DWORD CALLER_ERROR = 1234;  // the last error a caller has when it logs

const std::u16string VICTIM = u"C:\\Windows\\system32\\config\\SAM.log";
const std::u16string MISSING = u"C:\\Windows\\system32\\config\\made.log";
const std::u16string FOLDER = u"C:\\Windows\\system32\\config";
const char* const VICTIM_BYTES = "precious";

}  // namespace

class PlantedLog : public MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        m().WriteFile(VICTIM, VICTIM_BYTES);
    }

    // Logs one line as a caller that has a last error of its own; the error must survive.
    void Log(const WCHAR* text)
    {
        SetLastError(CALLER_ERROR);
        LogMessage(text);
        EXPECT_EQ(GetLastError(), CALLER_ERROR);
    }

    // Windows XP's kernel32, without the calls that came with Windows Vista.
    void AsWindowsXP()
    {
        m().RemoveExport(u"kernel32.dll", "GetFileInformationByHandleEx");
        m().RemoveExport(u"kernel32.dll", "GetVolumeInformationByHandleW");
    }
};

// Each way to plant something at the log's path.
struct Planting {
    const char* name;
    void (*plant)(host::Machine& m);
    bool readsAsTheVictim;            // reading the log's path gives the victim's bytes
    bool refusedForItsOwner = false;  // a plain file, refused only for who owns it
};

const std::u16string LOG = u"C:\\Temp\\drvmate.log";

const Planting PLANTINGS[] = {
    {"SymbolicLinkToAFile", [](host::Machine& m) { m.MakeSymbolicLink(LOG, VICTIM); }, true},
    {"SymbolicLinkToNothing", [](host::Machine& m) { m.MakeSymbolicLink(LOG, MISSING); }, false},
    {"SymbolicLinkToAFolder", [](host::Machine& m) { m.MakeSymbolicLink(LOG, FOLDER, true); }, false},
    {"Junction", [](host::Machine& m) { m.MakeJunction(LOG, FOLDER); }, false},
    {"HardLink", [](host::Machine& m) { m.MakeHardLink(LOG, VICTIM); }, true},
    {"Folder", [](host::Machine& m) { m.MakeFolder(LOG); }, false},
    {"AnotherUsersFile",
     [](host::Machine& m) {
         m.WriteFile(LOG, VICTIM_BYTES);
         m.SetOwner(LOG, OTHER_USER);
     },
     true, true},
};

class PlantedThing : public PlantedLog, public ::testing::WithParamInterface<Planting> {
protected:
    // The planted thing stays as it was, and no message reaches it or what it leads to.
    void ExpectNeitherWrittenNorFollowed()
    {
        const Planting& planting = GetParam();
        planting.plant(m());
        std::vector<std::u16string> folderBefore = m().List(FOLDER);
        std::vector<std::u16string> tempBefore = m().List(u"C:\\Temp");

        Log(W("first\n"));
        Log(W("second"));

        EXPECT_EQ(m().ReadFile(VICTIM), VICTIM_BYTES);
        EXPECT_FALSE(m().Exists(MISSING));
        EXPECT_EQ(m().List(FOLDER), folderBefore);
        EXPECT_EQ(m().List(u"C:\\Temp"), tempBefore);
        EXPECT_GE(m().Calls("CreateFileW"), 2);  // each message tried anew
        if (planting.readsAsTheVictim) {
            EXPECT_EQ(m().ReadFile(LOG), VICTIM_BYTES);
        }
    }

    // On FAT a planted plain file takes the messages, whoever made it; anything else is refused.
    void ExpectOnlyAPlainFileWrittenOnFat()
    {
        m().VolumeOf(u'C').fileSystem = host::FileSystem::Fat;
        if (!GetParam().refusedForItsOwner) {
            ExpectNeitherWrittenNorFollowed();
            return;
        }
        GetParam().plant(m());
        Log(W("first\n"));
        Log(W("second"));
        EXPECT_EQ(LogBytes(), VICTIM_BYTES + Bytes({'f', 0, 'i', 0, 'r', 0, 's', 0, 't', 0, 0x0D, 0x0A, 0, 's', 0,
                                                    'e', 0, 'c', 0, 'o', 0, 'n', 0, 'd', 0, 0x0D, 0x0A, 0}));
        EXPECT_EQ(m().ReadFile(VICTIM), VICTIM_BYTES);
    }
};

TEST_P(PlantedThing, IsNeitherWrittenNorFollowed) { ExpectNeitherWrittenNorFollowed(); }

// Windows XP's kernel32 lacks GetFileInformationByHandleEx (Windows Vista): the log binds it at
// run time and reads the attributes and links from GetFileInformationByHandle there.
TEST_P(PlantedThing, IsNeitherWrittenNorFollowedOnWindowsXP)
{
    m().RemoveExport(u"kernel32.dll", "GetFileInformationByHandleEx");
    ExpectNeitherWrittenNorFollowed();
    EXPECT_EQ(m().Calls("GetFileInformationByHandleEx"), 0);
}

// A TEMP on FAT32 or exFAT keeps no owners: a plain file there is the log whoever made it, but
// links, junctions and folders are refused as on NTFS.
TEST_P(PlantedThing, OnAVolumeWithoutOwnersOnlyAPlainFileIsWritten) { ExpectOnlyAPlainFileWrittenOnFat(); }

// Windows XP has no GetVolumeInformationByHandleW: there the volume is asked by the log's path.
TEST_P(PlantedThing, OnAVolumeWithoutOwnersOnlyAPlainFileIsWrittenOnWindowsXP)
{
    AsWindowsXP();
    ExpectOnlyAPlainFileWrittenOnFat();
    EXPECT_EQ(m().Calls("GetVolumeInformationByHandleW"), 0);
}

INSTANTIATE_TEST_SUITE_P(AtTheLogPath, PlantedThing, ::testing::ValuesIn(PLANTINGS),
                         [](const ::testing::TestParamInfo<Planting>& info) { return std::string(info.param.name); });

// A log that is already there, by its owner: whether the next message is appended to it.
struct Ownership {
    const char* name;
    const char* owner;
    bool appended;
    bool onFat = false;  // TEMP is on a volume without owners (FAT32, exFAT)
    bool onXP = false;   // kernel32 of Windows XP: the volume is asked by the log's path
};

class ExistingLog : public PlantedLog, public ::testing::WithParamInterface<Ownership> {};

TEST_P(ExistingLog, IsAppendedOnlyWhenTheProcessSystemOrAdministratorsOwnIt)
{
    m().processUser = PROCESS_USER;
    if (GetParam().onFat) m().VolumeOf(u'C').fileSystem = host::FileSystem::Fat;
    if (GetParam().onXP) AsWindowsXP();
    std::string earlier = Bytes({'a', 0, 0x0D, 0x0A, 0});
    m().WriteFile(LogPath(), earlier);
    m().SetOwner(LogPath(), GetParam().owner);

    Log(W("b\n"));

    EXPECT_EQ(LogBytes(), GetParam().appended ? earlier + Bytes({'b', 0, 0x0D, 0x0A, 0}) : earlier);
}

INSTANTIATE_TEST_SUITE_P(ByOwner, ExistingLog,
                         ::testing::Values(Ownership{"System", host::SYSTEM_SID, true},
                                           Ownership{"Administrators", host::ADMINISTRATORS_SID, true},
                                           Ownership{"ProcessUser", PROCESS_USER, true},
                                           Ownership{"AnotherUser", OTHER_USER, false},
                                           Ownership{"Users", "S-1-5-32-545", false},
                                           Ownership{"ProcessUserOnFat", PROCESS_USER, true, true},
                                           Ownership{"AnotherUserOnFat", OTHER_USER, true, true},
                                           Ownership{"AnotherUserOnWindowsXP", OTHER_USER, false, false, true},
                                           Ownership{"ProcessUserOnFatOnWindowsXP", PROCESS_USER, true, true, true},
                                           Ownership{"AnotherUserOnFatOnWindowsXP", OTHER_USER, true, true, true}),
                         [](const ::testing::TestParamInfo<Ownership>& info) { return std::string(info.param.name); });

TEST_F(PlantedLog, MissingLogIsCreatedAsTheProcesssOwnAndAppendedToNext)
{
    m().processUser = PROCESS_USER;
    Log(W("one"));
    EXPECT_EQ(m().Owner(LogPath()), PROCESS_USER);
    Log(W("two\n"));
    EXPECT_EQ(LogBytes(), Bytes({'o', 0, 'n', 0, 'e', 0, 0x0D, 0x0A, 0, 't', 0, 'w', 0, 'o', 0, 0x0D, 0x0A, 0}));
}

// On FAT every file reads as owned by Everyone: the log that the first message made takes every
// later one. The volume is asked only when the owner is none the log trusts.
TEST_F(PlantedLog, LogOnAVolumeWithoutOwnersKeepsEveryMessage)
{
    m().processUser = PROCESS_USER;
    m().VolumeOf(u'C').fileSystem = host::FileSystem::Fat;
    Log(W("one"));
    Log(W("two"));
    Log(W("three"));
    EXPECT_EQ(LogText(), "one\ntwo\nthree\n");
    EXPECT_EQ(m().Calls("GetVolumeInformationByHandleW"), 2);

    m().VolumeOf(u'C').fileSystem = host::FileSystem::Ntfs;
    Log(W("four"));
    EXPECT_EQ(m().Calls("GetVolumeInformationByHandleW"), 2);
    EXPECT_EQ(LogText(), "one\ntwo\nthree\nfour\n");
}

// On Windows XP the volume is asked by the log's path: its root, then that root's flags.
TEST_F(PlantedLog, OnWindowsXPALogOnAVolumeWithoutOwnersKeepsEveryMessage)
{
    AsWindowsXP();
    m().VolumeOf(u'C').fileSystem = host::FileSystem::Fat;
    Log(W("one"));
    Log(W("two"));
    Log(W("three"));
    EXPECT_EQ(LogText(), "one\ntwo\nthree\n");
    EXPECT_EQ(m().Calls("GetVolumePathNameW"), 2);
    EXPECT_EQ(m().Calls("GetVolumeInformationW"), 2);

    // Where the volume cannot be told, the owner decides: Everyone's log is refused.
    m().Fail("GetVolumePathNameW", ERROR_FILENAME_EXCED_RANGE);
    Log(W("four"));
    EXPECT_EQ(LogText(), "one\ntwo\nthree\n");
}

// The process's user is read from its token once per load of the library; a planted log of
// another user is still refused after it.
TEST_F(PlantedLog, ProcessUserIsReadOncePerLoad)
{
    m().processUser = PROCESS_USER;
    Log(W("one"));
    Log(W("two"));
    Log(W("three"));
    EXPECT_EQ(m().Calls("OpenProcessToken"), 1);
    m().SetOwner(LogPath(), OTHER_USER);
    Log(W("four"));
    EXPECT_EQ(LogText(), "one\ntwo\nthree\n");
    ForgetLogPath();
    m().SetOwner(LogPath(), PROCESS_USER);
    Log(W("five"));
    EXPECT_EQ(m().Calls("OpenProcessToken"), 2);
    EXPECT_EQ(LogText(), "one\ntwo\nthree\nfive\n");
}

TEST_F(PlantedLog, LogMadeByAnotherProcessBetweenOpenAndCreateIsOpenedNextRound)
{
    m().WriteFile(LogPath(), Bytes({'a', 0, 0x0D, 0x0A, 0}));
    // The first open finds nothing; by the time of the create the file is there.
    m().Fail("CreateFileW", ERROR_FILE_NOT_FOUND, 1);
    Log(W("b"));
    EXPECT_EQ(LogText(), "a\nb\n");
}

TEST_F(PlantedLog, PathWithTheDoubledBackslashOfTempIsOpenedAsItIs)
{
    m().environment[u"TEMP"] = u"C:\\Temp\\";
    Log(W("x"));
    ASSERT_FALSE(m().openedPaths.empty());
    EXPECT_EQ(host::U8(m().openedPaths.back()), "C:\\Temp\\\\drvmate.log");
    EXPECT_EQ(LogText(), "x\n");
}

TEST_F(PlantedLog, OnWindowsXPAPlainLogIsCheckedThroughGetFileInformationByHandle)
{
    m().RemoveExport(u"kernel32.dll", "GetFileInformationByHandleEx");
    Log(W("made"));
    Log(W("appended"));
    EXPECT_EQ(LogText(), "made\nappended\n");
    EXPECT_EQ(m().Calls("GetFileInformationByHandle"), 2);
    EXPECT_EQ(m().Calls("GetFileInformationByHandleEx"), 0);
}

// Every call on the road can fail: the message is dropped, nothing stays open, and the next
// message gets through.
class FailingLogCall : public PlantedLog, public ::testing::WithParamInterface<const char*> {};

TEST_P(FailingLogCall, DropsOnlyThatMessage)
{
    m().processUser = PROCESS_USER;  // an existing log of the process's user takes every call
    m().WriteFile(LogPath(), "");
    m().SetOwner(LogPath(), PROCESS_USER);
    m().Fail(GetParam(), ERROR_ACCESS_DENIED, 1);

    Log(W("lost"));
    Log(W("kept"));

    EXPECT_EQ(LogText(), "kept\n");
}

INSTANTIATE_TEST_SUITE_P(OnTheRoad, FailingLogCall,
                         ::testing::Values("CreateFileW", "GetFileInformationByHandleEx", "GetKernelObjectSecurity",
                                           "GetSecurityDescriptorOwner", "OpenProcessToken", "GetTokenInformation",
                                           "_open_osfhandle", "_wfdopen"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

// Another reader holds the log open while lines are written, as support staff's viewer does.
// Windows lets the log's appending open in only when the reader shares writing; a reader that
// shares only reading refuses it, and the lines of that time are lost.
struct Viewer {
    const char* name;
    DWORD share;
    const char* kept;
};

class LogWithAViewer : public PlantedLog, public ::testing::WithParamInterface<Viewer> {};

TEST_P(LogWithAViewer, KeepsTheLinesThatWindowsLetsIn)
{
    m().processUser = PROCESS_USER;
    Log(W("before"));
    HANDLE viewer = CreateFileW(LogPath().c_str(), GENERIC_READ, GetParam().share, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(viewer, INVALID_HANDLE_VALUE);
    Log(W("while viewed"));
    Log(W("still viewed"));
    EXPECT_TRUE(CloseHandle(viewer));
    Log(W("after"));
    EXPECT_EQ(LogText(), GetParam().kept);
}

INSTANTIATE_TEST_SUITE_P(Sharing, LogWithAViewer,
                         ::testing::Values(Viewer{"ReadingAndWriting", FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                  "before\nwhile viewed\nstill viewed\nafter\n"},
                                           Viewer{"ReadingOnly", FILE_SHARE_READ, "before\nafter\n"}),
                         [](const ::testing::TestParamInfo<Viewer>& info) { return std::string(info.param.name); });
