// A small harness for the test programs that run under Wine: named cases, checks that note
// what failed, and a closing "N passed, N failed" line.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "bytes.h"

typedef void (*CaseFunction)();

struct CaseRegistration {
    CaseRegistration(const char* name, CaseFunction function);
};

#define WINE_CASE(name)                                        \
    static void name();                                        \
    static CaseRegistration name##_registration(#name, &name); \
    static void name()

bool CheckThat(bool ok, const char* what, const char* file, int line);
#define CHECK(condition) CheckThat((condition), #condition, __FILE__, __LINE__)
bool CheckEqual(const std::string& actual, const std::string& expected, const char* what, const char* file, int line);
#define CHECK_EQ(actual, expected) CheckEqual((actual), (expected), #actual, __FILE__, __LINE__)

// Arguments the program was started with, after its name: test.sh passes the folder with the
// deliverables of this program's build (dist/win64 or dist/win32), then the bed's name. Names
// of cases after these two run those cases only.
const std::wstring& Argument(int index);
// A file of the folder with the deliverables.
std::wstring DistFile(const wchar_t* name);
// The bed that test.sh says this program runs in: "x64", "wow64" or "x86".
const std::wstring& BedName();

// The Windows this program runs on, as it finds out at run time. The same sources are built
// for x86_64 and i686 and run in three beds: a 64-bit process on 64-bit Windows, a 32-bit
// process on 64-bit Windows (WOW64), and a 32-bit process on 32-bit Windows.
bool Is64BitProcess();
bool IsWow64();  // IsWow64Process says TRUE
bool Is64BitWindows();
std::wstring SystemFolder();       // GetSystemDirectoryW
std::wstring Wow64SystemFolder();  // GetSystemWow64DirectoryW; empty on 32-bit Windows
// The folders that Drvmate deletes driver binaries from, named as it names them, each ending
// with a backslash: the system directory's "drivers" and, on 64-bit Windows, the WOW64 system
// directory's (empty on 32-bit Windows). Under WOW64 the system directory's name reaches the
// native folder only while redirection is off (NativeView), else the WOW64 one.
std::wstring SystemDriversFolder();
std::wstring Wow64DriversFolder();

// Switches this thread's WOW64 file-system redirection off while it lives, so that the system
// directory's name reaches the native folder; outside WOW64 there is nothing to switch.
class NativeView {
public:
    NativeView();
    ~NativeView();
    NativeView(const NativeView&) = delete;
    NativeView& operator=(const NativeView&) = delete;

private:
    void* oldValue_;
    BOOL disabled_;
};

// A pointer as the Windows runtime prints %p: upper-case hexadecimal digits, two per byte.
std::string PointerText(const void* pointer);
// Whether a log line has the given shape, in which "%P" stands for a pointer printed by %p.
bool MatchesShape(const std::string& line, const std::string& shape);
// The lines of a text, without their line ends.
std::vector<std::string> Lines(const std::string& text);
bool StartsWith(const std::string& text, const std::string& start);

// A program run to its end: its exit code and what it wrote to standard output and error.
struct ProgramRun {
    bool started = false;
    DWORD exitCode = 0;
    std::string out;
    std::string err;
};
// Milliseconds on the performance counter, which follows the clock everywhere. GetTickCount
// reads a page that Wine shares between its server and each process; under qemu's user-mode
// emulation with large host pages that page is a copy, and the count stands still.
ULONGLONG MonotonicMs();

// How long a program that a case starts may run (they take seconds). One still running then
// fails the case with its command line named and is ended with every process it started, so
// that a hang costs that case only and leaves no installation running into the next ones.
const DWORD RunLimitMs = 120000;
// The exit code that a program ended at the limit is given.
const DWORD EndedAtLimit = 0xDEAD;
const DWORD PollMs = 20;

// Lets a process that was created suspended run, in a job of its own, and waits for its end
// within RunLimitMs, calling `whileRunning`, when given, about every PollMs milliseconds.
// Returns false when it was ended at the limit (a failed check that names `commandLine`).
bool RunWithinLimit(HANDLE process, HANDLE thread, const std::wstring& commandLine,
                    const std::function<void()>& whileRunning = std::function<void()>());

// Runs a command line in a folder (this program's own when empty) to its end; `whileRunning`,
// when given, is called about every PollMs milliseconds until the program has ended.
ProgramRun RunProgram(std::wstring commandLine, const std::wstring& folder = std::wstring(),
                      const std::function<void()>& whileRunning = std::function<void()>());

// Files and text (ReadBytes and WriteBytes in bytes.h).
bool Exists(const std::wstring& path);
std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& text);
// The bytes that a wide text reaches a file with through a text-mode stream.
std::string TextModeBytes(const std::wstring& text);
// A fresh, empty folder under the Wine prefix's temporary folder.
std::wstring FreshFolder(const wchar_t* name);

// Runs a command line in `folder` (the current one when empty) and returns its exit code, or
// -1 when it could not start (EndedAtLimit when it ran past RunLimitMs).
DWORD RunToEnd(std::wstring commandLine, const std::wstring& folder = std::wstring());
// A present, root-enumerated device of the driver package's class with the sample's hardware
// ID, made as Windows' own device tools make one.
bool CreateSampleDevice();
// The product codes that Windows Installer has registered under the example package's UpgradeCode.
std::vector<std::wstring> RegisteredProducts();
