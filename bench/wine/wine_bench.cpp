// Wine figures of the installer, measured inside the prefix with the installer's own sources
// (the 64-bit build) against Wine's runtime, setupapi and msiexec:
//
//   wine_bench log ROUNDS LINES
//       LogMessage of one class line against appends of the same bytes: a bare
//       _wfsopen("at") + fwrite + fclose, the checked append, which opens through CreateFileW
//       and makes the checks that the log must make before it writes, and the checked append
//       of the line formatted as LogMessage formats it; LINES of each per round, one line of
//       each in turn; per round the median line of each;
//   wine_bench sweep ROUNDS SMALL LARGE
//       DeleteDriverPackages over stores of SMALL and LARGE real INFs of another class in the
//       inf folder of the Windows directory, alternating; each sample sweeps the small store
//       LARGE / SMALL times; on the small store also the bare file search and the sweep
//       without a log, which split its time per INF;
//   wine_bench msi ROUNDS EXAMPLE.msi EMPTY.msi NONE.msi
//       msiexec /i and /x of the three packages, in turn; in turn with them, the platform
//       calls that the example's custom actions must make on each road, alone, in a fresh
//       process as the custom action makes them:
//   wine_bench road install|remove PASSES FOLDER OUT
//       those calls of one road, with PASSES removal passes, on the package folder FOLDER;
//       writes their CPU and wall milliseconds into the file OUT.
//
// The sweeps and msiexec are measured in the CPU time of the prefix's processes: wineserver,
// this program and every process started from them, which bench.sh runs in a cgroup of their
// own whose cpu.stat the environment variable BENCH_CPU_STAT names. A busy machine stretches
// their wall time by whatever else it runs; their CPU time is the work they themselves do,
// in every process that serves them. Each such measurement starts and ends with the prefix
// quiet, so that it counts what it set going and nothing that ran before. The wall times are
// printed beside it.
//
// Every measured value is one line "sample NAME VALUE" (bench.sh takes the median, the least
// and the most of them); "check NAME ok" or "check NAME failed: why" says whether the
// measurement itself went as it must.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bytes.h"
#include "guards.h"
#include "installer.h"
#include "log.h"

