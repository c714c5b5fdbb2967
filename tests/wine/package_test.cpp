// The whole life of the example installer package under Wine's msiexec and msi.dll, and the
// field runner's null-session install, upgrade and uninstall of a package placed next to it.
//
// The same cases run in three beds. On 64-bit Windows the custom actions delete the package's
// driver binaries from the system directory's "drivers" folder and from the WOW64 one; in a
// 32-bit process there (WOW64) they switch file-system redirection off around their sequence,
// so that the system directory's name reaches the native folder. The field runner calls the
// exports with a null session, which leaves redirection on: there the system directory's name
// reaches the WOW64 folder, and the native copy stays, as on Windows.
#include "check.h"

#include <setupapi.h>
#include <stdio.h>

#include <algorithm>
#include <vector>

#include "decode.h"

namespace {

const wchar_t DRIVER_NAME[] = L"tesmarsample.sys";
const DWORD UPGRADE_PAUSE_MS = 2000;
// How late the watch may see a line: its polling interval and a loaded machine's delays.
const DWORD WATCH_LATENESS_MS = 500;
const char NATIVE_COPY[] = "planted in the native drivers folder";
const char WOW64_COPY[] = "planted in the WOW64 drivers folder";

std::wstring WindowsFolder(const wchar_t* tail)
{
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows) + tail;
}

// The installer log as text; the log reader must find it valid.
std::string LogText(const std::wstring& path)
{
    DecodedLog log = DecodeInstallerLog(ReadBytes(path));
    CHECK(log.problems.empty());
    return log.text;
}

bool Holds(const std::string& text, const std::string& line)
{
    bool found = text.find(line + "\n") != std::string::npos;
    if (!found) printf("  the log lacks the line: %s\n", line.c_str());
    return found;
}

bool Lacks(const std::string& text, const std::string& part)
{
    bool absent = text.find(part) == std::string::npos;
    if (!absent) printf("  the log holds: %s\n", part.c_str());
    return absent;
}

std::string DriverFolder() { return Utf8(SystemFolder().substr(0, 3)) + "Program Files\\Tesmar\\drivers\\"; }

std::wstring SystemDriver() { return SystemDriversFolder() + DRIVER_NAME; }
std::wstring Wow64Driver() { return Wow64DriversFolder() + DRIVER_NAME; }

// Plants a copy of the driver binary in each drivers folder that this Windows has, the native
// one reached with redirection off; on 64-bit Windows the WOW64 one must exist beforehand, as
// it does on Windows (test.sh makes it in a new prefix).
void PlantDriverCopies()
{
    {
        NativeView native;
        if (!CHECK(WriteBytes(SystemDriver(), NATIVE_COPY)))
            printf("  cannot plant %s\n", Utf8(SystemDriver()).c_str());
    }
    if (Is64BitWindows() && !CHECK(WriteBytes(Wow64Driver(), WOW64_COPY)))
        printf("  cannot plant %s\n", Utf8(Wow64Driver()).c_str());
}

std::string NativeBytes(const std::wstring& path)
{
    NativeView native;
    return ReadBytes(path);
}

bool ExistsNative(const std::wstring& path)
{
    NativeView native;
    return Exists(path);
}

std::string DeletedLine(const char* what, const std::wstring& path, DWORD code)
{
    return std::string(what) + " " + Utf8(path) + ": " + std::to_string(code);
}

// The driver-file lines of a custom action, which runs with redirection off: every drivers
// folder that this Windows has is reached, and each planted copy is deleted.
void CheckCustomActionDeletions(const std::string& text)
{
    CHECK(Holds(text, DeletedLine("delete driver file", SystemDriver(), 0)));
    if (Is64BitWindows())
        CHECK(Holds(text, DeletedLine("delete wow64 driver file", Wow64Driver(), 0)));
    else
        CHECK(Lacks(text, "delete wow64 driver file"));
}

