#include "cleaner_fixture.h"

namespace {

std::string Key(const std::string& name) { return std::string("SYSTEM\\CurrentControlSet\\Services\\") + name; }

}  // namespace

class Svcsweep : public CleanerTest {};

TEST_F(Svcsweep, DeletesTheDefaultServiceAndFindsItsKeyGoneWithIt)
{
    host::CurrentMachine().services.Add("AndroidUSB");
    CreateLog();
    Run();
    ExpectLogged(Join({"Prepare delete the service: androidusb\n", "Success to delete service androidusb\n"},
                      MissingKeySteps("androidusb")));
    EXPECT_FALSE(host::CurrentMachine().services.Has("androidusb"));
    EXPECT_FALSE(host::CurrentMachine().registry.HasKey(Key("androidusb")));
    EXPECT_EQ(Err(), "");
    ExpectNoHandlesLeft();
}

TEST_F(Svcsweep, OnlyTheFirstArgumentCountsAndTheUsageLineShowsTheInvocationName)
{
    host::CurrentMachine().services.Add("androidusb");
    host::CurrentMachine().services.Add("first");
    host::CurrentMachine().services.Add("second");
    CreateLog();
    Run({"first", "second"}, "sweep");
    EXPECT_EQ(Out().substr(0, Banner("sweep").size()), Banner("sweep"));
    EXPECT_FALSE(host::CurrentMachine().services.Has("first"));
    EXPECT_TRUE(host::CurrentMachine().services.Has("second"));
    EXPECT_TRUE(host::CurrentMachine().services.Has("androidusb"));
    EXPECT_TRUE(host::CurrentMachine().registry.HasKey(Key("second")));
}

TEST_F(Svcsweep, WithoutTheLogFileTheConsoleShowsOnlyTheBannerAndNothingIsCreated)
{
    host::CurrentMachine().services.Add("androidusb");
    Run();
    EXPECT_EQ(Out(), Banner());
    EXPECT_EQ(Err(), "");
    EXPECT_TRUE(m().List(u"C:\\Work").empty());
    EXPECT_EQ(m().Calls("fopen"), 0);
    // The steps ran all the same.
    EXPECT_FALSE(host::CurrentMachine().services.Has("androidusb"));
}

TEST_F(Svcsweep, WithoutNameOrVersionRecordTheUsageAndVersionStillPrint)
{
    CreateLog();
    m().Fail("GetVersionExA", ERROR_INVALID_PARAMETER);
    char* none[] = {nullptr};
    EXPECT_EQ(RunSvcsweep(0, none), 0);
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
    host::ServiceEntry& service = host::CurrentMachine().services.Add("busy");
    service.markedForDelete = true;
    service.openHandles = 1;
    CreateLog();
    Run({"busy"});
    ExpectLogged({"Prepare delete the service: busy\n", "The busy Service could not be deleted: 1072\n",
                  "Prepare clean the register for the service: busy\n",
                  "RegDeleteKey success to delete service-key: " + Key("busy") + "\n"});
    EXPECT_EQ(host::CurrentMachine().services.Find("busy")->openHandles, 1);
    EXPECT_FALSE(host::CurrentMachine().registry.HasKey(Key("busy")));
    ExpectNoHandlesLeft();
}

TEST_F(Svcsweep, LeftoverKeyWithSubkeysGoesInTheRecursiveStep)
{
    host::CurrentMachine().registry.SetValue(Key("androidusb\\Enum"), "Count", "1");
    host::CurrentMachine().registry.AddKey(Key("androidusb\\Security"));
    host::CurrentMachine().registry.AddKey(Key("usbhub"));
    CreateLog();
    Run();
    ExpectLogged({"Prepare delete the service: androidusb\n", "The androidusb Service could not be opened: 1060\n",
                  "Prepare clean the register for the service: androidusb\n",
                  "RegDeleteKey could not delete the service-key : " + Key("androidusb") + " error = 5\n",
                  "SHDeleteKey success to delete service-key: " + Key("androidusb") + "\n"});
    EXPECT_FALSE(host::CurrentMachine().registry.HasKey(Key("androidusb")));
    EXPECT_EQ(host::CurrentMachine().registry.Subkeys(Key("")), std::vector<std::string>{"usbhub"});
    ExpectNoHandlesLeft();
}