namespace {

// The class the example package installs (the DLL's DeviceClassGuid); the sweep removes its packages.
const WCHAR PackageClassText[] = L"{F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}";

// {F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}, the package's class.
const GUID PackageClass = {0xF72FE0D4, 0xCBCB, 0x407d, {0x88, 0x14, 0x9E, 0xD6, 0x73, 0xD0, 0xDD, 0x6B}};
const char OtherClassText[] = "{4d36e978-e325-11ce-bfc1-08002be10318}";
// The class line that the sweep writes for every store INF, with a store INF's path.
const wchar_t ClassLineFormat[] = L" %s ClassGuid: {%.8x-%.4x-%.4x-%.2x%.2x-%.2x%.2x%.2x%.2x%.2x%.2x}\n";
const wchar_t ClassLinePath[] = L"C:\\windows\\inf\\oem1234.inf";
const int LINE_CHARS = 256;
// What the install sequence waits after it has re-enumerated the devices.
const double RESCAN_PAUSE_MS = 1000;
const char RescanLine[] = "rescan devices...";
// The line that the sweep writes for each store INF it finds.
const char InfFileLine[] = "infFile: ";
const double MICROSECONDS = 1e6;
const double MILLISECONDS = 1e3;
// msiexec's results that mean done (the second: done, a reboot is wanted).
const DWORD MSI_DONE = 0;
const DWORD MSI_DONE_REBOOT = 3010;

class Stopwatch {
public:
    Stopwatch() { QueryPerformanceCounter(&start_); }
    double Seconds() const
    {
        LARGE_INTEGER now, frequency;
        QueryPerformanceCounter(&now);
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(now.QuadPart - start_.QuadPart) / static_cast<double>(frequency.QuadPart);
    }

private:
    LARGE_INTEGER start_;
};

// The CPU time, in microseconds, that the processes of the cgroup named by BENCH_CPU_STAT
// have used so far (its "usage_usec"); negative when it cannot be read.
double PrefixCpuMicroseconds()
{
    static std::wstring path;
    if (path.empty()) {
        wchar_t name[MAX_PATH];
        DWORD length = GetEnvironmentVariableW(L"BENCH_CPU_STAT", name, MAX_PATH);
        if (!length || length >= MAX_PATH) return -1;
        path = name;
    }
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    HandleGuard fileGuard(file);
    if (!fileGuard.Valid()) return -1;
    char text[1024];
    DWORD read = 0;
    if (!ReadFile(file, text, sizeof text - 1, &read, nullptr)) return -1;
    text[read] = 0;
    const char field[] = "usage_usec ";
    const char* at = strstr(text, field);
    if (!at || (at != text && at[-1] != '\n')) return -1;
    char* end = nullptr;
    double usec = strtod(at + sizeof field - 1, &end);
    return end != at + sizeof field - 1 ? usec : -1;
}

// The prefix's CPU time and the wall time since it was made, in milliseconds.
class Meter {
public:
    Meter() : cpu_(PrefixCpuMicroseconds()) {}
    // Negative when the CPU time could not be read.
    double CpuMs() const
    {
        double now = PrefixCpuMicroseconds();
        return cpu_ < 0 || now < 0 ? -1 : (now - cpu_) / MILLISECONDS;
    }
    double WallMs() const { return wall_.Seconds() * MILLISECONDS; }

private:
    Stopwatch wall_;
    double cpu_;
};

// What the prefix's processes use when nothing runs in it but this program's reads of their
// CPU time is about 0.3 ms in 100 ms. Work that goes on after a measured run (a process of it
// that is still ending, a service it woke) or that a previous step left must not be counted
// in the next one: each measurement starts and ends with the prefix quiet, two windows in a
// row in which its processes used less than QUIET_CPU_US.
const DWORD QUIET_WINDOW_MS = 100;
const double QUIET_CPU_US = 1000;
const int QUIET_WINDOWS = 2;
const double SETTLE_LIMIT_MS = 20000;
int unsettled = 0;

// Waits until the prefix is quiet; counts in `unsettled` the waits that ran out first.
void Settle()
{
    Stopwatch waited;
    double last = PrefixCpuMicroseconds();
    for (int quiet = 0; quiet < QUIET_WINDOWS;) {
        if (waited.Seconds() * MILLISECONDS > SETTLE_LIMIT_MS) {
            ++unsettled;
            return;
        }
        Sleep(QUIET_WINDOW_MS);
        double now = PrefixCpuMicroseconds();
        quiet = now - last < QUIET_CPU_US ? quiet + 1 : 0;
        last = now;
    }
}

void Sample(const std::string& name, double value)
{
    printf("sample %s %.3f\n", name.c_str(), value);
    fflush(stdout);
}

double Median(std::vector<double> values)
{
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

bool Check(const std::string& name, bool ok, const std::string& why)
{
    if (ok)
        printf("check %s ok\n", name.c_str());
    else
        printf("check %s failed: %s\n", name.c_str(), why.c_str());
    fflush(stdout);
    return ok;
}

bool CheckSettled(const std::string& name)
{
    return Check(name + ".prefix_quiet", unsettled == 0,
                 "the prefix's processes were not quiet within " +
                     std::to_string(static_cast<int>(SETTLE_LIMIT_MS / MILLISECONDS)) + " s " +
                     std::to_string(unsettled) + " times: their CPU time counts other work");
}

// Whether the prefix's CPU time can be read; says so as a check.
bool CheckCpuAccounting()
{
    return Check("cpu_accounting", PrefixCpuMicroseconds() >= 0,
                 "cannot read the prefix's CPU time: BENCH_CPU_STAT names no cgroup cpu.stat with usage_usec");
}

// The folder this run works in, under the prefix's temporary folder, read before TEMP is
// changed to place the installer log.
std::wstring WorkFolder(const wchar_t* name)
{
    static std::wstring temp;
    if (temp.empty()) {
        wchar_t path[MAX_PATH];
        DWORD length = GetTempPathW(MAX_PATH, path);
        temp = length && length < MAX_PATH ? path : L"C:\\windows\\temp\\";
    }
    std::wstring folder = temp + name;
    CreateDirectoryW(folder.c_str(), 0);
    return folder;
}

// The installer log in `folder`, empty, and the library as freshly loaded.
std::wstring FreshLog(const std::wstring& folder)
{
    SetEnvironmentVariableW(L"TEMP", folder.c_str());
    ForgetLogPath();
    std::wstring log = folder + L"\\drvmate.log";
    DeleteFileW(log.c_str());
    return log;
}

// How often a text occurs in a log's bytes, as UTF-16LE units.
int CountInLog(const std::string& log, const char* text)
{
    std::string units;
    for (const char* c = text; *c; ++c) {
        units.push_back(*c);
        units.push_back(0);
    }
    int count = 0;
    for (size_t at = log.find(units); at != std::string::npos; at = log.find(units, at + units.size())) ++count;
    return count;
}

// ---------------------------------------------------------------------------------------
// One log line

void LogClassLine()
{
    LogMessage(ClassLineFormat, ClassLinePath, PackageClass.Data1, PackageClass.Data2, PackageClass.Data3,
               PackageClass.Data4[0], PackageClass.Data4[1], PackageClass.Data4[2], PackageClass.Data4[3],
               PackageClass.Data4[4], PackageClass.Data4[5], PackageClass.Data4[6], PackageClass.Data4[7]);
}

void BareLine(const wchar_t* path, const wchar_t* text, size_t bytes)
{
    FILE* stream = _wfsopen(path, L"at", _SH_DENYNO);
    if (!stream) return;
    fwrite(text, 1, bytes, stream);
    fclose(stream);
}

// The checked append: the least that a log in a folder every user may create files in must
// spend on a line. It opens what is at the path as itself (else creates a file where nothing
// is), reads the attribute tag and standard records of the handle, reads the owner of a file
// it did not create and compares it with SYSTEM, Administrators and the process's user, then
// appends through the runtime on that same handle. The access, sharing and flags are the
// log's; nothing is formatted.
const DWORD CHECKED_ACCESS = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
const DWORD CHECKED_SHARING = FILE_SHARE_READ | FILE_SHARE_WRITE;
const DWORD CHECKED_FLAGS = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
const int CHECKED_DESCRIPTOR_FLAGS = _O_APPEND | _O_TEXT | _O_WRONLY;

union TokenUserBuffer {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
};
union OwnerDescriptor {
    SECURITY_DESCRIPTOR_RELATIVE header;
    BYTE bytes[sizeof(SECURITY_DESCRIPTOR_RELATIVE) + SECURITY_MAX_SID_SIZE];
};

bool ReadProcessUser(TokenUserBuffer* user)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    HandleGuard tokenGuard(token);
    DWORD length = 0;
    return GetTokenInformation(token, TokenUser, user, sizeof *user, &length) != FALSE;
}

bool IsPlainFile(HANDLE file)
{
    FILE_ATTRIBUTE_TAG_INFO tag;
    FILE_STANDARD_INFO standard;
    return GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag) &&
           !(tag.FileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
           GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard) && !standard.Directory &&
           standard.NumberOfLinks == 1;
}

