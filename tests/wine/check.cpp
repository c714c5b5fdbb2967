#include "check.h"

#include <msi.h>
#include <setupapi.h>
#include <stdio.h>

#include <vector>

namespace {

struct Case {
    const char* name;
    CaseFunction function;
};

std::vector<Case>& Cases()
{
    static std::vector<Case> cases;
    return cases;
}

std::vector<std::wstring>& Arguments()
{
    static std::vector<std::wstring> arguments;
    return arguments;
}

int failures;

}  // namespace

CaseRegistration::CaseRegistration(const char* name, CaseFunction function) { Cases().push_back(Case{name, function}); }

bool CheckThat(bool ok, const char* what, const char* file, int line)
{
    if (!ok) {
        ++failures;
        printf("  %s:%d: check failed: %s\n", file, line, what);
    }
    return ok;
}

static std::string Shown(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F)
            out.push_back(static_cast<char>(c));
        else if (c == '\n')
            out += "\\n";
        else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

bool CheckEqual(const std::string& actual, const std::string& expected, const char* what, const char* file, int line)
{
    if (actual == expected) return true;
    ++failures;
    printf("  %s:%d: %s\n    is:     \"%s\"\n    wanted: \"%s\"\n", file, line, what, Shown(actual).c_str(),
           Shown(expected).c_str());
    return false;
}

const std::wstring& Argument(int index)
{
    static const std::wstring none;
    return index < static_cast<int>(Arguments().size()) ? Arguments()[index] : none;
}

const std::wstring& BedName() { return Argument(1); }

std::wstring DistFile(const wchar_t* name)
{
    std::wstring folder = Argument(0);
    if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
    return folder + name;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string Utf8(const std::wstring& text)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& text)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

std::string TextModeBytes(const std::wstring& text)
{
    std::string bytes;
    for (wchar_t unit : text) {
        unsigned char low = static_cast<unsigned char>(unit & 0xFF), high = static_cast<unsigned char>(unit >> 8);
        for (unsigned char b : {low, high}) {
            if (b == 0x0A) bytes.push_back('\x0D');
            bytes.push_back(static_cast<char>(b));
        }
    }
    return bytes;
}

std::wstring FreshFolder(const wchar_t* name)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + name;
    // Empty it: the cases of one run share a prefix.
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW((folder + L"\\" + data.cFileName).c_str());
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

bool Is64BitProcess() { return sizeof(void*) == 8; }

bool IsWow64()
{
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

bool Is64BitWindows() { return Is64BitProcess() || IsWow64(); }

std::wstring SystemFolder()
{
    wchar_t folder[MAX_PATH];
    UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    return length && length < MAX_PATH ? std::wstring(folder, length) : std::wstring();
}

std::wstring Wow64SystemFolder()
{
    wchar_t folder[MAX_PATH];
    UINT length = GetSystemWow64DirectoryW(folder, MAX_PATH);
    return length && length < MAX_PATH ? std::wstring(folder, length) : std::wstring();
}

std::wstring SystemDriversFolder() { return SystemFolder() + L"\\drivers\\"; }

std::wstring Wow64DriversFolder()
{
    std::wstring folder = Wow64SystemFolder();
    return folder.empty() ? folder : folder + L"\\drivers\\";
}

NativeView::NativeView() : oldValue_(nullptr), disabled_(FALSE)
{
    if (IsWow64()) disabled_ = Wow64DisableWow64FsRedirection(&oldValue_);
}

NativeView::~NativeView()
{
    if (disabled_) Wow64RevertWow64FsRedirection(oldValue_);
}

std::string PointerText(const void* pointer)
{
    // The runtime's own wide formatting, as Drvmate's log uses it.
    wchar_t text[32];
    _snwprintf(text, 32, L"%p", pointer);
    text[31] = 0;
    return Utf8(text);
}

bool MatchesShape(const std::string& line, const std::string& shape)
{
    const size_t pointerDigits = 2 * sizeof(void*);
    size_t at = 0;
    for (size_t i = 0; i < shape.size(); ++i) {
        if (shape.compare(i, 2, "%P") == 0) {
            for (size_t n = 0; n < pointerDigits; ++n, ++at) {
                if (at >= line.size()) return false;
                char c = line[at];
                if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
            }
            ++i;
        } else if (at >= line.size() || line[at++] != shape[i]) {
            return false;
        }
    }
    return at == line.size();
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

bool StartsWith(const std::string& text, const std::string& start) { return text.compare(0, start.size(), start) == 0; }

namespace {

HANDLE InheritableOutput(const std::wstring& path)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
}

}  // namespace

ULONGLONG MonotonicMs()
{
    LARGE_INTEGER frequency, count;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&count);
    return static_cast<ULONGLONG>(count.QuadPart / (frequency.QuadPart / 1000));
}

namespace {

// Prints the processes of a job, by id and program, such as those of a run that hangs.
void PrintJobProcesses(HANDLE job)
{
    // The list ends in an array of one, which the call fills beyond: room for a few dozen.
    const DWORD most = 32;
    std::vector<ULONG_PTR> buffer(most + 2);
    auto list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(buffer.data());
    list->NumberOfAssignedProcesses = most;
    if (!QueryInformationJobObject(job, JobObjectBasicProcessIdList, list, buffer.size() * sizeof(ULONG_PTR), nullptr))
        return;
    const ULONG_PTR* ids = list->ProcessIdList;
    for (DWORD i = 0; i < list->NumberOfProcessIdsInList; ++i) {
        DWORD id = static_cast<DWORD>(ids[i]);
        wchar_t name[MAX_PATH] = L"?";
        DWORD length = MAX_PATH;
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
        if (process) {
            if (!QueryFullProcessImageNameW(process, 0, name, &length)) name[0] = L'?', name[1] = 0;
            CloseHandle(process);
        }
        printf("    still running: process %lu, %s\n", id, Utf8(name).c_str());
    }
}

}  // namespace

