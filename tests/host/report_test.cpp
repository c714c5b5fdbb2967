// drvrun report over a machine that holds every kind of entry: what it says, what it refuses,
// and that it only reads.
#include "device_fixture.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "report.h"

namespace {

const std::u16string Folder = u"C:\\Program Files\\Tesmar\\drivers\\";
const std::string DriverKey = "{f72fe0d4-cbcb-407d-8814-9ed673d0dd6b}\\0000";

std::string Utf16(const std::u16string& text)
{
    std::string bytes;
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes + std::string(2, '\0');
}

std::string Drained(FILE* stream)
{
    std::string text = ReadBack(stream);
    std::fclose(stream);
    return text;
}

// The calls that read the machine: the report may make these and no others.
const std::set<std::string> ReadCalls = {
    "GetVersionExA", "GetModuleHandleW", "GetProcAddress", "IsWow64Process", "GetCurrentProcess", "GetSystemDirectoryW",
    "GetSystemWow64DirectoryW", "GetWindowsDirectoryW", "GetModuleFileNameW", "GetEnvironmentVariableW",
    "FindFirstFileW", "FindNextFileW", "FindClose", "SetupDiGetINFClassW", "SetupDiGetClassDevsExW",
    "SetupDiGetClassDevsW", "SetupDiEnumDeviceInfo", "SetupDiDestroyDeviceInfoList", "CM_Get_Device_ID_ExW",
    "SetupDiGetDeviceRegistryPropertyW", "CM_Get_DevNode_Status", "SetupDiOpenDevRegKey", "RegQueryValueExW",
    "RegCloseKey", "_wfsopen", "CLSIDFromString", "SetupGetInfInformationW", "SetupQueryInfOriginalFileInformationW",
    "GetFileVersionInfoSizeW", "GetFileVersionInfoW", "VerQueryValueW",
    // The system folder's setupapi.dll and version.dll, mapped to bind their calls.
    "LoadLibraryExW", "LoadLibraryW", "FreeLibrary",
    // The thread's own view of the system folder, for a 32-bit process on 64-bit Windows.
    "Wow64DisableWow64FsRedirection", "Wow64RevertWow64FsRedirection"};

}  // namespace

class Report : public DeviceTest {
protected:
    // 64-bit Windows with the 32-bit drvrun.exe next to the package; a present device on the
    // package's store INF, a present one without a driver, two remembered ones (one marked
    // for reinstall), one of another class; three store INFs, two of the class; the package's
    // binary in the native drivers folder only; and a log of one install.
    void SetUp() override
    {
        DeviceTest::SetUp();
        m().moduleFileName = Folder + u"drvrun.exe";
        m().environment[u"TEMP"] = u"C:\\Temp";
        std::string inf =
            InfOfClass(PackageClassText) +
            "[SourceDisksFiles]\r\ntesmar.sys=1\r\nhelper.SYS = 1\r\n[Version]\r\nDriverVer=05/17/2024,2.1.0.7\r\n";
        m().WriteFile(Folder + u"tesmar.inf", inf);
        m().WriteFile(Folder + u"tesmar.sys", "driver");
        m().WriteFile(u"C:\\Windows\\inf\\oem3.inf",
                      InfOfClass(PackageClassText) + "[Version]\r\nDriverVer = 01/02/2023, 1.0.0.1 ; the first\r\n");
        devices().Published(u"oem3.inf", u"tesmar.inf", u"tesmar.cat");
        m().WriteFile(u"C:\\Windows\\inf\\oem4.inf",
                      "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=TesmarUsb\r\nClassGUID=" + PackageClassText +
                          "\r\nProvider=%Maker%\r\n[Strings]\r\nMaker=\"Tesmar GmbH\"\r\n");
        m().WriteFile(u"C:\\Windows\\inf\\oem5.inf", InfOfClass("{4d36e978-e325-11ce-bfc1-08002be10318}", "Ports"));
        m().WriteFile(u"C:\\Windows\\system32\\drivers\\tesmar.sys", "old driver");  // before WOW64 redirects it
        m().SetFileVersion(u"C:\\Windows\\system32\\drivers\\tesmar.sys", 2, 1, 0, 7);
        m().MakeFolder(m().Wow64Directory() + u"\\drivers");
        m().windows64 = true;
        devices()
            .Add(PackageClass)
            .InstanceId(u"USB\\VID_1D6B&PID_7E57\\1")
            .HardwareIds({u"USB\\VID_1D6B&PID_7E57", u"USB\\Class_FF"})
            .Property(SPDRP_DRIVER, REG_SZ, Utf16(host::U16(DriverKey)));
        m().registry.SetValue("SYSTEM\\CurrentControlSet\\Control\\Class\\" + DriverKey, "InfPath", "oem3.inf");
        devices().Add(PackageClass).InstanceId(u"USB\\VID_1D6B&PID_7E57\\2");
        devices()
            .Add(PackageClass)
            .InstanceId(u"USB\\VID_1D6B&PID_7E57\\3")
            .Present(false)
            .ConfigFlags(CONFIGFLAG_REINSTALL);
        devices().Add(PackageClass).InstanceId(u"USB\\VID_1D6B&PID_7E57\\4").Present(false);
        devices().Add(OtherClass).InstanceId(u"ACPI\\PNP0501\\1").Present(false);
        m().WriteFile(
            u"C:\\Temp\\drvmate.log",
            DrvmateLogBytes("IsWow64Process: 7B8A1230\n_Wow64DisableWow64FsRedirection: 7B8A2340 1\n"
                            "IPROPNAME_CUSTOMACTIONDATA data {F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}  "
                            "\"C:\\Program Files\\Tesmar\\drivers\\\"\nInstall ...\nremove error: 0xe0000235\n"
                            "Install result: 0\n_Wow64RevertWow64FsRedirection: 7B8A2450 1\n"));
    }