bool HasTrustedOwner(HANDLE file, PSID user)
{
    OwnerDescriptor descriptor;
    DWORD needed = 0;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    return GetKernelObjectSecurity(file, OWNER_SECURITY_INFORMATION, &descriptor, sizeof descriptor, &needed) &&
           GetSecurityDescriptorOwner(&descriptor, &owner, &defaulted) && owner &&
           (IsWellKnownSid(owner, WinLocalSystemSid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
            EqualSid(owner, user));
}

// False when a check refused the file or the line could not be appended.
bool CheckedLine(const wchar_t* path, PSID user, const wchar_t* text, size_t bytes)
{
    bool created = false;
    HANDLE file = CreateFileW(path, CHECKED_ACCESS, CHECKED_SHARING, nullptr, OPEN_EXISTING, CHECKED_FLAGS, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
        file = CreateFileW(path, CHECKED_ACCESS, CHECKED_SHARING, nullptr, CREATE_NEW, CHECKED_FLAGS, nullptr);
        created = true;
    }
    HandleGuard fileGuard(file);
    if (!fileGuard.Valid() || !IsPlainFile(file) || (!created && !HasTrustedOwner(file, user))) return false;
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), CHECKED_DESCRIPTOR_FLAGS);
    if (descriptor == -1) return false;
    fileGuard.Release();
    FILE* stream = _wfdopen(descriptor, L"at");
    if (!stream) {
        _close(descriptor);
        return false;
    }
    fwrite(text, 1, bytes, stream);
    fclose(stream);
    return true;
}

// The checked append of a line that it formats first, as LogMessage does: the same format and
// values through _vsnwprintf into a buffer of the log's size. Tells how much of what
// LogMessage spends beyond the checked append is the formatting.
bool FormattedCheckedLine(const wchar_t* path, PSID user, const wchar_t* format, ...)
{
    wchar_t message[LINE_CHARS];
    va_list values;
    va_start(values, format);
    int length = _vsnwprintf(message, LINE_CHARS - 1, format, values);
    va_end(values);
    if (length < 0) return false;
    message[length] = 0;
    return CheckedLine(path, user, message, length * sizeof(wchar_t));
}

bool FormattedClassLine(const wchar_t* path, PSID user)
{
    return FormattedCheckedLine(path, user, ClassLineFormat, ClassLinePath, PackageClass.Data1, PackageClass.Data2,
                                PackageClass.Data3, PackageClass.Data4[0], PackageClass.Data4[1], PackageClass.Data4[2],
                                PackageClass.Data4[3], PackageClass.Data4[4], PackageClass.Data4[5],
                                PackageClass.Data4[6], PackageClass.Data4[7]);
}

int MeasureLog(int rounds, int lines)
{
    std::wstring folder = WorkFolder(L"bench-log");
    wchar_t text[LINE_CHARS];
    _snwprintf(text, LINE_CHARS - 1, ClassLineFormat, ClassLinePath, PackageClass.Data1, PackageClass.Data2,
               PackageClass.Data3, PackageClass.Data4[0], PackageClass.Data4[1], PackageClass.Data4[2],
               PackageClass.Data4[3], PackageClass.Data4[4], PackageClass.Data4[5], PackageClass.Data4[6],
               PackageClass.Data4[7]);
    text[LINE_CHARS - 1] = 0;
    size_t bytes = wcslen(text) * sizeof(wchar_t);
    std::wstring bare = folder + L"\\bare.log", checked = folder + L"\\checked.log",
                 formatted = folder + L"\\formatted.log";
    TokenUserBuffer user;
    if (!Check("log.process_user", ReadProcessUser(&user), "cannot read the process's user")) return 1;

    bool same = true, passed = true;
    // Round 0 warms the file system and the libraries up and is not counted. Within a round the
    // four write their lines one at a time, in turn, each line starting with the next of them,
    // so that the machine's other work falls on all alike; each one's figure of the round is its
    // median line, so that the lines during which the scheduler ran other work do not count.
    enum { LOG_MESSAGE, BARE, CHECKED, FORMATTED, CASES };
    for (int round = 0; round <= rounds; ++round) {
        std::wstring log = FreshLog(folder);
        DeleteFileW(bare.c_str());
        DeleteFileW(checked.c_str());
        DeleteFileW(formatted.c_str());
        std::vector<double> seconds[CASES];
        for (int i = 0; i < lines; ++i) {
            for (int turn = 0; turn < CASES; ++turn) {
                // Each line starts with the next of the three.
                int c = (turn + i + round) % CASES;
                Stopwatch watch;
                if (c == LOG_MESSAGE)
                    LogClassLine();
                else if (c == BARE)
                    BareLine(bare.c_str(), text, bytes);
                else if (c == CHECKED)
                    passed = CheckedLine(checked.c_str(), user.user.User.Sid, text, bytes) && passed;
                else
                    passed = FormattedClassLine(formatted.c_str(), user.user.User.Sid) && passed;
                seconds[c].push_back(watch.Seconds());
            }
        }
        std::string logBytes = ReadBytes(log);
        if (logBytes.empty() || logBytes != ReadBytes(bare) || logBytes != ReadBytes(checked) ||
            logBytes != ReadBytes(formatted))
            same = false;
        if (round == 0) continue;
        Sample("log.drvmate.us_per_line", Median(seconds[LOG_MESSAGE]) * MICROSECONDS);
        Sample("log.bare.us_per_line", Median(seconds[BARE]) * MICROSECONDS);
        Sample("log.checked.us_per_line", Median(seconds[CHECKED]) * MICROSECONDS);
        Sample("log.formatted.us_per_line", Median(seconds[FORMATTED]) * MICROSECONDS);
    }
    bool ok = Check("log.checks_passed", passed, "the checked append refused its own file");
    ok = Check("log.same_bytes", same, "LogMessage and the three appends left different bytes") && ok;
    return ok ? 0 : 1;
}