// The frame of a custom action with a session: the WOW64 check first; under WOW64 the disable
// line right before the custom-action data line and the revert line, with the disable line's
// number, right after the result line; elsewhere no redirection line at all.
void CheckFrame(const std::string& text, const std::string& resultLine)
{
    std::vector<std::string> lines = Lines(text);
    if (!CHECK(lines.size() >= 4)) return;
    CHECK(MatchesShape(lines[0], "IsWow64Process: %P"));
    const std::string data =
        "IPROPNAME_CUSTOMACTIONDATA data {F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}  \"" + DriverFolder() + "\"";
    if (IsWow64()) {
        CHECK(MatchesShape(lines[1], "_Wow64DisableWow64FsRedirection: %P 1"));
        CHECK_EQ(lines[2], data);
        CHECK_EQ(lines[lines.size() - 2], resultLine);
        CHECK(MatchesShape(lines.back(), "_Wow64RevertWow64FsRedirection: %P 1"));
        size_t redirectionLines = 0;
        for (const std::string& line : lines) redirectionLines += StartsWith(line, "_Wow64") ? 1 : 0;
        CHECK(redirectionLines == 2);
    } else {
        CHECK_EQ(lines[1], data);
        CHECK_EQ(lines.back(), resultLine);
        CHECK(Lacks(text, "_Wow64"));
    }
}

// Runs the field runner, which prints the export's result first and exits with 0.
bool RunsAndSays(const std::wstring& commandLine, const std::wstring& folder, const std::string& result,
                 const std::function<void()>& whileRunning = std::function<void()>())
{
    ProgramRun run = RunProgram(commandLine, folder, whileRunning);
    if (run.started && run.exitCode == 0 && StartsWith(run.out, result + "\r\n")) return true;
    printf("  %s: exit code %lu, output:\n%s%s\n", Utf8(commandLine).c_str(), run.exitCode, run.out.c_str(),
           run.err.c_str());
    return false;
}

// Copies the field runner, the library and the sample package into a fresh folder.
std::wstring FieldFolder()
{
    std::wstring folder = FreshFolder(L"field-runner");
    SetEnvironmentVariableW(L"TEMP", folder.c_str());
    for (const wchar_t* name : {L"drvrun.exe", L"Drvmate.dll"})
        CHECK(CopyFileW(DistFile(name).c_str(), (folder + L"\\" + name).c_str(), FALSE));
    for (const wchar_t* name : {L"tesmar-sample.inf", L"tesmarsample.sys"})
        CHECK(CopyFileW((DistFile(L"sample-driver\\") + name).c_str(), (folder + L"\\" + name).c_str(), FALSE));
    return folder;
}

// The driver-file lines of a null-session call, which leaves redirection as it is: on 64-bit
// Windows without WOW64 both copies go; under WOW64 the system directory's name reaches the
// WOW64 folder, whose copy goes, so the WOW64 name finds nothing, and the native copy stays.
void CheckNullSessionDeletions(const std::string& text)
{
    if (!IsWow64()) {
        CheckCustomActionDeletions(text);
        return;
    }
    CHECK(Holds(text, DeletedLine("delete driver file", SystemDriver(), 0)));
    CHECK(Holds(text, DeletedLine("delete wow64 driver file", Wow64Driver(), ERROR_FILE_NOT_FOUND)));
    CHECK(NativeBytes(SystemDriver()) == NATIVE_COPY);
}

}  // namespace

