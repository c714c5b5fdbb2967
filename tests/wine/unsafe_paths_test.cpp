// Paths at the 260-character limit under Wine: a copy of this program calls the exports with
// a null session from a package folder of 255 characters, and from a folder whose path does
// not fit the buffer of GetModuleFileNameW, which cuts it inside a folder's name.
#include "check.h"

#include <winternl.h>

#include "decode.h"

namespace {

const wchar_t SAMPLE_INF[] = L"tesmar-sample.inf";
const wchar_t SAMPLE_BINARY[] = L"tesmarsample.sys";
const size_t LOG_TEXT_LIMIT = 254;  // characters of one log line before its line end

// A copy of this program started with these variables set calls the export they name in the
// library they name, with a null session, and ends with its result before any case runs.
const wchar_t EXPORT_VARIABLE[] = L"UNSAFE_PATHS_EXPORT";
const wchar_t LIBRARY_VARIABLE[] = L"UNSAFE_PATHS_LIBRARY";
const DWORD CALL_NOT_MADE = 100;  // exit code of a copy that could not reach the export

typedef UINT(WINAPI* SessionExport)(unsigned long);  // the installer session handle

int CallExportWhenAsked()
{
    wchar_t name[64], library[MAX_PATH];
    DWORD nameLength = GetEnvironmentVariableW(EXPORT_VARIABLE, name, 64);
    if (nameLength == 0 || nameLength >= 64) return 0;
    DWORD libraryLength = GetEnvironmentVariableW(LIBRARY_VARIABLE, library, MAX_PATH);
    HMODULE module = libraryLength && libraryLength < MAX_PATH ? LoadLibraryW(library) : nullptr;
    std::string exportName = Utf8(name);
    SessionExport call = module ? reinterpret_cast<SessionExport>(GetProcAddress(module, exportName.c_str())) : nullptr;
    ExitProcess(call ? call(0) : CALL_NOT_MADE);
}
const int exportCalled = CallExportWhenAsked();

// The native process calls, bound by name in ntdll.dll. Unlike CreateProcessW, which refuses
// an application path of MAX_PATH characters or more, they take an NT path of any length.
struct ProcessInformation {
    ULONG length;
    HANDLE process;
    HANDLE thread;
    CLIENT_ID clientId;
    BYTE imageInformation[64];  // SECTION_IMAGE_INFORMATION, not read here
};
typedef NTSTATUS(NTAPI* CreateProcessParametersFunction)(PRTL_USER_PROCESS_PARAMETERS*, PUNICODE_STRING image,
                                                         PUNICODE_STRING dllPath, PUNICODE_STRING currentDirectory,
                                                         PUNICODE_STRING commandLine, PVOID environment,
                                                         PUNICODE_STRING title, PUNICODE_STRING desktop,
                                                         PUNICODE_STRING shellInfo, PUNICODE_STRING runtimeData);
typedef NTSTATUS(NTAPI* DestroyProcessParametersFunction)(PRTL_USER_PROCESS_PARAMETERS);
typedef NTSTATUS(NTAPI* CreateUserProcessFunction)(PUNICODE_STRING ntImage, ULONG attributes,
                                                   PRTL_USER_PROCESS_PARAMETERS, PSECURITY_DESCRIPTOR,
                                                   PSECURITY_DESCRIPTOR, HANDLE parent, BOOLEAN inheritHandles,
                                                   HANDLE debugPort, HANDLE exceptionPort, ProcessInformation*);
typedef BOOLEAN(NTAPI* DosPathToNtPathFunction)(PCWSTR, PUNICODE_STRING, PCWSTR*, PVOID);
typedef VOID(NTAPI* FreeUnicodeStringFunction)(PUNICODE_STRING);

UNICODE_STRING Counted(const std::wstring& text)
{
    UNICODE_STRING counted;
    counted.Buffer = const_cast<PWSTR>(text.c_str());
    counted.Length = static_cast<USHORT>(text.size() * sizeof(wchar_t));
    counted.MaximumLength = static_cast<USHORT>(counted.Length + sizeof(wchar_t));
    return counted;
}

// Starts `program` (a full path of any length) in `folder` with this process's environment,
// waits for it and returns its exit code, or -1 when it could not be started.
DWORD RunProgram(const std::wstring& program, const std::wstring& folder)
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto createParameters =
        reinterpret_cast<CreateProcessParametersFunction>(GetProcAddress(ntdll, "RtlCreateProcessParameters"));
    auto destroyParameters =
        reinterpret_cast<DestroyProcessParametersFunction>(GetProcAddress(ntdll, "RtlDestroyProcessParameters"));
    auto createProcess = reinterpret_cast<CreateUserProcessFunction>(GetProcAddress(ntdll, "RtlCreateUserProcess"));
    auto toNtPath = reinterpret_cast<DosPathToNtPathFunction>(GetProcAddress(ntdll, "RtlDosPathNameToNtPathName_U"));
    auto freeString = reinterpret_cast<FreeUnicodeStringFunction>(GetProcAddress(ntdll, "RtlFreeUnicodeString"));
    if (!CHECK(createParameters && destroyParameters && createProcess && toNtPath && freeString)) return DWORD(-1);