// ---------------------------------------------------------------------------------------
// Store sweep

std::wstring WindowsFolder()
{
    wchar_t folder[MAX_PATH];
    UINT length = GetWindowsDirectoryW(folder, MAX_PATH);
    return length && length < MAX_PATH ? folder : L"C:\\windows";
}

std::string StoreInf(int number)
{
    std::string n = std::to_string(number);
    return "; Ports driver package\r\n"
           "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Ports\r\nClassGUID=" +
           std::string(OtherClassText) +
           "\r\nProvider=%Vendor%\r\nDriverVer=01/01/2024,1.0.0.0\r\n\r\n"
           "[Manufacturer]\r\n%Vendor%=Models,NTamd64\r\n\r\n"
           "[Models.NTamd64]\r\n%Device%=Install,ROOT\\VENDOR_PORT_" +
           n +
           "\r\n\r\n"
           "[Install]\r\nCopyFiles=Files\r\n\r\n[Files]\r\ndevice.sys\r\n\r\n"
           "[DestinationDirs]\r\nDefaultDestDir=12\r\n\r\n"
           "[SourceDisksNames]\r\n1=%Disk%\r\n\r\n[SourceDisksFiles]\r\ndevice.sys=1\r\n\r\n"
           "[Strings]\r\nVendor=\"Vendor\"\r\nDevice=\"Device\"\r\nDisk=\"Driver disk\"\r\n";
}

// A store of `count` INFs kept beside the inf folder, moved in for each sweep and out again,
// so that stores of different sizes can alternate in one prefix.
class Store {
public:
    Store(const std::wstring& windows, int count)
        : count_(count), folder_(windows + L"\\inf.bench-" + std::to_wstring(count)), inf_(windows + L"\\inf")
    {
        CreateDirectoryW(folder_.c_str(), 0);
        for (int i = 0; i < count && made_; ++i)
            made_ = WriteBytes(folder_ + L"\\oem" + std::to_wstring(i) + L".inf", StoreInf(i));
    }
    bool Made() const { return made_; }
    int Count() const { return count_; }
    bool MoveIn() const { return MoveFileW(folder_.c_str(), inf_.c_str()) != 0; }
    bool MoveOut() const { return MoveFileW(inf_.c_str(), folder_.c_str()) != 0; }

private:
    int count_;
    std::wstring folder_, inf_;
    bool made_ = true;
};