    struct Outcome {
        int code;
        std::string out, err;
    };
    Outcome Run(std::vector<std::u16string> args)
    {
        std::vector<WCHAR*> argv;
        for (std::u16string& arg : args) argv.push_back(&arg[0]);
        FILE* out = std::tmpfile();
        FILE* err = std::tmpfile();
        Outcome outcome;
        outcome.code = DrvrunReport(static_cast<int>(argv.size()), argv.data(), out, err);
        outcome.out = Drained(out);
        outcome.err = Drained(err);
        return outcome;
    }
};

TEST_F(Report, SaysWhatTheMachineHoldsForTheFamilyAndOnlyReads)
{
    std::string logBefore = m().ReadFile(u"C:\\Temp\\drvmate.log");
    for (const char* format : {"text", "json"}) {
        SCOPED_TRACE(format);
        m().journal = host::Journal();
        Outcome report =
            Run(std::string(format) == "json" ? std::vector<std::u16string>{u"--json"} : std::vector<std::u16string>{});
        EXPECT_EQ(report.code, REPORT_WRITTEN) << report.err;
        EXPECT_EQ(report.err, "");
        const std::vector<std::string> text = {
            "version: 10.0 build 19045", "process: 32-bit, under WOW64",
            "WOW64 drivers folder: C:\\Windows\\SysWOW64\\drivers\\",
            "class: {f72fe0d4-cbcb-407d-8814-9ed673d0dd6b} (from the INF)",
            "USB\\VID_1D6B&PID_7E57\\1\n  hardware IDs: USB\\VID_1D6B&PID_7E57, USB\\Class_FF\n  status 0x0000000a, "
            "problem 0\n  INF: oem3.inf",
            "USB\\VID_1D6B&PID_7E57\\2\n  hardware IDs: (none)\n  status 0x0000000a, problem 0\n  INF: (no driver key",
            "USB\\VID_1D6B&PID_7E57\\3\n  hardware IDs: (none)\n  not present (CM_Get_DevNode_Status: 0x0d)",
            "marked for reinstall: yes", "marked for reinstall: no",
            "oem3.inf\n  original: tesmar.inf\n  provider: Tesmar\n  DriverVer: 01/02/2023, 1.0.0.1\n  used by: "
            "USB\\VID_1D6B&PID_7E57\\1",
            // Not published by the store: its own name.
            "oem4.inf\n  original: oem4.inf\n  provider: Tesmar GmbH\n  DriverVer: (no date), (no version)\n  used by: "
            "no device",
            "C:\\Windows\\system32\\drivers\\tesmar.sys: present, 10 bytes, 20", " UTC, version 2.1.0.7\n",
            "C:\\Windows\\system32\\drivers\\helper.SYS: missing (no such file)",
            "C:\\Windows\\SysWOW64\\drivers\\tesmar.sys: missing (no such file)",
            "== Last run in C:\\Temp\\drvmate.log ==\nRun 1, lines 1-7: install, with an installer session",
            "ERROR_IN_WOW64"};
        const std::vector<std::string> json = {
            "\"bits\": 64, \"processBits\": 32, \"wow64\": true",
            "\"instanceId\": \"USB\\\\VID_1D6B&PID_7E57\\\\1\", \"hardwareIds\": [\"USB\\\\VID_1D6B&PID_7E57\", "
            "\"USB\\\\Class_FF\"], \"present\": true",
            "\"inf\": \"oem3.inf\"",
            "\"markedForReinstall\": true",
            "{\"publishedName\": \"oem3.inf\", \"originalName\": \"tesmar.inf\", \"provider\": \"Tesmar\", \"date\": "
            "\"01/02/2023\", \"version\": "
            "\"1.0.0.1\", \"usedBy\": [\"USB\\\\VID_1D6B&PID_7E57\\\\1\"]}",
            ", \"version\": \"2.1.0.7\"}",
            "\"path\": \"C:\\\\Windows\\\\SysWOW64\\\\drivers\\\\tesmar.sys\", \"present\": false, \"error\": 2",
            "\"road\": \"install\", \"session\": true"};
        for (const std::string& expected : std::string(format) == "json" ? json : text)
            EXPECT_NE(report.out.find(expected), std::string::npos) << expected << "\n---\n" << report.out;
        EXPECT_EQ(report.out.find("oem5.inf"), std::string::npos);
        EXPECT_EQ(report.out.find("ACPI\\PNP0501"), std::string::npos);
        for (const std::string& call : m().journal.Names())
            EXPECT_TRUE(ReadCalls.count(call)) << call << " is not a call that only reads";
    }
    EXPECT_EQ(m().ReadFile(u"C:\\Temp\\drvmate.log"), logBefore);
    EXPECT_FALSE(m().RedirectionDisabled());
}