    UNICODE_STRING ntImage;
    if (!CHECK(toNtPath(program.c_str(), &ntImage, nullptr, nullptr))) return DWORD(-1);
    std::wstring commandLine = L"\"" + program + L"\"";
    UNICODE_STRING image = Counted(program), command = Counted(commandLine), directory = Counted(folder);
    PRTL_USER_PROCESS_PARAMETERS parameters = nullptr;
    DWORD code = DWORD(-1);
    if (CHECK(createParameters(&parameters, &image, nullptr, &directory, &command, nullptr, nullptr, nullptr, nullptr,
                               nullptr) == 0)) {
        ProcessInformation process = {sizeof process, nullptr, nullptr, {}, {}};
        if (CHECK(createProcess(&ntImage, OBJ_CASE_INSENSITIVE, parameters, nullptr, nullptr, nullptr, FALSE, nullptr,
                                nullptr, &process) == 0)) {
            if (RunWithinLimit(process.process, process.thread, commandLine))
                GetExitCodeProcess(process.process, &code);
            CloseHandle(process.thread);
            CloseHandle(process.process);
        }
        destroyParameters(parameters);
    }
    freeString(&ntImage);
    return code;
}

// Runs the copy of this program at `program`, which calls the named export with a null session.
DWORD CallExport(const std::wstring& program, const wchar_t* exportName, const std::wstring& folder)
{
    SetEnvironmentVariableW(EXPORT_VARIABLE, exportName);
    SetEnvironmentVariableW(LIBRARY_VARIABLE, DistFile(L"Drvmate.dll").c_str());
    DWORD code = RunProgram(program, folder);
    SetEnvironmentVariableW(EXPORT_VARIABLE, nullptr);
    SetEnvironmentVariableW(LIBRARY_VARIABLE, nullptr);
    return code;
}

// The same path with the prefix that lifts the 260-character limit of the file calls.
std::wstring Unlimited(const std::wstring& path) { return L"\\\\?\\" + path; }

// Makes every missing folder of `path` up to its last backslash.
bool MakeFolders(const std::wstring& path)
{
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
        if (!CreateDirectoryW(Unlimited(path.substr(0, at)).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    return true;
}

bool CopyInto(const std::wstring& source, const std::wstring& target)
{
    return CopyFileW(Unlimited(source).c_str(), Unlimited(target).c_str(), FALSE) != 0;
}

std::wstring ThisProgram()
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return length && length < MAX_PATH ? path : L"";
}

std::wstring DriversFile(const wchar_t* name)
{
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system) + L"\\drivers\\" + name;
}

// The installer log's text; the log reader must find it valid.
std::string LogText(const std::wstring& path)
{
    DecodedLog log = DecodeInstallerLog(ReadBytes(path));
    CHECK(log.problems.empty());
    return log.text;
}

}  // namespace

// What the sequences rely on: a path that reaches the buffer's size comes back cut, with the
// size as the result and ERROR_INSUFFICIENT_BUFFER. Windows since Vista writes a terminator
// in the last place; Wine 8.0 fills it with the path's next character, as Windows XP did.
WINE_CASE(get_module_file_name_cuts_a_path_that_reaches_the_buffer_size)
{
    std::wstring whole = ThisProgram();
    if (!CHECK(whole.size() > 8)) return;
    DWORD size = static_cast<DWORD>(whole.size());
    wchar_t buffer[MAX_PATH];
    SetLastError(ERROR_ACCESS_DENIED);
    CHECK(GetModuleFileNameW(nullptr, buffer, size) == size);
    CHECK(GetLastError() == ERROR_INSUFFICIENT_BUFFER);
    CHECK(whole.compare(0, size - 1, buffer, size - 1) == 0);
    CHECK(buffer[size - 1] == 0 || buffer[size - 1] == whole[size - 1]);
    CHECK(GetModuleFileNameW(nullptr, buffer, size + 1) == size);
    CHECK(std::wstring(buffer) == whole);
}