// The store's own search, as the sweep makes it, without anything else.
int SearchOnly(const std::wstring& pattern)
{
    WIN32_FIND_DATAW data;
    wchar_t name[MAX_PATH];
    HANDLE find = FindFirstFileW(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return 0;
    int found = 0;
    do {
        lstrcpynW(name, data.cFileName, MAX_PATH);
        ++found;
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return found;
}

int MeasureSweep(int rounds, int small, int large)
{
    std::wstring windows = WindowsFolder();
    std::wstring inf = windows + L"\\inf", wineInf = windows + L"\\inf.bench-wine";
    std::wstring logFolder = WorkFolder(L"bench-sweep");
    if (!CheckCpuAccounting()) return 1;
    if (!Check("sweep.inf_folder_set_aside", MoveFileW(inf.c_str(), wineInf.c_str()) != 0,
               "cannot move " + std::string(inf.begin(), inf.end()) + " aside"))
        return 1;
    Stopwatch making;
    std::vector<Store> stores;
    stores.emplace_back(windows, small);
    stores.emplace_back(windows, large);
    printf("info made stores of %d and %d INFs in %.1f s\n", small, large, making.Seconds());
    bool ok = Check("sweep.stores_made", stores[0].Made() && stores[1].Made(), "writing the store INFs failed");

    DeviceDriverInstaller installer;
    std::wstring pattern = inf + L"\\oem*.inf";
    bool swept = true, searched = true, everyInf = true;
    // A sweep of the small store first warms the file system and the libraries up.
    if (ok && stores[0].MoveIn()) {
        FreshLog(logFolder);
        swept = installer.DeleteDriverPackages(PackageClassText, 0) == RESULT_SUCCESS;
        ok = Check("sweep.store_moved_out", stores[0].MoveOut(), "cannot move a store out of the inf folder");
    }
    for (int round = 0; ok && round < rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            // Each round starts with the other store.
            const Store& store = stores[(turn + round) % 2];
            if (!store.MoveIn()) {
                ok = Check("sweep.store_moved_in", false, "cannot move a store into the inf folder");
                break;
            }
            // Each sample sweeps about as many INFs as the large store holds, the small store
            // over and over: the samples of both sizes last about as long, so the machine's
            // other work meets them alike and the least of each size compares with the other's.
            int repeats = std::max(1, large / store.Count());
            double logged = 0, loggedWall = 0, logBytes = 0;
            for (int repeat = 0; repeat < repeats; ++repeat) {
                std::wstring log = FreshLog(logFolder);
                Settle();
                Meter meter;
                swept = installer.DeleteDriverPackages(PackageClassText, 0) == RESULT_SUCCESS && swept;
                logged += meter.CpuMs();
                loggedWall += meter.WallMs();
                std::string logText = ReadBytes(log);
                logBytes = static_cast<double>(logText.size());
                everyInf = CountInLog(logText, InfFileLine) == store.Count() && everyInf;
            }
            logged /= repeats;
            loggedWall /= repeats;
            std::string name = "sweep." + std::to_string(store.Count());
            Sample(name + ".us_per_inf", logged * MILLISECONDS / store.Count());
            Sample(name + ".wall_us_per_inf", loggedWall * MILLISECONDS / store.Count());
            Sample(name + ".log_bytes_per_inf", logBytes / store.Count());
            if (&store == &stores[0]) {
                // The search alone, and the sweep with its log lines dropped (TEMP unset).
                Settle();
                Meter searchMeter;
                searched = SearchOnly(pattern) == small && searched;
                double search = searchMeter.CpuMs();
                SetEnvironmentVariableW(L"TEMP", 0);
                ForgetLogPath();
                Settle();
                Meter silentMeter;
                installer.DeleteDriverPackages(PackageClassText, 0);
                double silent = silentMeter.CpuMs();
                Sample("split.search_us", search * MILLISECONDS / small);
                Sample("split.parse_us", (silent - search) * MILLISECONDS / small);
                Sample("split.log_us", (logged - silent) * MILLISECONDS / small);
            }
            if (!store.MoveOut()) {
                ok = Check("sweep.store_moved_out", false, "cannot move a store out of the inf folder");
                break;
            }
        }
    }
    ok = Check("sweep.result", swept, "DeleteDriverPackages did not return 0") && ok;
    ok = Check("sweep.every_inf", everyInf, "a sweep did not log an \"infFile:\" line for every store INF") && ok;
    ok = Check("sweep.search", searched, "the bare search did not find every store INF") && ok;
    ok = CheckSettled("sweep") && ok;
    MoveFileW(wineInf.c_str(), inf.c_str());
    return ok ? 0 : 1;
}

// ---------------------------------------------------------------------------------------
// msiexec

// The line that a removal pass writes first, once per pass.
const char RemovalPassLine[] = "remove devices: ";

struct MsiRun {
    bool ok = false;
    double ms = 0;      // the prefix's CPU time
    double wallMs = 0;  // less the pauses
    int pauses = 0;     // rescans the install waited after
    int passes = 0;     // removal passes the custom actions made
    DWORD exitCode = 0;
};

// Runs the command line and waits for it to end; false when it cannot start, with the
// error code in `exitCode`.
bool RunProcess(std::wstring commandLine, DWORD* exitCode)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(0, &commandLine[0], 0, 0, FALSE, 0, 0, 0, &startup, &process)) {
        *exitCode = GetLastError();
        return false;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

MsiRun RunMsiexec(const wchar_t* action, const std::wstring& package, const std::wstring& logFolder)
{
    MsiRun run;
    std::wstring log = FreshLog(logFolder);
    Settle();
    Meter meter;
    if (!RunProcess(L"msiexec " + std::wstring(action) + L" \"" + package + L"\" /qn", &run.exitCode)) return run;
    double wallMs = meter.WallMs();
    // What the run set going ends before its CPU time is read.
    Settle();
    run.ms = meter.CpuMs();
    std::string logText = ReadBytes(log);
    run.pauses = CountInLog(logText, RescanLine);
    run.passes = CountInLog(logText, RemovalPassLine);
    run.wallMs = wallMs - run.pauses * RESCAN_PAUSE_MS;
    run.ok = (run.exitCode == MSI_DONE || run.exitCode == MSI_DONE_REBOOT) && run.ms >= 0;
    return run;
}

// The present devices of the package's class, each with its index in the list.
template <typename Visit>
bool VisitPresentDevices(Visit visit)
{
    DeviceSetGuard devices(SetupDiGetClassDevsExW(&PackageClass, 0, 0, DIGCF_PRESENT, 0, 0, 0));
    if (!devices.Built()) return false;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices.Get(), index, &device); ++index) visit(devices.Get(), &device);
    return true;
}

// Every device of every class, with the node status of each of the class's devices.
bool WalkAllClasses()
{
    DeviceSetGuard devices(SetupDiGetClassDevsW(0, 0, 0, DIGCF_ALLCLASSES));
    if (!devices.Built()) return false;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices.Get(), index, &device); ++index) {
        if (!IsEqualGUID(device.ClassGuid, PackageClass)) continue;
        ULONG status = 0, problem = 0;
        CM_Get_DevNode_Status(&status, &problem, device.DevInst, 0);
    }
    return true;
}

// One pass of the device walks that a removal makes, and nothing else: the present devices
// of the package's class, then every device of every class. False when a device list cannot
// be built.
bool WalkDevices()
{
    return VisitPresentDevices([](HDEVINFO, SP_DEVINFO_DATA*) {}) && WalkAllClasses();
}