TEST_F(Svcsweep, WithoutAdministratorRightsEveryStepFailsAndEverythingStays)
{
    host::CurrentMachine().services.Add("androidusb");
    host::CurrentMachine().registry.AddKey(Key("androidusb\\Enum"));
    host::CurrentMachine().account.administrator = false;
    CreateLog();
    Run();
    // The manager's line has no newline of its own: the log adds one.
    ExpectLogged({"Prepare delete the service: androidusb\n", "The Service Control Manager could not be opened: 5\n",
                  "Prepare clean the register for the service: androidusb\n",
                  "RegDeleteKey could not delete the service-key : " + Key("androidusb") + " error = 5\n",
                  "SHDeleteKey could not delete the service-key : " + Key("androidusb") + " error = 5\n"});
    EXPECT_TRUE(host::CurrentMachine().services.Has("androidusb"));
    EXPECT_TRUE(host::CurrentMachine().registry.HasKey(Key("androidusb\\Enum")));
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
    host::CurrentMachine().services.Add("androidusb");
    host::CurrentMachine().registry.AddKey(Key("androidusb\\Enum"));
    host::CurrentMachine().registry.AddKey(Key(TooLong.substr(0, 225)));
    CreateLog();
    Run({c.name});
    EXPECT_EQ(Err(), c.reason);
    ExpectLogged({c.reason});
    for (const char* api :
         {"OpenSCManagerA", "OpenServiceA", "DeleteService", "RegOpenKeyA", "RegDeleteKeyA", "SHDeleteKeyA"})
        EXPECT_EQ(m().Calls(api), 0) << api;
    EXPECT_TRUE(host::CurrentMachine().services.Has("androidusb"));
    EXPECT_EQ(host::CurrentMachine().registry.Subkeys(Key("")),
              (std::vector<std::string>{TooLong.substr(0, 225), "androidusb"}));
    EXPECT_TRUE(host::CurrentMachine().registry.HasKey(Key("androidusb\\Enum")));
    EXPECT_TRUE(host::CurrentMachine().registry.HasKey("SOFTWARE"));
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
    host::CurrentMachine().registry.AddKey(Key(name));
    CreateLog();
    Run({name});
    EXPECT_FALSE(host::CurrentMachine().registry.HasKey(Key(name)));
    EXPECT_NE(LogFile().find("RegDeleteKey success to delete service-key: " + Key(name) + "\r\n"), std::string::npos);
}

// Names that the ANSI code page (Windows-1252) cannot hold exactly. The narrow argument
// vector holds their best fit, which for the first two names another key.
struct InexactName {
    const char* label;
    std::u16string wide;
    std::string bestFit;  // what main() finds in argv
};

void PrintTo(const InexactName& name, std::ostream* out) { *out << name.label; }

class SvcsweepInexactName : public CleanerTest, public ::testing::WithParamInterface<InexactName> {};

TEST_P(SvcsweepInexactName, IsRefusedBeforeTheServiceItsBestFitNamesIsReached)
{
    const std::string reason = "The service name does not convert exactly to the ANSI code page: nothing is deleted\n";
    host::CurrentMachine().services.Add("victim");
    host::CurrentMachine().registry.AddKey(Key("victim\\Enum"));
    CreateLog();
    Run({host::U8(GetParam().wide)});
    EXPECT_EQ(narrowArguments.at(1), GetParam().bestFit);
    EXPECT_EQ(Err(), reason);
    ExpectLogged({reason});
    for (const char* api :
         {"OpenSCManagerA", "OpenServiceA", "DeleteService", "RegOpenKeyA", "RegDeleteKeyA", "SHDeleteKeyA"})
        EXPECT_EQ(m().Calls(api), 0) << api;
    EXPECT_TRUE(host::CurrentMachine().services.Has("victim"));
    EXPECT_TRUE(host::CurrentMachine().registry.HasKey(Key("victim\\Enum")));
    ExpectNoHandlesLeft();
}