WINE_CASE(example_package_installs_and_removes_the_driver)
{
    std::wstring temp = FreshFolder(L"package-life");
    SetEnvironmentVariableW(L"TEMP", temp.c_str());
    std::wstring log = temp + L"\\drvmate.log";
    CHECK(CreateSampleDevice());
    PlantDriverCopies();

    // The package of this program's build: msiexec found on the search path is the one of the
    // system directory that this program sees, 32-bit under WOW64.
    std::wstring msi = DistFile(L"drvmate-example.msi");
    DWORD installed = RunToEnd(L"msiexec /i \"" + msi + L"\" /qn /l*v \"" + temp + L"\\install.txt\"");
    printf("  msiexec /i exited with %lu\n", installed);
    CHECK(installed == 0);

    std::string text = LogText(log);
    CheckFrame(text, "Install result: 0");
    CHECK(Holds(text, "Install ..."));
    CHECK(Holds(text, "Module filename: " + DriverFolder()));
    CHECK(Holds(text, "infFile: tesmar-sample.inf"));
    CHECK(Holds(text, "SearchSYS: " + DriverFolder() + "*.SYS"));
    CheckCustomActionDeletions(text);
    CHECK(Holds(text, "add package: " + DriverFolder() + "tesmar-sample.inf"));
    CHECK(Holds(text, "update device..."));
    CHECK(Exists(WindowsFolder(L"\\inf\\tesmar-sample.inf")));  // staged in the store
    // The device got its driver: the update ran with redirection off, so its copy reached the
    // native folder, over the planted one; the WOW64 folder keeps nothing of it.
    std::string driver = ReadBytes(DistFile(L"sample-driver\\tesmarsample.sys"));
    CHECK(NativeBytes(SystemDriver()) == driver);
    if (Is64BitWindows() && !CHECK(!Exists(Wow64Driver())))
        printf("  the WOW64 folder holds %s\n", ReadBytes(Wow64Driver()) == driver ? "the driver" : "another file");

    DeleteFileW(log.c_str());
    PlantDriverCopies();
    DWORD removed = RunToEnd(L"msiexec /x \"" + msi + L"\" /qn /l*v \"" + temp + L"\\remove.txt\"");
    printf("  msiexec /x exited with %lu\n", removed);
    CHECK(removed == 0);
    text = LogText(log);
    CheckFrame(text, "Uninstall result: 0");
    CHECK(Holds(text, "Uninstall ..."));
    CHECK(Holds(text, "Remove Device ..."));
    CHECK(Holds(text, "Uninstall modulefile: " + DriverFolder()));
    CheckCustomActionDeletions(text);
    CHECK(!ExistsNative(SystemDriver()));
    CHECK(!Is64BitWindows() || !Exists(Wow64Driver()));
    CHECK(!Exists(Wide(DriverFolder()) + L"tesmar-sample.inf"));  // msiexec removed the package's files
}

WINE_CASE(field_runner_installs_the_package_next_to_it)
{
    std::wstring folder = FieldFolder();
    std::wstring runner = L"\"" + folder + L"\\drvrun.exe\" ";
    std::wstring log = folder + L"\\drvmate.log";
    PlantDriverCopies();

    CHECK(RunsAndSays(runner + L"install", folder, "InstallDeviceDriver returned 0"));
    std::string text = LogText(log);
    std::string folderText = Utf8(folder);
    CHECK(Lacks(text, "IPROPNAME_CUSTOMACTIONDATA"));  // a null session runs no frame
    CHECK(Lacks(text, "_Wow64"));                      // and leaves redirection alone
    CHECK(Holds(text, "Getting Module filename..."));
    CHECK(Holds(text, "Module filename: " + folderText + "\\drvrun.exe"));
    CheckNullSessionDeletions(text);
    CHECK(Holds(text, "add package: " + folderText + "\\tesmar-sample.inf"));
    // The update ran with redirection as this program has it: its copy is where this program
    // finds the system directory's drivers folder. Under WOW64 that is the WOW64 folder, whose
    // copy the deletions had taken first; elsewhere the WOW64 folder stays empty.
    CHECK(Exists(SystemDriver()));
    if (!IsWow64()) CHECK(!Is64BitWindows() || !Exists(Wow64Driver()));

    DeleteFileW(log.c_str());
    PlantDriverCopies();
    CHECK(RunsAndSays(runner + L"uninstall", folder, "UninstallDeviceDriver returned 0"));
    text = LogText(log);
    CHECK(Lacks(text, "_Wow64"));
    CHECK(Holds(text, "Uninstall modulefile: " + folderText + "\\drvrun.exe"));
    CHECK(Holds(text, "DeleteDriverPackages..."));
    CheckNullSessionDeletions(text);
    CHECK(!Exists(SystemDriver()));
    CHECK(!Is64BitWindows() || !Exists(Wow64Driver()));
    CHECK(Exists(folder + L"\\tesmarsample.sys"));  // the package folder itself is left alone
    if (IsWow64()) {
        NativeView native;
        DeleteFileW(SystemDriver().c_str());
    }
}