// The class of an INF, read as the roads read it: its full path, then SetupDiGetINFClassW.
bool ReadInfClass(const std::wstring& inf, GUID* infClass)
{
    wchar_t full[MAX_PATH], className[MAX_CLASS_NAME_LEN];
    DWORD length = GetFullPathNameW(inf.c_str(), MAX_PATH, full, 0);
    return length && length < MAX_PATH && SetupDiGetINFClassW(full, infClass, className, MAX_CLASS_NAME_LEN, 0);
}

// The store sweep: every oem*.inf of the inf folder, its class read, and those of the
// package's class uninstalled from the driver store (SetupUninstallOEMInfW, bound from
// setupapi.dll of the system folder) and deleted with their .PNF. The count of packages it
// uninstalled into `removed`.
void SweepStore(int* removed)
{
    typedef BOOL(WINAPI * UninstallFunction)(PCWSTR, DWORD, PVOID);
    std::wstring inf = WindowsFolder() + L"\\inf\\";
    WIN32_FIND_DATAW data;
    FindGuard find(FindFirstFileW((inf + L"oem*.inf").c_str(), &data));
    if (!find.Found()) return;
    do {
        std::wstring path = inf + data.cFileName;
        GUID infClass;
        if (!ReadInfClass(path, &infClass) || !IsEqualGUID(infClass, PackageClass)) continue;
        wchar_t full[MAX_PATH];
        wchar_t* name = 0;
        GetFullPathNameW(path.c_str(), MAX_PATH, full, &name);
        LibraryGuard setupapi(L"setupapi.dll");
        UninstallFunction uninstall = reinterpret_cast<UninstallFunction>(setupapi.Function("SetupUninstallOEMInfW"));
        if (uninstall && name && uninstall(name, SUOI_FORCEDELETE, 0)) ++*removed;
        DeleteFileW(path.c_str());
        DeleteFileW((path.substr(0, path.size() - 3) + L"PNF").c_str());
    } while (FindNextFileW(find.Get(), &data));
}

// The deletion of the package's driver binaries: each .SYS of the package folder, deleted
// from the drivers folders of the system folder and of the WOW64 one.
void DeleteDriverBinaries(const std::wstring& folder)
{
    wchar_t system[MAX_PATH], wow64[MAX_PATH];
    UINT systemLength = GetSystemDirectoryW(system, MAX_PATH);
    UINT wow64Length = GetSystemWow64DirectoryW(wow64, MAX_PATH);
    if (!systemLength || systemLength >= MAX_PATH) return;
    WIN32_FIND_DATAW data;
    FindGuard find(FindFirstFileW((folder + L"\\*.SYS").c_str(), &data));
    if (!find.Found()) return;
    do {
        DeleteFileW((std::wstring(system) + L"\\drivers\\" + data.cFileName).c_str());
        if (wow64Length && wow64Length < MAX_PATH)
            DeleteFileW((std::wstring(wow64) + L"\\drivers\\" + data.cFileName).c_str());
    } while (FindNextFileW(find.Get(), &data));
}

// The platform work that a road must make, without the custom action's own: its removal
// passes' device walks, the store sweep and the deletion of the driver binaries; on the
// install road also the search for the package folder's INF and the reads of its class, the
// staging of the INF in the driver store (SetupCopyOEMInfW), the update of the class's
// present devices onto it (UpdateDriverForPlugAndPlayDevicesW, bound from newdev.dll of the
// system folder) with the walk of all devices that follows, and the re-enumeration of the
// device tree. What each step changes is what the road changes, so that the state each
// msiexec run finds stays the same: the install stages the package, the removal that follows
// uninstalls what the sweep finds of the class (Wine stages the INF under its own name, not
// as an oem*.inf, so its sweep finds nothing, as the custom action's does). False when a step
// the road must take fails; the packages staged or uninstalled into `changed`.
bool RoadCalls(bool install, int passes, const std::wstring& folder, int* changed)
{
    bool ok = true;
    std::wstring inf;
    GUID infClass;
    if (install) {
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((folder + L"\\*.inf").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) return false;
        FindClose(find);
        inf = folder + L"\\" + data.cFileName;
        ok = ReadInfClass(inf, &infClass);
    }
    for (int pass = 0; pass < passes; ++pass) ok = WalkDevices() && ok;
    // (the install's sweep reads the INF's class again)
    if (install) ok = ReadInfClass(inf, &infClass) && ok;
    int removed = 0;
    SweepStore(&removed);
    DeleteDriverBinaries(folder);
    if (!install) {
        *changed = removed;
        return ok;
    }
    wchar_t full[MAX_PATH], staged[MAX_PATH];
    GetFullPathNameW(inf.c_str(), MAX_PATH, full, 0);
    if (SetupCopyOEMInfW(full, 0, SPOST_PATH, 0, staged, MAX_PATH, 0, 0)) ++*changed;
    // The update: the INF checked and its class read again, then each present device of the
    // class onto it by its first hardware ID, then every device of every class.
    typedef BOOL(WINAPI * UpdateFunction)(HWND, LPCWSTR, LPCWSTR, DWORD, PBOOL);
    ok = GetFileAttributesW(full) != INVALID_FILE_ATTRIBUTES && ReadInfClass(full, &infClass) && ok;
    LibraryGuard newdev(L"newdev.dll");
    UpdateFunction update = reinterpret_cast<UpdateFunction>(newdev.Function("UpdateDriverForPlugAndPlayDevicesW"));
    ok = update && ok;
    ok = VisitPresentDevices([&](HDEVINFO devices, SP_DEVINFO_DATA* device) {
             wchar_t ids[4096 + 2] = {0};
             DWORD type = 0;
             BOOL reboot = FALSE;
             if (SetupDiGetDeviceRegistryPropertyW(devices, device, SPDRP_HARDWAREID, &type,
                                                   reinterpret_cast<BYTE*>(ids), 8192, 0) &&
                 ids[0] && update)
                 update(0, ids, full, INSTALLFLAG_FORCE, &reboot);
         }) &&
         ok;
    ok = WalkAllClasses() && ok;
    // (the road goes on whatever the re-enumeration returns; Wine's CM_Locate_DevNode_ExW fails)
    DEVINST root = 0;
    if (CM_Locate_DevNode_ExW(&root, 0, CM_LOCATE_DEVNODE_NORMAL, 0) == CR_SUCCESS)
        CM_Reenumerate_DevNode_Ex(root, CM_REENUMERATE_NORMAL, 0);
    return ok;
}