INSTANTIATE_TEST_SUITE_P(
    Names, SvcsweepInexactName,
    ::testing::Values(InexactName{"FullwidthLetters", u"\uFF56\uFF49\uFF43\uFF54\uFF49\uFF4D", "victim"},
                      InexactName{"FullwidthBackslash", u"victim\uFF3CEnum", "victim\\Enum"},
                      InexactName{"HyphenOutsideTheCodePage", u"victim\u2010x", "victim?x"},
                      InexactName{"SurrogatePair", u"victim\U0001F600", "victim??"}),
    [](const ::testing::TestParamInfo<InexactName>& info) { return std::string(info.param.label); });

TEST_F(Svcsweep, NameExactInTheCodePageReachesManagerAndRegistryAsItsAnsiBytes)
{
    // e acute is 0xE9 and the per mille sign 0x89 in Windows-1252.
    const std::string ansi = "caf\xE9\x89";
    host::CurrentMachine().services.Add(ansi);
    host::CurrentMachine().registry.AddKey(Key(ansi + "\\Enum"));
    host::CurrentMachine().registry.AddKey(Key("cafe"));
    CreateLog();
    Run({host::U8(u"caf\u00E9\u2030")});
    ExpectLogged({"Prepare delete the service: " + ansi + "\n", "Success to delete service " + ansi + "\n",
                  "Prepare clean the register for the service: " + ansi + "\n",
                  " failed to open the service-key: " + Key(ansi) + ", error = 2\n",
                  "RegDeleteKey could not delete the service-key : " + Key(ansi) + " error = 2\n",
                  "SHDeleteKey could not delete the service-key : " + Key(ansi) + " error = 2\n"});
    EXPECT_FALSE(host::CurrentMachine().services.Has(ansi));
    EXPECT_EQ(host::CurrentMachine().registry.Subkeys(Key("")), std::vector<std::string>{"cafe"});
    EXPECT_EQ(Err(), "");
    ExpectNoHandlesLeft();
}

TEST_F(Svcsweep, TheNameIsTheFirstArgumentAsTheWideCommandLineQuotesIt)
{
    host::CurrentMachine().services.Add("usb hub");
    host::CurrentMachine().services.Add("usb");
    CreateLog();
    RunCommandLine(u"\"C:\\Program Files\\Svcsweep.exe\" \"usb hub\" usb");
    EXPECT_FALSE(host::CurrentMachine().services.Has("usb hub"));
    EXPECT_TRUE(host::CurrentMachine().services.Has("usb"));
    EXPECT_EQ(Out().substr(0, Banner("C:\\Program Files\\Svcsweep.exe").size()),
              Banner("C:\\Program Files\\Svcsweep.exe"));
    ExpectNoHandlesLeft();
}

// A failed call on the way to the name: the default name must not stand in for it.
struct FailedStep {
    const char* api;
    DWORD error;
    std::vector<std::string> arguments;
    std::string reason;
};

void PrintTo(const FailedStep& step, std::ostream* out) { *out << step.api; }

class SvcsweepFailedStep : public CleanerTest, public ::testing::WithParamInterface<FailedStep> {};

TEST_P(SvcsweepFailedStep, RefusesTheNameAndDeletesNothing)
{
    host::CurrentMachine().services.Add("androidusb");
    CreateLog();
    m().Fail(GetParam().api, GetParam().error);
    Run(GetParam().arguments);
    EXPECT_EQ(Err(), GetParam().reason);
    ExpectLogged({GetParam().reason});
    EXPECT_TRUE(host::CurrentMachine().services.Has("androidusb"));
    EXPECT_TRUE(host::CurrentMachine().registry.HasKey(Key("androidusb")));
    EXPECT_EQ(m().Calls("OpenSCManagerA"), 0);
    ExpectNoHandlesLeft();
}