// What stops the report, with its message and exit code, and what it works around.
TEST_F(Report, RefusesWhatItCannotReportOnAndGoesOnPastWhatItCannotRead)
{
    struct Row {
        const char* what;
        void (*prepare)(host::Machine& m);
        std::vector<std::u16string> args;
        int code;
        const char* saying;  // on standard error when the report stops, else in the report
    } rows[] = {
        {"no INF next to drvrun",
         [](host::Machine& m) { m.Remove(Folder + u"tesmar.inf"); },
         {},
         REPORT_NO_PACKAGE,
         "no INF next to drvrun.exe"},
        {"an INF without a class",
         [](host::Machine& m) { m.WriteFile(Folder + u"tesmar.inf", "[Version]\r\n"); },
         {},
         REPORT_NO_PACKAGE,
         "is not a device INF"},
        {"a foreign INF",
         [](host::Machine& m) {
             m.WriteFile(Folder + u"tesmar.inf", InfOfClass("{4d36e978-e325-11ce-bfc1-08002be10318}"));
         },
         {},
         REPORT_FOREIGN_INF,
         "a foreign INF"},
        {"--class without an INF",
         [](host::Machine& m) { m.Remove(Folder + u"tesmar.inf"); },
         {u"--class", u"{F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}"},
         REPORT_WRITTEN,
         "(from --class)"},
        {"--class of a foreign INF",
         [](host::Machine& m) {
             m.WriteFile(Folder + u"tesmar.inf", InfOfClass("{4d36e978-e325-11ce-bfc1-08002be10318}"));
         },
         {u"--class", u"{4d36e978-e325-11ce-bfc1-08002be10318}"},
         REPORT_WRITTEN,
         "oem5.inf"},
        {"--class that is no GUID", [](host::Machine&) {}, {u"--class", u"tesmar"}, REPORT_USAGE, "is not a GUID"},
        {"an unknown argument", [](host::Machine&) {}, {u"--all"}, REPORT_USAGE, "usage: drvrun report"},
        {"devices that cannot be listed",
         [](host::Machine& m) { m.Fail("SetupDiGetClassDevsExW", ERROR_ACCESS_DENIED); },
         {},
         REPORT_WRITTEN,
         "(the present devices cannot be listed: error 0x00000005)"},
        {"a driver key that cannot be opened",
         [](host::Machine& m) { m.Fail("SetupDiOpenDevRegKey", ERROR_ACCESS_DENIED); },
         {},
         REPORT_WRITTEN,
         "INF: (its driver key cannot be opened: error 0x00000005)"},
        {"a store INF whose original name cannot be read",
         [](host::Machine& m) { m.Fail("SetupQueryInfOriginalFileInformationW", ERROR_ACCESS_DENIED); },
         {},
         REPORT_WRITTEN,
         "oem3.inf\n  original: (not recorded)\n"},
        {"a log that is not a drvmate log",
         [](host::Machine& m) { m.WriteFile(u"C:\\Temp\\drvmate.log", "plain text\r\n"); },
         {},
         REPORT_WRITTEN,
         "(the file is not a drvmate log)"},
        {"a Windows whose setupapi.dll lacks a call",
         [](host::Machine& m) { m.RemoveExport(u"setupapi.dll", "SetupDiOpenDevRegKey"); },
         {},
         REPORT_NO_SETUP_API,
         "setupapi.dll of the system folder cannot be loaded, or lacks a call"},
        {"no log",
         [](host::Machine& m) { m.Remove(u"C:\\Temp\\drvmate.log"); },
         {},
         REPORT_WRITTEN,
         "(there is no drvmate.log"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        SetUp();
        row.prepare(m());
        Outcome report = Run(row.args);
        EXPECT_EQ(report.code, row.code) << report.err;
        const std::string& where = row.code == REPORT_WRITTEN ? report.out : report.err;
        EXPECT_NE(where.find(row.saying), std::string::npos) << report.out << report.err;
        if (row.code != REPORT_WRITTEN) {
            EXPECT_EQ(report.out, "");
        }
    }
}