WINE_CASE(field_runner_calls_the_export_its_command_names)
{
    std::wstring folder = FieldFolder();
    std::wstring runner = L"\"" + folder + L"\\drvrun.exe\" ";
    std::string wow64 = IsWow64() ? "_IsWow64System returned 1" : "_IsWow64System returned 0";
    CHECK(RunsAndSays(runner + L"wow64", folder, wow64));
    // The export's own result, whatever the rescan found.
    CHECK(RunsAndSays(runner + L"rescan", folder, "_RescanDevices returned 0"));

    const std::string usage =
        "usage: drvrun install|uninstall|upgrade|rescan|wow64 [path\\to\\Drvmate.dll]\r\n"
        "       drvrun report [--class {GUID}] [--json]\r\n";
    for (const wchar_t* arguments : {L"", L"Install", L"remove", L"wow64 Drvmate.dll extra"}) {
        ProgramRun run = RunProgram(runner + arguments, folder);
        CHECK(run.started && run.exitCode == 2);
        CHECK_EQ(run.out, "");
        CHECK_EQ(run.err, usage);
    }
    ProgramRun run = RunProgram(runner + L"install Missing.dll", folder);
    CHECK(run.started && run.exitCode == 2);
    CHECK(StartsWith(run.err, "drvrun: cannot load Missing.dll: error "));
}

WINE_CASE(field_runner_upgrade_removes_then_installs_after_a_pause)
{
    std::wstring folder = FieldFolder();
    std::wstring runner = L"\"" + folder + L"\\drvrun.exe\" ";
    std::wstring log = folder + L"\\drvmate.log";
    std::string folderText = Utf8(folder);

    // The pause between the halves, seen by watching the log grow: from the uninstall half's
    // driver-file search to the install half's first line.
    ULONGLONG searched = 0, installing = 0;
    auto watch = [&]() {
        std::string now = DecodeInstallerLog(ReadBytes(log)).text;
        if (!searched && now.find("SearchSYS: ") != std::string::npos) searched = MonotonicMs();
        if (!installing && now.find("Getting Module filename...") != std::string::npos) installing = MonotonicMs();
    };
    CHECK(RunsAndSays(runner + L"upgrade", folder, "UpgradeDeviceDriver returned 0", watch));
    printf("  the halves of the upgrade lay %lu ms apart\n", static_cast<unsigned long>(installing - searched));
    CHECK(searched && installing && installing - searched + WATCH_LATENESS_MS >= UPGRADE_PAUSE_MS);

    std::string text = LogText(log);
    CHECK(Lacks(text, "IPROPNAME_CUSTOMACTIONDATA"));
    CHECK(Lacks(text, "_Wow64"));
    // The uninstall half first, on the runner's folder; then the install half on the same folder.
    size_t removal = text.find("Uninstall modulefile: " + folderText + "\\drvrun.exe\n");
    size_t install = text.find("Getting Module filename...\nModule filename: " + folderText + "\\drvrun.exe\n");
    CHECK(removal != std::string::npos && install != std::string::npos && removal < install);
    CHECK(Holds(text, "INF: tesmar-sample.inf"));
    CHECK(Holds(text, "add package: " + folderText + "\\tesmar-sample.inf"));
    CHECK(Holds(text, "update device..."));
    CHECK(Exists(SystemDriver()));

    // Leave no device driver behind for the next cases.
    DeleteFileW(log.c_str());
    CHECK(RunsAndSays(runner + L"uninstall", folder, "UninstallDeviceDriver returned 0"));
    CHECK(!Exists(SystemDriver()));
}