// A road's platform calls (install or remove) with `passes` removal passes, on the package
// folder `folder`, in this fresh process as a custom action makes them in its own: the
// prefix's CPU milliseconds and the wall milliseconds they took into the file `out`,
// separated by a space. Fails unless the install staged one package; says how many packages
// the removal uninstalled.
int MeasureRoad(const std::wstring& road, int passes, const std::wstring& folder, const std::wstring& out)
{
    bool install = road == L"install";
    if (!install && road != L"remove") return 2;
    int changed = 0;
    // (the start of this process is not part of the road)
    Settle();
    Meter meter;
    bool ok = RoadCalls(install, passes, folder, &changed);
    double cpuMs = meter.CpuMs(), wallMs = meter.WallMs();
    char text[64];
    snprintf(text, sizeof text, "%.3f %.3f", cpuMs, wallMs);
    if (!ok || (install && changed != 1)) printf("info road %ls: a step failed or nothing was staged\n", road.c_str());
    if (!install) printf("info road remove: %d packages uninstalled\n", changed);
    return ok && (!install || changed == 1) && cpuMs >= 0 && !unsettled && WriteBytes(out, text) ? 0 : 1;
}

// A road's platform calls, with `passes` removal passes, timed in a fresh process of this
// program.
MsiRun RunRoad(const wchar_t* road, int passes, const std::wstring& driverFolder, const std::wstring& folder)
{
    MsiRun run;
    run.passes = passes;
    wchar_t program[MAX_PATH];
    DWORD length = GetModuleFileNameW(0, program, MAX_PATH);
    if (!length || length >= MAX_PATH) return run;
    std::wstring out = folder + L"\\walks.txt";
    DeleteFileW(out.c_str());
    if (!RunProcess(L"\"" + std::wstring(program) + L"\" road " + road + L" " + std::to_wstring(passes) + L" \"" +
                        driverFolder + L"\" \"" + out + L"\"",
                    &run.exitCode))
        return run;
    std::string text = ReadBytes(out);
    char *cpuEnd = nullptr, *wallEnd = nullptr;
    run.ms = strtod(text.c_str(), &cpuEnd);
    run.wallMs = strtod(cpuEnd, &wallEnd);
    run.ok = run.exitCode == 0 && !text.empty() && cpuEnd != text.c_str() && wallEnd != cpuEnd && *wallEnd == 0;
    return run;
}

// The example package's driver folder, as its custom actions form it: Program Files, Tesmar,
// drivers, on the system drive.
std::wstring InstalledDriverFolder()
{
    wchar_t system[MAX_PATH];
    UINT length = GetSystemDirectoryW(system, MAX_PATH);
    std::wstring root = length >= 3 && length < MAX_PATH ? std::wstring(system, 3) : L"C:\\";
    return root + L"Program Files\\Tesmar\\drivers";
}

// Copies every file of `from` into the folder `to`; false when there was none or one failed.
bool CopyFolder(const std::wstring& from, const std::wstring& to)
{
    CreateDirectoryW(to.c_str(), 0);
    WIN32_FIND_DATAW data;
    FindGuard find(FindFirstFileW((from + L"\\*").c_str(), &data));
    if (!find.Found()) return false;
    int copied = 0;
    bool ok = true;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        ok = CopyFileW((from + L"\\" + data.cFileName).c_str(), (to + L"\\" + data.cFileName).c_str(), FALSE) && ok;
        ++copied;
    } while (FindNextFileW(find.Get(), &data));
    return ok && copied > 0;
}