INSTANTIATE_TEST_SUITE_P(
    Calls, SvcsweepFailedStep,
    ::testing::Values(
        FailedStep{"CommandLineToArgvW",
                   ERROR_NOT_ENOUGH_MEMORY,
                   {},
                   "The command line could not be read, error = 8: nothing is deleted\n"},
        FailedStep{"WideCharToMultiByte",
                   ERROR_INVALID_PARAMETER,
                   {"androidusb"},
                   "The service name could not be converted to the ANSI code page, error = 87: nothing is deleted\n"},
        FailedStep{"MultiByteToWideChar",
                   ERROR_NOT_ENOUGH_MEMORY,
                   {"androidusb"},
                   "The service name could not be converted to the ANSI code page, error = 8: nothing is deleted\n"}),
    [](const ::testing::TestParamInfo<FailedStep>& info) { return std::string(info.param.api); });

// The layer's command line and ANSI code page, as Microsoft documents them.
class CommandLineAndCodePage : public MachineTest {
protected:
    std::vector<std::u16string> Split(const std::u16string& line)
    {
        int count = -1;
        LPWSTR* list = CommandLineToArgvW(line.c_str(), &count);
        std::vector<std::u16string> arguments;
        if (!list) return arguments;
        for (int i = 0; i < count; ++i) arguments.push_back(list[i]);
        EXPECT_EQ(LocalFree(list), nullptr);
        return arguments;
    }
    static std::string Convert(const std::u16string& text, DWORD flags, BOOL* usedDefault)
    {
        char bytes[64] = {};
        int written = WideCharToMultiByte(CP_ACP, flags, text.c_str(), -1, bytes, sizeof bytes, nullptr, usedDefault);
        return written > 0 ? std::string(bytes, written - 1) : "(failed)";
    }
};

TEST_F(CommandLineAndCodePage, CommandLineToArgvWSplitsAsDocumented)
{
    using Args = std::vector<std::u16string>;
    EXPECT_EQ(Split(u"\"C:\\Program Files\\x.exe\" a\tb  "), (Args{u"C:\\Program Files\\x.exe", u"a", u"b"}));
    EXPECT_EQ(Split(u"x.exe \"a b\" \"\""), (Args{u"x.exe", u"a b", u""}));
    // 2n+1 backslashes and a quote: n backslashes and a literal quote; 2n and a quote: n and
    // a toggle of the quoting; backslashes without a quote stay as they are.
    EXPECT_EQ(Split(u"x.exe a\\\\\\\"b"), (Args{u"x.exe", u"a\\\"b"}));
    EXPECT_EQ(Split(u"x.exe a\\\\\\\\\"b c\""), (Args{u"x.exe", u"a\\\\b c"}));
    EXPECT_EQ(Split(u"x.exe a\\b c\\\\"), (Args{u"x.exe", u"a\\b", u"c\\\\"}));
    // A line that starts with a blank has an empty first argument.
    EXPECT_EQ(Split(u"  x.exe a"), (Args{u"", u"x.exe", u"a"}));
    // An empty line gives the path of the executable.
    EXPECT_EQ(Split(u""), (Args{m().moduleFileName}));
    EXPECT_EQ(m().OpenHandles("local"), 0);

    int count = 0;
    EXPECT_EQ(CommandLineToArgvW(u"x.exe", nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    m().Fail("CommandLineToArgvW", ERROR_NOT_ENOUGH_MEMORY, 1);
    EXPECT_EQ(CommandLineToArgvW(u"x.exe", &count), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(LocalFree(nullptr), nullptr);

    // The process's own line: the module file name in quotes until a test sets another.
    EXPECT_EQ(std::u16string(GetCommandLineW()), u"\"" + m().moduleFileName + u"\"");
}

TEST_F(CommandLineAndCodePage, WithoutNoBestFitFullwidthLettersBecomeAsciiUnnoticed)
{
    const std::u16string fullwidth = u"\uFF56\uFF49\uFF43\uFF54\uFF49\uFF4D";
    BOOL usedDefault = TRUE;
    EXPECT_EQ(Convert(fullwidth, 0, &usedDefault), "victim");
    EXPECT_FALSE(usedDefault);
    EXPECT_EQ(Convert(fullwidth, WC_NO_BEST_FIT_CHARS, &usedDefault), "??????");
    EXPECT_TRUE(usedDefault);
    // Characters of the code page keep their own bytes either way; each unit of a surrogate
    // pair becomes a default character.
    EXPECT_EQ(Convert(u"\u00E9\u20AC\u0081\u2030", WC_NO_BEST_FIT_CHARS, &usedDefault), "\xE9\x80\x81\x89");
    EXPECT_FALSE(usedDefault);
    EXPECT_EQ(Convert(u"a\U0001F600b", WC_NO_BEST_FIT_CHARS, &usedDefault), "a??b");
    EXPECT_TRUE(usedDefault);

    // The size with the terminator; a given length converts no terminator; a short buffer
    // fails; a default character of the caller's.
    char bytes[8];
    const char hash = '#';
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, fullwidth.c_str(), -1, nullptr, 0, nullptr, nullptr),
              7);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, fullwidth.c_str(), 2, bytes, sizeof bytes, &hash,
                                  &usedDefault),
              2);
    EXPECT_EQ(std::string(bytes, 2), "##");
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, fullwidth.c_str(), -1, bytes, 6, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, fullwidth.c_str(), 0, bytes, 6, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    // And back: every byte is one character.
    WCHAR wide[8];
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, "\xE9\x80\x81", -1, wide, 8), 4);
    EXPECT_EQ(std::u16string(wide), u"\u00E9\u20AC\u0081");
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, wide, 3), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