WINE_CASE(field_runner_reports_the_sample_device_and_logread_explains_the_log)
{
    std::wstring folder = FieldFolder();
    std::wstring runner = L"\"" + folder + L"\\drvrun.exe\" ";
    CHECK(CreateSampleDevice());
    PlantDriverCopies();
    CHECK(RunsAndSays(runner + L"install", folder, "InstallDeviceDriver returned 0"));

    ProgramRun report = RunProgram(runner + L"report", folder);
    printf("%s", report.out.c_str());
    CHECK(report.started && report.exitCode == 0);
    CHECK_EQ(report.err, "");
    std::vector<std::string> lines = Lines(report.out);
    for (std::string& line : lines)
        if (!line.empty() && line.back() == '\r') line.pop_back();  // the console's text mode
    auto has = [&](const std::string& line) {
        bool found = std::find(lines.begin(), lines.end(), line) != lines.end();
        if (!found) printf("  the report lacks the line: %s\n", line.c_str());
        return found;
    };
    CHECK(has("== Present devices of the class =="));
    CHECK(has("  hardware IDs: USB\\VID_1D6B&PID_7E57"));
    CHECK(has(std::string("process: ") + (Is64BitProcess() ? "64-bit" : IsWow64() ? "32-bit, under WOW64" : "32-bit")));
    CHECK(has("class: {f72fe0d4-cbcb-407d-8814-9ed673d0dd6b} (from the INF)"));
    CHECK(report.out.find(Utf8(SystemDriversFolder()) + "tesmarsample.sys: present, ") != std::string::npos);
    CHECK(has("Run 1, lines 1-" +
              std::to_string(Lines(DecodeInstallerLog(ReadBytes(folder + L"\\drvmate.log")).text).size()) +
              ": install, without a session (drvrun, or a program next to the package)"));

    ProgramRun json = RunProgram(runner + L"report --json", folder);
    CHECK(json.started && json.exitCode == 0 && StartsWith(json.out, "{\"windows\": {"));
    CHECK(json.out.find("\"hardwareIds\": [\"USB\\\\VID_1D6B&PID_7E57\"]") != std::string::npos);

    // The bed's own log, explained by the log reader of this build.
    ProgramRun explained = RunProgram(L"\"" + DistFile(L"logread.exe") + L"\" --explain drvmate.log", folder);
    printf("%s", explained.out.c_str());
    CHECK(explained.started && explained.exitCode == 0);
    CHECK(StartsWith(explained.out, "Run 1, lines 1-"));
    CHECK(explained.out.find("  result: 0, done; from its last step") != std::string::npos);

    // A folder whose INF is of another class is refused.
    std::wstring inf = folder + L"\\tesmar-sample.inf";
    std::string text = ReadBytes(inf);
    size_t replaced = 0;
    for (size_t at = text.find("F72FE0D4"); at != std::string::npos; at = text.find("F72FE0D4", at), ++replaced)
        text.replace(at, 8, "4D36E978");
    if (CHECK(replaced > 0)) {
        WriteBytes(inf, text);
        ProgramRun foreign = RunProgram(runner + L"report", folder);
        CHECK(foreign.started && foreign.exitCode == 4);
        CHECK(foreign.err.find("a foreign INF") != std::string::npos);
    }

    // Leave no device driver behind for the next cases.
    CopyFileW((DistFile(L"sample-driver\\") + L"tesmar-sample.inf").c_str(), inf.c_str(), FALSE);
    CHECK(RunsAndSays(runner + L"uninstall", folder, "UninstallDeviceDriver returned 0"));
}

namespace {

// The folder this test program and its helper library stand in.
std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.rfind(L'\\'));
}

// Makes Wine prefer native libraries of the given names in the field runner while it lives, as
// a native DLL of that name would be on Windows. WINEDLLOVERRIDES set here would not reach it:
// Wine reads that variable from the Unix environment that a process starts with, not from the
// Windows environment of its parent. Its per-program registry key does.
class NativeFirstInFieldRunner {
public:
    explicit NativeFirstInFieldRunner(std::initializer_list<const wchar_t*> names)
    {
        HKEY key;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, KEY, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != 0) return;
        for (const wchar_t* name : names) {
            const wchar_t order[] = L"native,builtin";
            RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(order), sizeof order);
        }
        RegCloseKey(key);
    }
    ~NativeFirstInFieldRunner() { RegDeleteTreeW(HKEY_CURRENT_USER, KEY); }
    NativeFirstInFieldRunner(const NativeFirstInFieldRunner&) = delete;
    NativeFirstInFieldRunner& operator=(const NativeFirstInFieldRunner&) = delete;

private:
    static constexpr const wchar_t* KEY = L"Software\\Wine\\AppDefaults\\drvrun.exe\\DllOverrides";
};

}  // namespace

