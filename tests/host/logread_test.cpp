// The log reader: its decoding of drvmate.log bytes, fed whole or in pieces, and what
// logread prints and returns.
#include "fixture.h"

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "decode.h"
#include "print.h"

namespace {

const char* const LoneLineFeed = "0x0A without the 0x0D that text mode puts before it";
const char* const OddCount = "odd number of bytes: the last code unit is cut";

// Collects what a decoder hands over, and the largest piece of text it handed at once.
class Recorder : public LogDecoderSink {
public:
    void Text(const char* utf8, size_t size) override
    {
        log.text.append(utf8, size);
        if (size > largestPiece) largestPiece = size;
    }
    void Problem(LogLayer layer, const char* where) override
    {
        log.problems.push_back(std::string(layer == LogLayer::Bytes ? "bytes " : "units ") + where);
    }
    DecodedLog log;
    size_t largestPiece = 0;
};

// The log fed in pieces that end at the given offsets.
DecodedLog FedInPieces(const std::string& bytes, const std::vector<size_t>& ends)
{
    Recorder recorder;
    LogDecoder decoder(recorder);
    size_t start = 0;
    for (size_t end : ends) {
        decoder.Feed(bytes.data() + start, end - start);
        start = end;
    }
    decoder.Feed(bytes.data() + start, bytes.size() - start);
    decoder.Finish();
    return recorder.log;
}

DecodedLog FedWhole(const std::string& bytes) { return FedInPieces(bytes, {}); }

struct Printed {
    int result;
    std::string out;
    std::string err;
};

// logread's printing of a log read from a file, or from a pipe when `throughPipe`.
Printed Print(const std::string& bytes, bool throughPipe = false)
{
    FILE* log;
    if (throughPipe) {
        int ends[2];
        EXPECT_EQ(pipe(ends), 0);
        EXPECT_LT(bytes.size(), 4096u) << "the pipe must take the whole log before it is read";
        EXPECT_EQ(write(ends[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(ends[1]);
        log = fdopen(ends[0], "rb");
    } else {
        log = std::tmpfile();
        std::fwrite(bytes.data(), 1, bytes.size(), log);
        std::rewind(log);
    }
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    Printed printed;
    printed.result = PrintInstallerLog(log, "x.log", out, err);
    printed.out = ReadBack(out);
    printed.err = ReadBack(err);
    std::fclose(log);
    std::fclose(out);
    std::fclose(err);
    return printed;
}

}  // namespace

TEST(LogReader, ValidLogGivesOneLinePerMessage)
{
    // "ab\n" and U+00E9 U+1F600 "\n", as text mode stored them.
    std::string bytes = Bytes({0x61, 0, 0x62, 0, 0x0D, 0x0A, 0, 0xE9, 0, 0x3D, 0xD8, 0x00, 0xDE, 0x0D, 0x0A, 0});
    DecodedLog log = DecodeInstallerLog(bytes);
    EXPECT_EQ(log.text, "ab\n\u00e9\U0001F600\n");
    EXPECT_TRUE(log.problems.empty());
}

TEST(LogReader, ReportsSayWhereTheBytesAreNotALog)
{
    // A 0x0A without its 0x0D, at byte 2.
    DecodedLog lone = DecodeInstallerLog(Bytes({0x61, 0, 0x0A, 0}));
    EXPECT_EQ(lone.text, "a\n");
    EXPECT_EQ(lone.problems, std::vector<std::string>{std::string("byte 2: ") + LoneLineFeed});

    // An odd byte count: reported at the last byte, whose code unit is dropped.
    DecodedLog odd = DecodeInstallerLog(Bytes({0x61, 0, 0x0D, 0x0A, 0, 0x62}));
    EXPECT_EQ(odd.text, "a\n");
    EXPECT_EQ(odd.problems, std::vector<std::string>{std::string("byte 5: ") + OddCount});

    // Unpaired surrogates become U+FFFD, zero code units are dropped, and a log that stops
    // inside a message says so at its end.
    DecodedLog units = DecodeInstallerLog(Bytes({0x00, 0xDC, 0, 0, 0x00, 0xD8, 0x61, 0, 0x00, 0xD8}));
    EXPECT_EQ(units.text,
              "\xEF\xBF\xBD\xEF\xBF\xBD"
              "a\xEF\xBF\xBD");
    EXPECT_EQ(units.problems,
              (std::vector<std::string>{
                  "byte 0: low surrogate without its high half", "byte 2: a zero code unit inside the log",
                  "byte 4: high surrogate without its low half", "byte 8: high surrogate without its low half",
                  "byte 10: the last message has no line end"}));
}

TEST(LogReader, ByteProblemsAreListedBeforeCodeUnitProblems)
{
    // A zero code unit at byte 0, a lone 0x0A at byte 4, an odd count at byte 6.
    DecodedLog log = DecodeInstallerLog(Bytes({0, 0, 0x61, 0, 0x0A, 0, 0x62}));
    EXPECT_EQ(log.problems,
              (std::vector<std::string>{std::string("byte 4: ") + LoneLineFeed, std::string("byte 6: ") + OddCount,
                                        "byte 0: a zero code unit inside the log"}));
}

TEST(LogReader, PiecesSplitAnywhereGiveTheWholeLogsResult)
{
    const std::vector<std::string> logs = {
        // 0x0D 0x0A of a line end, and the 0x0A byte of U+0A41 (41 0D 0A).
        Bytes({0x61, 0, 0x0D, 0x0A, 0, 0x41, 0x0D, 0x0A, 0x0D, 0x0A, 0}),
        // A surrogate pair, U+1F600, then a line end.
        Bytes({0x3D, 0xD8, 0x00, 0xDE, 0x0D, 0x0A, 0}),
        // 0x0D 0x0D 0x0A keeps the first 0x0D; a 0x0D at the very end is text.
        Bytes({0x0D, 0x0D, 0x0A, 0x0D}),
        // A lone 0x0A after a 0x0A whose 0x0D was removed, and a high surrogate at the end.
        Bytes({0x0D, 0x0A, 0x0A, 0x00, 0xD8, 0x41}),
    };
    for (const std::string& bytes : logs) {
        DecodedLog whole = FedWhole(bytes);
        for (size_t cut = 0; cut <= bytes.size(); ++cut) {
            DecodedLog pieces = FedInPieces(bytes, {cut});
            EXPECT_EQ(pieces.text, whole.text) << "cut at " << cut;
            EXPECT_EQ(pieces.problems, whole.problems) << "cut at " << cut;
        }
        std::vector<size_t> everyByte;
        for (size_t end = 0; end <= bytes.size(); ++end) everyByte.push_back(end);
        EXPECT_EQ(FedInPieces(bytes, everyByte).text, whole.text);
        EXPECT_EQ(FedInPieces(bytes, everyByte).problems, whole.problems);
    }

    // The two splits that matter, spelled out.
    DecodedLog lineEnd = FedInPieces(Bytes({0x61, 0, 0x0D, 0x0A, 0}), {3});  // 0x0D | 0x0A
    EXPECT_EQ(lineEnd.text, "a\n");
    EXPECT_TRUE(lineEnd.problems.empty());
    DecodedLog pair = FedInPieces(Bytes({0x3D, 0xD8, 0x00, 0xDE, 0x0D, 0x0A, 0}), {2});  // high | low
    EXPECT_EQ(pair.text, "\U0001F600\n");
    EXPECT_TRUE(pair.problems.empty());
}

TEST(LogReader, TextReachesTheSinkBeforeTheNextPieceInBoundedBlocks)
{
    Recorder recorder;
    LogDecoder decoder(recorder);
    std::string line = Bytes({0x61, 0, 0x0D, 0x0A, 0});
    decoder.Feed(line.data(), line.size());
    EXPECT_EQ(recorder.log.text, "a\n");

    // A megabyte of text in one piece comes out in blocks, not as one string.
    std::string many;
    for (int i = 0; i < (1 << 20) / 5; ++i) many += line;
    decoder.Feed(many.data(), many.size());
    decoder.Finish();
    EXPECT_EQ(recorder.log.text.size(), 2u + many.size() / 5 * 2);
    EXPECT_LE(recorder.largestPiece, 4096u);
}

TEST(LogReader, PrintsTextThenReportsAndExitsWithOneWhenNotValid)
{
    Printed valid = Print(Bytes({0x61, 0, 0x0D, 0x0A, 0}));
    EXPECT_EQ(valid.result, LOG_VALID);
    EXPECT_EQ(valid.out, "a\n");
    EXPECT_EQ(valid.err, "");

    // Both layers' problems, the byte layer's first, each line naming the file.
    std::string bytes = Bytes({0, 0, 0x61, 0, 0x0A, 0, 0x62});
    std::string reports = std::string("x.log: byte 4: ") + LoneLineFeed + "\n" + "x.log: byte 6: " + OddCount + "\n" +
                          "x.log: byte 0: a zero code unit inside the log\n";
    Printed file = Print(bytes);
    EXPECT_EQ(file.result, LOG_NOT_VALID);
    EXPECT_EQ(file.out, "a\n");
    EXPECT_EQ(file.err, reports);

    // A pipe cannot be read twice: the same reports, held until the end.
    Printed pipe = Print(bytes, true);
    EXPECT_EQ(pipe.result, LOG_NOT_VALID);
    EXPECT_EQ(pipe.out, "a\n");
    EXPECT_EQ(pipe.err, reports);
}

TEST(LogReader, LogLongerThanOneReadGivesTheWholeLogsResult)
{
    // Problems of both layers before, across and after the 64 KiB read boundaries.
    std::string bytes;
    const std::string line = Bytes({0x61, 0, 0x0D, 0x0A, 0});
    while (bytes.size() < 200000) {
        bytes += line;
        if (bytes.size() % 7 == 0) bytes += Bytes({0x0A, 0});      // lone 0x0A
        if (bytes.size() % 11 == 0) bytes += Bytes({0x00, 0xDC});  // lone low surrogate
    }
    bytes += Bytes({0x3D, 0xD8});
    bytes.insert(65535, Bytes({0x0D}));
    bytes.insert(131072, Bytes({0x0A}));
    bytes += "z";

    DecodedLog expected = DecodeInstallerLog(bytes);
    std::string reports;
    for (const std::string& problem : expected.problems) reports += "x.log: " + problem + "\n";
    ASSERT_GT(expected.problems.size(), 1000u);
    Printed printed = Print(bytes);
    EXPECT_EQ(printed.result, LOG_NOT_VALID);
    EXPECT_EQ(printed.out, expected.text);
    EXPECT_EQ(printed.err, reports);
}

// ---------------------------------------------------------------------------------------
// logread --explain over the logs that Drvmate's own runs write on the host machine: each
// road, with and without a session, on 32-bit and 64-bit Windows.

#include "device_fixture.h"
#include "exports.h"
#include "error_names.h"
#include "explain.h"

namespace {

const std::u16string PackageFolder = u"C:\\Program Files\\Tesmar\\drivers\\";
const std::u16string PackageHardwareId = u"USB\\VID_1D6B&PID_7E57";

struct Explained {
    int result;
    std::vector<LogRun> runs;
    std::string out, err;
};

class RunCollector : public RunSink {
public:
    void TakeRun(const LogRun& run) override { runs.push_back(run); }
    std::vector<LogRun> runs;
};

Explained Explain(const std::string& bytes)
{
    Explained explained;
    RunCollector collector;
    LogExplainer explainer(collector);
    LogDecoder decoder(explainer);
    decoder.Feed(bytes.data(), bytes.size());
    decoder.Finish();
    explainer.Finish();
    explained.runs = collector.runs;
    FILE* log = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), log);
    std::rewind(log);
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    explained.result = ExplainInstallerLog(log, "x.log", out, err);
    EXPECT_EQ(explained.result, explainer.ExitCode());
    explained.out = ReadBack(out);
    explained.err = ReadBack(err);
    std::fclose(log);
    std::fclose(out);
    std::fclose(err);
    return explained;
}

// One road: how the machine is set up, what runs, and what the explanation of its log says.
struct RoadRow {
    const char* name;
    bool windows64;
    void (*prepare)(host::Machine& m, host::Device& device);
    void (*act)(MSIHANDLE session);
    Road road;
    bool session;
    Bits windows;
    int result;
    size_t removed, notRemoved, updated, storeRemoved, binariesDeleted, binariesMissing;
    const char* errorName;  // a name on the run's error lines; "": none but missing binaries
    const char* saying;     // a text that the printed explanation holds
};

void Nothing(host::Machine&, host::Device&) {}
void NotRemovedThenNeedsReboot(host::Machine& m, host::Device& device)
{
    device.RemovalFails(ERROR_ACCESS_DENIED);
    m.devices.UpdateOf(PackageHardwareId).NeedsReboot();
}
void StagingDenied(host::Machine& m, host::Device&) { m.Fail("SetupCopyOEMInfW", ERROR_ACCESS_DENIED); }
void RemovalNeedsRebootRetryThenIgnore(host::Machine& m, host::Device& device)
{
    device.RemovalNeeds(DI_NEEDREBOOT);
    m.session.answers = {IDRETRY, IDIGNORE};
}
void RemovalNeedsRebootAbort(host::Machine& m, host::Device& device)
{
    device.RemovalNeeds(DI_NEEDREBOOT);
    m.session.answers = {IDABORT};
}
void RootCannotBeLocated(host::Machine& m, host::Device&) { m.Fail("CM_Locate_DevNode_ExW", CR_FAILURE); }
void NextToThePackage(host::Machine& m, host::Device&) { m.moduleFileName = PackageFolder + u"drvrun.exe"; }

void Install(MSIHANDLE session) { InstallDeviceDriver(session); }
void Uninstall(MSIHANDLE session) { UninstallDeviceDriver(session); }
void InstallWithoutSession(MSIHANDLE) { InstallDeviceDriver(0); }
void UninstallWithoutSession(MSIHANDLE) { UninstallDeviceDriver(0); }
void Upgrade(MSIHANDLE) { UpgradeDeviceDriver(0); }
void Wow64Export(MSIHANDLE) { _IsWow64System(); }
void RescanExport(MSIHANDLE) { _RescanDevices(); }

const Bits B32 = Bits::Bits32, B64 = Bits::Bits64;

const RoadRow ROADS[] = {
    {"InstallOn32BitWindows", false, Nothing, Install, Road::Install, true, B32, 0, 1, 0, 0, 1, 1, 0, "",
     "msiexec: 0: success"},
    {"InstallOn64BitWindowsIsRefused", true, Nothing, Install, Road::Install, true, B64, 0, 0, 1, 0, 1, 1, 1,
     "ERROR_IN_WOW64", "install the x64 package"},
    {"InstallNeedingAReboot", false, NotRemovedThenNeedsReboot, Install, Road::Install, true, B32, 1, 0, 1, 1, 1, 1, 0,
     "ERROR_ACCESS_DENIED", "3010 (ERROR_SUCCESS_REBOOT_REQUIRED)"},
    {"InstallThatFails", false, StagingDenied, Install, Road::Install, true, B32, 2, 1, 0, 0, 1, 1, 0,
     "ERROR_ACCESS_DENIED", "did not run elevated"},
    {"UninstallRetriedThenIgnored", false, RemovalNeedsRebootRetryThenIgnore, Uninstall, Road::Uninstall, true, B32, 1,
     1, 0, 0, 1, 1, 0, "", "chose Retry 1 time(s)"},
    {"UninstallAborted", false, RemovalNeedsRebootAbort, Uninstall, Road::Uninstall, true, B32, 2, 1, 0, 0, 0, 0, 0, "",
     "1641 (ERROR_SUCCESS_REBOOT_INITIATED)"},
    {"UninstallOn64BitWindowsIsRefused", true, Nothing, Uninstall, Road::Uninstall, true, B64, 0, 0, 1, 0, 1, 1, 1,
     "ERROR_IN_WOW64", "install the x64 package"},
    {"InstallWithoutSession", false, NextToThePackage, InstallWithoutSession, Road::Install, false, B32, 0, 1, 0, 0, 1,
     1, 0, "", "drvrun prints unchanged"},
    {"UninstallWithoutSession", false, NextToThePackage, UninstallWithoutSession, Road::Uninstall, false, B32, 0, 1, 0,
     0, 1, 1, 0, "", "returned 0"},
    {"Upgrade", false, NextToThePackage, Upgrade, Road::Upgrade, false, B32, 0, 1, 0, 0, 1, 1, 1, "",
     "UpgradeDeviceDriver returned 0"},
    {"Wow64Export", false, Nothing, Wow64Export, Road::IsWow64Export, false, Bits::Unknown, 0, 0, 0, 0, 0, 0, 0, "",
     "utility export _IsWow64System"},
    {"RescanExportThatFails", false, RootCannotBeLocated, RescanExport, Road::RescanExport, false, Bits::Unknown, 2, 0,
     0, 0, 0, 0, 0, "CR_FAILURE", "not re-enumerated"},
};

}  // namespace

class ExplainRoad : public DeviceTest, public ::testing::WithParamInterface<RoadRow> {
protected:
    // The package in the DriverFolder, one present device of its class, an earlier store
    // package of the class and its binary in the drivers folder.
    void SetUp() override
    {
        DeviceTest::SetUp();
        m().WriteFile(PackageFolder + u"tesmar.inf", InfOfClass(PackageClassText));
        m().WriteFile(PackageFolder + u"tesmar.sys", "driver");
        m().WriteFile(u"C:\\Windows\\inf\\oem3.inf", InfOfClass(PackageClassText));
        m().WriteFile(u"C:\\Windows\\system32\\drivers\\tesmar.sys", "old driver");  // before WOW64 redirects it
        m().windows64 = GetParam().windows64;
        if (m().windows64) m().MakeFolder(m().Wow64Directory() + u"\\drivers");
        device = &devices().Add(PackageClass).HardwareIds({PackageHardwareId});
    }
    host::Device* device = nullptr;
};

TEST_P(ExplainRoad, SaysWhatTheRunDidAndWhatItsResultMeans)
{
    const RoadRow& row = GetParam();
    row.prepare(m(), *device);
    row.act(m().session.Open());
    Explained explained = Explain(LogBytes());
    EXPECT_EQ(explained.result, LOG_VALID) << explained.out << explained.err;
    ASSERT_EQ(explained.runs.size(), 1u) << explained.out;
    const LogRun& run = explained.runs[0];
    EXPECT_EQ(run.road, row.road) << explained.out;
    EXPECT_EQ(run.session, row.session);
    EXPECT_EQ(run.windows, row.windows);
    EXPECT_FALSE(run.stopped) << run.stoppedWhy;
    EXPECT_FALSE(run.mixed) << run.mixedWhy;
    EXPECT_TRUE(run.hasResult);
    EXPECT_EQ(run.result, row.result);
    EXPECT_EQ(run.removed.count, row.removed) << explained.out;
    EXPECT_EQ(run.removalFailed.count, row.notRemoved) << explained.out;
    EXPECT_EQ(run.updated.count, row.updated) << explained.out;
    EXPECT_EQ(run.storeRemoved.count, row.storeRemoved) << explained.out;
    EXPECT_EQ(run.binariesDeleted.count, row.binariesDeleted) << explained.out;
    EXPECT_EQ(run.binariesMissing.count, row.binariesMissing) << explained.out;
    bool named = false;
    for (const ErrorLine& error : run.errors) {
        named = named || error.name == row.errorName;
        if (!*row.errorName) {
            EXPECT_EQ(error.name, "ERROR_FILE_NOT_FOUND") << error.text;
        }
    }
    EXPECT_TRUE(named || !*row.errorName) << explained.out;
    EXPECT_NE(explained.out.find(row.saying), std::string::npos) << explained.out;
}

INSTANTIATE_TEST_SUITE_P(LogReader, ExplainRoad, ::testing::ValuesIn(ROADS),
                         [](const ::testing::TestParamInfo<RoadRow>& info) { return std::string(info.param.name); });

// What cannot be explained as whole runs: each case's exit code and what it says.
TEST(LogReader, ExplainNamesWhatIsWrongWithALogAndExitsWithItsCode)
{
    auto Log = DrvmateLogBytes;
    const std::string frame =
        "IsWow64Process: 7B8A1230\nIPROPNAME_CUSTOMACTIONDATA data {F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}  "
        "\"C:\\Program Files\\Tesmar\\drivers\\\"\n";
    const std::string install = frame + "Install ...\nModule filename: C:\\Program Files\\Tesmar\\drivers\\\n";
    const std::string uninstall = frame + "Uninstall ...\nRemove Device ...\n";
    struct {
        const char* what;
        std::string bytes;
        int result;
        const char* saying;
    } rows[] = {
        {"a run that stops mid-way", Log(install + "infFile: tesmar.inf\n"), LOG_RUN_STOPPED,
         "STOPPED: the log ends before"},
        {"a log cut inside a line", Log(install + "infFile: tes"), LOG_RUN_STOPPED, "ends inside a line"},
        {"a run cut off by the next", Log(install + uninstall + "Uninstall result: 0\n"), LOG_RUN_STOPPED,
         "another run"},
        {"two runs at once", Log(install + "Uninstall result: 0\nInstall result: 0\n"), LOG_RUNS_MIXED,
         "MIXED: the result line of another road"},
        {"a text file", "just some text\r\nof another program\r\n", LOG_NOT_DRVMATE, "not a drvmate log"},
        {"an msiexec log", "\xFF\xFE" + Log("=== Verbose logging started\n"), LOG_NOT_DRVMATE, "byte-order mark"},
        {"an empty file", "", LOG_NOT_DRVMATE, "it is empty"},
        {"a complete run", Log(uninstall + "Uninstall result: 0\n"), LOG_VALID, "msiexec: 0"},
        {"a log whose first lines are gone", Log("remove device count: 1 error: 259\nInstall result: 1\n"), LOG_VALID,
         "its first lines are not in the log"},
    };
    for (const auto& row : rows) {
        Explained explained = Explain(row.bytes);
        EXPECT_EQ(explained.result, row.result) << row.what << "\n" << explained.out << explained.err;
        EXPECT_NE((explained.out + explained.err).find(row.saying), std::string::npos)
            << row.what << "\n"
            << explained.out << explained.err;
    }
}

// The names come from the SDK headers, across the three families of numbers.
TEST(LogReader, ErrorNamesComeFromTheSdkHeaders)
{
    EXPECT_STREQ(FindErrorName(ErrorFamily::Win32, 5)->name, "ERROR_ACCESS_DENIED");
    EXPECT_STREQ(FindErrorName(ErrorFamily::Win32, 0xE0000235u)->name, "ERROR_IN_WOW64");
    EXPECT_STREQ(FindErrorName(ErrorFamily::Win32, 0xE0000235u)->meaning, "in wow64");
    EXPECT_STREQ(FindErrorName(ErrorFamily::ConfigRet, 19)->name, "CR_FAILURE");
    EXPECT_STREQ(FindErrorName(ErrorFamily::HResult, 0x800401F3u)->name, "CO_E_CLASSSTRING");
    EXPECT_EQ(FindErrorName(ErrorFamily::Win32, 0xE0000FFFu), nullptr);
}