bool RunWithinLimit(HANDLE process, HANDLE thread, const std::wstring& commandLine,
                    const std::function<void()>& whileRunning)
{
    // The job holds every process that this one starts, such as msiexec's custom-action server.
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job && !AssignProcessToJobObject(job, process)) {
        printf("  %s runs outside a job (error %lu)\n", Utf8(commandLine).c_str(), GetLastError());
        CloseHandle(job);
        job = nullptr;
    }
    ResumeThread(thread);
    ULONGLONG started = MonotonicMs();
    bool ended = false;
    for (;;) {
        ULONGLONG elapsed = MonotonicMs() - started;
        if (elapsed >= RunLimitMs) break;
        DWORD wait = whileRunning ? PollMs : static_cast<DWORD>(RunLimitMs - elapsed);
        if (WaitForSingleObject(process, wait) != WAIT_TIMEOUT) {
            ended = true;
            break;
        }
        if (whileRunning) whileRunning();
    }
    if (!ended) {
        ++failures;
        printf("  still running after %lu s, so ended with what it started: %s\n", RunLimitMs / 1000,
               Utf8(commandLine).c_str());
        if (job) PrintJobProcesses(job);
        if (!job || !TerminateJobObject(job, EndedAtLimit)) TerminateProcess(process, EndedAtLimit);
        WaitForSingleObject(process, PollMs * 250);
    }
    if (job) CloseHandle(job);
    return ended;
}

ProgramRun RunProgram(std::wstring commandLine, const std::wstring& folder, const std::function<void()>& whileRunning)
{
    ProgramRun run;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring outPath = std::wstring(temp) + L"program-stdout.txt";
    std::wstring errPath = std::wstring(temp) + L"program-stderr.txt";
    HANDLE out = InheritableOutput(outPath), err = InheritableOutput(errPath);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process = {};
    run.started = CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                                 folder.empty() ? nullptr : folder.c_str(), &startup, &process);
    CloseHandle(out);
    CloseHandle(err);
    if (run.started) {
        RunWithinLimit(process.hProcess, process.hThread, commandLine, whileRunning);
        GetExitCodeProcess(process.hProcess, &run.exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    } else {
        printf("  could not start: %s (error %lu)\n", Utf8(commandLine).c_str(), GetLastError());
    }
    run.out = ReadBytes(outPath);
    run.err = ReadBytes(errPath);
    return run;
}

namespace {

// Whether a case runs: every case when no names follow the folder and the bed, else the named.
bool Selected(const char* name)
{
    if (Arguments().size() <= 2) return true;
    for (size_t i = 2; i < Arguments().size(); ++i)
        if (Arguments()[i] == Wide(name)) return true;
    return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    for (int i = 1; i < argc; ++i) Arguments().push_back(argv[i]);
    int passed = 0, failed = 0;
    for (const Case& c : Cases()) {
        if (!Selected(c.name)) continue;
        int before = failures;
        c.function();
        if (failures == before) {
            ++passed;
            printf("[ OK ] %s\n", c.name);
        } else {
            ++failed;
            printf("[FAIL] %s\n", c.name);
        }
        fflush(stdout);
    }
    printf("%d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}

DWORD RunToEnd(std::wstring commandLine, const std::wstring& folder)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &process))
        return static_cast<DWORD>(-1);
    RunWithinLimit(process.hProcess, process.hThread, commandLine);
    DWORD code = static_cast<DWORD>(-1);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

bool CreateSampleDevice()
{
    static const wchar_t className[] = L"TesmarUsb";
    static const GUID classGuid = {0xF72FE0D4, 0xCBCB, 0x407d, {0x88, 0x14, 0x9E, 0xD6, 0x73, 0xD0, 0xDD, 0x6B}};
    static const wchar_t hardwareId[] = L"USB\\VID_1D6B&PID_7E57\0";
    HDEVINFO set = SetupDiCreateDeviceInfoList(&classGuid, nullptr);
    if (set == INVALID_HANDLE_VALUE) return false;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    bool ok = SetupDiCreateDeviceInfoW(set, className, &classGuid, nullptr, nullptr, DICD_GENERATE_ID, &device) &&
              SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID,
                                                reinterpret_cast<const BYTE*>(hardwareId), sizeof hardwareId) &&
              SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device);
    if (!ok) printf("  creating the sample device failed: %lu\n", GetLastError());
    SetupDiDestroyDeviceInfoList(set);
    return ok;
}

std::vector<std::wstring> RegisteredProducts()
{
    static const wchar_t UPGRADE_CODE[] = L"{6B0E3C4A-51D2-4F0B-9B5E-2C7A9E1D4F10}";
    std::vector<std::wstring> products;
    wchar_t code[39];
    for (DWORD index = 0; MsiEnumRelatedProductsW(UPGRADE_CODE, 0, index, code) == ERROR_SUCCESS; ++index)
        products.push_back(code);
    return products;
}