// Windows and Wine match a search pattern against each file's 8.3 short name too:
// "bystander.sys_old" is "BYSTAN~1.SYS", "driver.inf_old" and "notes.info" end in ".INF", and
// "oem5.inf_old" is an "oem*.inf". Each search takes only names whose own extension is the
// pattern's, so none of these is deleted, installed or swept.
WINE_CASE(field_runner_skips_files_that_match_only_by_their_short_names)
{
    std::wstring folder = FieldFolder();
    std::wstring runner = L"\"" + folder + L"\\drvrun.exe\" ";
    std::wstring log = folder + L"\\drvmate.log";
    const std::wstring bystander = L"bystander.sys_old";
    std::wstring drivers = SystemDriversFolder();
    CHECK(WriteBytes(folder + L"\\" + bystander, "the package folder's"));
    CHECK(WriteBytes(drivers + bystander, "a bystander"));
    // A store entry's companion whose own INF is absent: only the alias names it. The alias is
    // of the package's class, and not the package's text, which Wine's staging would take for
    // a copy of it already in the store.
    std::string inf = ReadBytes(folder + L"\\tesmar-sample.inf");
    std::wstring store = WindowsFolder(L"\\inf\\");
    CHECK(WriteBytes(store + L"oem5.inf_old", inf + "\r\n; kept aside\r\n"));
    CHECK(WriteBytes(store + L"oem5.PNF", "the companion of oem5.inf"));

    CHECK(RunsAndSays(runner + L"install", folder, "InstallDeviceDriver returned 0"));
    std::string text = LogText(log);
    CHECK(Lacks(text, Utf8(bystander)));
    CHECK(Lacks(text, "oem5."));
    CHECK(ReadBytes(drivers + bystander) == "a bystander");
    CHECK(ReadBytes(store + L"oem5.PNF") == "the companion of oem5.inf");
    CHECK(Exists(store + L"oem5.inf_old"));
    DeleteFileW(log.c_str());
    CHECK(RunsAndSays(runner + L"uninstall", folder, "UninstallDeviceDriver returned 0"));
    CHECK(ReadBytes(drivers + bystander) == "a bystander");
    for (const wchar_t* name : {L"oem5.inf_old", L"oem5.PNF"}) DeleteFileW((store + name).c_str());
    DeleteFileW((drivers + bystander).c_str());

    // A folder whose INFs are only aliases holds no package: the install finds none, and so does
    // the upgrade's removal half, which reads the class from the package's INF.
    CHECK(DeleteFileW((folder + L"\\tesmar-sample.inf").c_str()));
    for (const wchar_t* alias : {L"driver.inf_old", L"notes.info"}) CHECK(WriteBytes(folder + L"\\" + alias, inf));
    DeleteFileW(log.c_str());
    CHECK(RunsAndSays(runner + L"install", folder, "InstallDeviceDriver returned 2"));
    CHECK(RunsAndSays(runner + L"upgrade", folder, "UpgradeDeviceDriver returned 0"));
    text = LogText(log);
    CHECK(Lacks(text, "infFile: "));
    CHECK(Lacks(text, "RemoveDevices again..."));
    CHECK(Lacks(text, "add package: "));
    for (const wchar_t* alias : {L"driver.inf_old", L"notes.info"}) CHECK(!Exists(store + alias));
}

// The field runner is copied next to a driver package and run as administrator from a download
// or removable-media folder, where anyone may have left a library named like a system one. With
// native libraries preferred (as a native DLL of that name would be on Windows), neither
// Drvmate's import of msi.dll nor its load of newdev.dll may reach the planted copies.
WINE_CASE(field_runner_loads_no_library_planted_next_to_it)
{
    std::wstring folder = FieldFolder();
    std::wstring runner = L"\"" + folder + L"\\drvrun.exe\" ";
    for (const wchar_t* name : {L"newdev.dll", L"msi.dll"})
        CHECK(CopyFileW((ProgramFolder() + L"\\planted.dll").c_str(), (folder + L"\\" + name).c_str(), FALSE));
    {
        NativeFirstInFieldRunner nativeFirst({L"newdev", L"msi"});
        CHECK(RunsAndSays(runner + L"install", folder, "InstallDeviceDriver returned 0"));
        CHECK(Holds(LogText(folder + L"\\drvmate.log"), "update device..."));
        CHECK(RunsAndSays(runner + L"uninstall", folder, "UninstallDeviceDriver returned 0"));
    }
    for (const wchar_t* name : {L"newdev.dll", L"msi.dll"})
        if (!CHECK(!Exists(folder + L"\\" + name + L".ran"))) printf("  the planted %ls ran\n", name);
}