// Each name on each system code page: the ANSI bytes it reaches the manager and the registry
// as, or its refusal. Windows-1252 has best fit; UTF-8 has none and holds every name; Shift-JIS
// (932) holds Japanese and full-width forms but not the Latin letters, and its best fit turns
// the yen sign into the byte of the backslash.
struct NameOnPages {
    const char* label;
    std::u16string wide;
    const char* on1252;  // null: refused
    const char* on932;   // null: refused; on UTF-8 every name is its UTF-8 bytes
};

void PrintTo(const NameOnPages& name, std::ostream* out) { *out << name.label; }

const UINT SYSTEM_CODE_PAGES[] = {host::CODE_PAGE_WINDOWS_1252, host::CODE_PAGE_UTF8, host::CODE_PAGE_SHIFT_JIS};

const NameOnPages NAMES_ON_PAGES[] = {
    {"Ascii", u"tesmarusb", "tesmarusb", "tesmarusb"},
    {"AccentAndPerMille", u"caf\u00E9\u2030", "caf\xE9\x89", nullptr},
    {"FullwidthLetters", u"\uFF56\uFF49\uFF43\uFF54\uFF49\uFF4D", nullptr,
     "\x82\x96\x82\x89\x82\x83\x82\x94\x82\x89\x82\x8D"},
    {"FullwidthBackslash", u"victim\uFF3CEnum", nullptr,
     "victim\x81\x5F"
     "Enum"},
    {"YenSign", u"victim\u00A5Enum",
     "victim\xA5"
     "Enum",
     nullptr},
    {"Japanese", u"\u65E5\u672C\u8A9E", nullptr, "\x93\xFA\x96\x7B\x8C\xEA"},
    // The trail byte of this kanji is the backslash's: a character, not a path separator.
    {"KanjiWithBackslashTrailByte", u"\u8868", nullptr, "\x95\x5C"},
    {"SurrogatePair", u"victim\U0001F600", nullptr, nullptr},
};