int MeasureMsi(int rounds, const std::vector<std::wstring>& packages)
{
    // The order of `packages`, then the device walks alone.
    const char* names[] = {"example", "empty", "none", "walks"};
    const int EXAMPLE = 0, EMPTY = 1, NONE = 2, WALKS = 3, variants = 4;
    std::wstring logFolder = WorkFolder(L"bench-msi");
    if (!CheckCpuAccounting()) return 1;
    bool ok = true, samePasses = true;
    std::string failures;
    int examplePauses = -1;
    // The example's and the empty package's install and removal start Wine's installer
    // service and its custom action server and warm the caches up; they are not counted. The
    // example's tell how many removal passes each road makes.
    MsiRun warmInstall = RunMsiexec(L"/i", packages[EXAMPLE], logFolder);
    // The floor's package folder: a copy of the example's, as its install leaves it.
    std::wstring driverFolder = logFolder + L"\\drivers";
    if (!CopyFolder(InstalledDriverFolder(), driverFolder)) failures += " the example's driver folder not copied;";
    MsiRun warmRemove = RunMsiexec(L"/x", packages[EXAMPLE], logFolder);
    if (!warmInstall.ok || !warmRemove.ok) failures += " example (warming up);";
    MsiRun warm = RunMsiexec(L"/i", packages[EMPTY], logFolder);
    if (!warm.ok || !RunMsiexec(L"/x", packages[EMPTY], logFolder).ok) failures += " empty (warming up);";
    ok = failures.empty();
    for (int round = 0; round < rounds; ++round) {
        MsiRun install[variants], remove[variants];
        for (int turn = 0; turn < variants; ++turn) {
            // Each round starts with the next variant.
            int v = (turn + round) % variants;
            if (v == WALKS) {
                // The install's platform calls stage the package that the removal's uninstall.
                install[v] = RunRoad(L"install", warmInstall.passes, driverFolder, logFolder);
                remove[v] = RunRoad(L"remove", warmRemove.passes, driverFolder, logFolder);
            } else {
                install[v] = RunMsiexec(L"/i", packages[v], logFolder);
                remove[v] = RunMsiexec(L"/x", packages[v], logFolder);
            }
            if (!install[v].ok || !remove[v].ok) {
                ok = false;
                failures += std::string(" ") + names[v] + ": /i " + std::to_string(install[v].exitCode) + ", /x " +
                            std::to_string(remove[v].exitCode) + " (round " + std::to_string(round + 1) +
                            "; a run that could not start gives its error code);";
            }
            if (v == EXAMPLE) {
                examplePauses = install[v].pauses;
                samePasses =
                    samePasses && install[v].passes == warmInstall.passes && remove[v].passes == warmRemove.passes;
            }
        }
        // Only runs that went as they must give samples (the check above fails the others).
        for (int v = 0; v < variants; ++v) {
            if (install[v].ok) Sample(std::string("msi.") + names[v] + ".install_ms", install[v].ms);
            if (remove[v].ok) Sample(std::string("msi.") + names[v] + ".remove_ms", remove[v].ms);
            if (install[v].ok) Sample(std::string("msi.") + names[v] + ".install_wall_ms", install[v].wallMs);
            if (remove[v].ok) Sample(std::string("msi.") + names[v] + ".remove_wall_ms", remove[v].wallMs);
        }
        Sample("msi.walks.install_passes", warmInstall.passes);
        Sample("msi.walks.remove_passes", warmRemove.passes);
        if (install[EXAMPLE].ok && install[EMPTY].ok) {
            Sample("msi.own.install_ms", install[EXAMPLE].ms - install[EMPTY].ms);
            Sample("msi.own.install_wall_ms", install[EXAMPLE].wallMs - install[EMPTY].wallMs);
        }
        if (remove[EXAMPLE].ok && remove[EMPTY].ok) {
            Sample("msi.own.remove_ms", remove[EXAMPLE].ms - remove[EMPTY].ms);
            Sample("msi.own.remove_wall_ms", remove[EXAMPLE].wallMs - remove[EMPTY].wallMs);
        }
        if (install[EMPTY].ok && install[NONE].ok) Sample("msi.dll.install_ms", install[EMPTY].ms - install[NONE].ms);
        if (remove[EMPTY].ok && remove[NONE].ok) Sample("msi.dll.remove_ms", remove[EMPTY].ms - remove[NONE].ms);
    }
    ok = Check("msi.exit_codes", ok, "msiexec or the roads' platform calls failed:" + failures) && ok;
    ok = Check("msi.example_pause", examplePauses == 1,
               "the example's install waited after " + std::to_string(examplePauses) + " rescans, not 1") &&
         ok;
    ok = Check("msi.removal_passes", warmInstall.passes > 0 && warmRemove.passes > 0 && samePasses,
               "the example's removal passes were /i " + std::to_string(warmInstall.passes) + ", /x " +
                   std::to_string(warmRemove.passes) + ", and not the same in every round") &&
         ok;
    ok = CheckSettled("msi") && ok;
    return ok ? 0 : 1;
}

int Usage()
{
    fprintf(stderr,
            "usage: wine_bench log ROUNDS LINES\n"
            "       wine_bench sweep ROUNDS SMALL LARGE   (SMALL < LARGE)\n"
            "       wine_bench msi ROUNDS EXAMPLE.msi EMPTY.msi NONE.msi\n"
            "       wine_bench road install|remove PASSES FOLDER OUT\n");
    return 2;
}

int Positive(const wchar_t* text)
{
    wchar_t* end = 0;
    long value = wcstol(text, &end, 10);
    return end != text && *end == 0 && value > 0 ? static_cast<int>(value) : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) return Usage();
    std::wstring mode = argv[1];
    if (mode == L"road" && argc == 6 && Positive(argv[3]))
        return MeasureRoad(argv[2], Positive(argv[3]), argv[4], argv[5]);
    // The rounds, or for the walks their passes.
    int rounds = Positive(argv[2]);
    if (!rounds) return Usage();
    if (mode == L"log" && argc == 4 && Positive(argv[3])) return MeasureLog(rounds, Positive(argv[3]));
    // The stores are told apart by their sizes: the small one first.
    if (mode == L"sweep" && argc == 5 && Positive(argv[3]) && Positive(argv[3]) < Positive(argv[4]))
        return MeasureSweep(rounds, Positive(argv[3]), Positive(argv[4]));
    if (mode == L"msi" && argc == 6) return MeasureMsi(rounds, std::vector<std::wstring>(argv + 3, argv + 6));
    return Usage();
}