// "<folder>.inf" has 259 characters, but "<folder>*.SYS" would have 260: the install refuses the
// folder before it removes or deletes anything.
WINE_CASE(package_folder_of_255_characters_is_refused)
{
    std::wstring base = FreshFolder(L"unsafe-paths-255");
    SetEnvironmentVariableW(L"TEMP", base.c_str());
    std::wstring log = base + L"\\drvmate.log";
    std::wstring folder = base + L"\\";
    folder += std::wstring(254 - folder.size(), L'p') + L"\\";
    // The copy's name is short enough for its whole path to fit: 258 characters.
    std::wstring program = folder + L"d.x";
    bool placed = MakeFolders(folder) && CopyInto(ThisProgram(), program) &&
                  CopyInto(DistFile(L"sample-driver\\") + SAMPLE_INF, folder + L".inf") &&
                  CopyInto(DistFile(L"sample-driver\\") + SAMPLE_BINARY, folder + SAMPLE_BINARY) &&
                  WriteBytes(DriversFile(SAMPLE_BINARY), "planted");
    if (!CHECK(placed && folder.size() == 255)) return;

    CHECK(CallExport(program, L"InstallDeviceDriver", base) == 2);
    std::string folderText = Utf8(folder);
    CHECK_EQ(LogText(log), "Getting Module filename...\n" +
                               ("Module filename: " + folderText + "d.x").substr(0, LOG_TEXT_LIMIT) + "\n" +
                               "package folder too long: " + folderText.substr(0, 200) + "...\n");
    CHECK(ReadBytes(DriversFile(SAMPLE_BINARY)) == "planted");
    DeleteFileW(DriversFile(SAMPLE_BINARY).c_str());
}

// The copy lies in a folder whose path, with the copy's name, is longer than 259 characters:
// GetModuleFileNameW cuts it inside that folder's name, and the folder above holds another
// package. No export may take that package for the copy's own.
WINE_CASE(executable_path_cut_inside_a_folder_name_touches_nothing)
{
    std::wstring base = FreshFolder(L"unsafe-paths-cut");
    SetEnvironmentVariableW(L"TEMP", base.c_str());
    std::wstring log = base + L"\\drvmate.log";
    std::wstring folder = base + L"\\" + std::wstring(250, L'd') + L"\\";
    std::wstring program = folder + L"unsafe_paths_test.exe";
    std::wstring staged = std::wstring(L"C:\\windows\\inf\\") + SAMPLE_INF;
    DeleteFileW(staged.c_str());
    bool placed = MakeFolders(folder) && CopyInto(ThisProgram(), program) &&
                  CopyInto(DistFile(L"sample-driver\\") + SAMPLE_INF, base + L"\\" + SAMPLE_INF) &&
                  CopyInto(DistFile(L"sample-driver\\") + SAMPLE_BINARY, base + L"\\" + SAMPLE_BINARY) &&
                  WriteBytes(DriversFile(SAMPLE_BINARY), "planted");
    if (!CHECK(placed && program.size() > MAX_PATH && base.size() + 1 < MAX_PATH - 1)) return;

    CHECK(CallExport(program, L"InstallDeviceDriver", base) == 2);
    CHECK(CallExport(program, L"UninstallDeviceDriver", base) == 2);
    CHECK(CallExport(program, L"UpgradeDeviceDriver", base) == 0);
    CHECK_EQ(LogText(log),
             "Getting Module filename...\nGetModuleFileName error: 122\n"
             "GetModuleFileName error: 122\n"
             "GetModuleFileName error: 122\nGetting Module filename...\nGetModuleFileName error: 122\n");
    CHECK(ReadBytes(DriversFile(SAMPLE_BINARY)) == "planted");
    CHECK(GetFileAttributesW(staged.c_str()) == INVALID_FILE_ATTRIBUTES);
    DeleteFileW(DriversFile(SAMPLE_BINARY).c_str());
}