class SvcsweepOnCodePage : public CleanerTest, public ::testing::WithParamInterface<std::tuple<NameOnPages, UINT>> {};

TEST_P(SvcsweepOnCodePage, ExactNamesAreDeletedAndInexactOnesRefused)
{
    const NameOnPages& name = std::get<0>(GetParam());
    UINT page = std::get<1>(GetParam());
    m().ansiCodePage = page;
    const char* expected = page == host::CODE_PAGE_UTF8        ? nullptr
                           : page == host::CODE_PAGE_SHIFT_JIS ? name.on932
                                                               : name.on1252;
    std::string ansi = page == host::CODE_PAGE_UTF8 ? host::U8(name.wide) : expected ? expected : "";
    bool accepted = page == host::CODE_PAGE_UTF8 || expected;
    host::CurrentMachine().services.Add("victim");
    host::CurrentMachine().registry.AddKey(Key("victim\\Enum"));
    if (accepted) {
        host::CurrentMachine().services.Add(ansi);
        host::CurrentMachine().registry.AddKey(Key(ansi));
    }
    CreateLog();
    Run({host::U8(name.wide)});
    if (accepted) {
        EXPECT_EQ(Err(), "");
        EXPECT_FALSE(host::CurrentMachine().services.Has(ansi));
        EXPECT_FALSE(host::CurrentMachine().registry.HasKey(Key(ansi)));
    } else {
        const std::string reason =
            "The service name does not convert exactly to the ANSI code page: nothing is deleted\n";
        EXPECT_EQ(Err(), reason);
        EXPECT_EQ(m().Calls("OpenSCManagerA"), 0);
    }
    EXPECT_TRUE(host::CurrentMachine().services.Has("victim"));
    EXPECT_TRUE(host::CurrentMachine().registry.HasKey(Key("victim\\Enum")));
    ExpectNoHandlesLeft();
}

INSTANTIATE_TEST_SUITE_P(Names, SvcsweepOnCodePage,
                         ::testing::Combine(::testing::ValuesIn(NAMES_ON_PAGES),
                                            ::testing::ValuesIn(SYSTEM_CODE_PAGES)),
                         [](const ::testing::TestParamInfo<std::tuple<NameOnPages, UINT>>& info) {
                             return std::string(std::get<0>(info.param).label) + "On" +
                                    std::to_string(std::get<1>(info.param));
                         });

// The flags each page takes, as Microsoft documents them: UTF-8 takes none but
// WC_ERR_INVALID_CHARS and no default character, where 1252 and 932 take best-fit flags.
TEST_F(CommandLineAndCodePage, EachPageTakesItsOwnFlags)
{
    const std::u16string name = u"caf\u00E9";
    char bytes[16];
    BOOL usedDefault = FALSE;
    for (UINT page : SYSTEM_CODE_PAGES) {
        m().ansiCodePage = page;
        bool utf8 = page == host::CODE_PAGE_UTF8;
        int written =
            WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.c_str(), -1, bytes, sizeof bytes, nullptr, nullptr);
        EXPECT_EQ(written == 0, utf8) << page;
        if (utf8) EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
        written = WideCharToMultiByte(CP_ACP, 0, name.c_str(), -1, bytes, sizeof bytes, nullptr, &usedDefault);
        EXPECT_EQ(written == 0, utf8) << page;
        if (utf8) EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(
            WideCharToMultiByte(CP_ACP, WC_ERR_INVALID_CHARS, u"a\xD800", -1, bytes, sizeof bytes, nullptr, nullptr),
            0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(utf8 ? ERROR_NO_UNICODE_TRANSLATION : ERROR_INVALID_FLAGS));
        EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, "a", -1, nullptr, 0), utf8 ? 0 : 2);
    }
    // UTF-8's way back: an invalid byte is U+FFFD, or a failure when asked.
    WCHAR wide[8];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a\xFF", 2, wide, 8), 2);
    EXPECT_EQ(wide[1], 0xFFFD);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xFF", 2, wide, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}
