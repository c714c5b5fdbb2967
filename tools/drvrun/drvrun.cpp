// drvrun: calls one export of Drvmate.dll with a null installer session, prints its result
// and the lines it added to the installer log.
//
// With a null session the install, uninstall and upgrade exports work on the folder of the
// calling program's executable: place drvrun.exe and Drvmate.dll next to the driver package
// (one INF and its .SYS files) and run it there.
//
// That folder is often a download or removable-media folder that anyone could have put files
// into, and the runner runs as administrator. So no library is taken from it but Drvmate.dll,
// loaded by its full path: every other library comes from the system folder.
//
//   drvrun install|uninstall|upgrade|rescan|wow64 [path\to\Drvmate.dll]
//   drvrun report [--class {GUID}] [--json]      (report.h: what the machine holds; changes nothing)
#include <windows.h>
#include <stdio.h>

#include <string>

#include "decode.h"
#include "report.h"

namespace {

typedef UINT(WINAPI* SessionExport)(unsigned long);
typedef BOOL(WINAPI* SetDefaultDllDirectoriesFunction)(DWORD directoryFlags);
typedef UINT(WINAPI* PlainExport)();

UINT CallWithNullSession(FARPROC function) { return reinterpret_cast<SessionExport>(function)(0); }
UINT CallWithoutArguments(FARPROC function) { return reinterpret_cast<PlainExport>(function)(); }

// One command of the runner: its name on the command line, the export it calls and how.
struct Command {
    const char* name;
    const char* exportName;
    UINT (*call)(FARPROC function);
};

const Command COMMANDS[] = {
    {"install", "InstallDeviceDriver", CallWithNullSession},
    {"uninstall", "UninstallDeviceDriver", CallWithNullSession},
    {"upgrade", "UpgradeDeviceDriver", CallWithNullSession},
    {"rescan", "_RescanDevices", CallWithoutArguments},
    {"wow64", "_IsWow64System", CallWithoutArguments},
};

// The command did not run: no such command, or the library or its export is missing.
const int NOT_RUN_EXIT_CODE = 2;

// The libraries that Drvmate.dll imports which are not KnownDLLs on every Windows it serves:
// the loader would look for them in the program's folder first.
const wchar_t* const DRVMATE_SYSTEM_IMPORTS[] = {L"msi.dll", L"setupapi.dll"};

std::wstring SystemFolder()
{
    wchar_t folder[MAX_PATH];
    UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    return n == 0 || n >= MAX_PATH ? std::wstring() : std::wstring(folder);
}

// Makes the system folder the only one that the loader searches for this process's libraries,
// Drvmate.dll's imports and what it loads by name included. SetDefaultDllDirectories is bound by
// name: Windows 8 has it, Vista and 7 with KB2533623. Without it the imports are mapped from the
// system folder beforehand, where the loader then finds them among the loaded modules; they stay
// mapped for the life of the process. True when the search flags can be used.
bool SearchSystemFolderOnly()
{
    SetDefaultDllDirectoriesFunction setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories"));
    if (setDefaultDllDirectories && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) return true;
    std::wstring system = SystemFolder();
    if (!system.empty())
        for (const wchar_t* name : DRVMATE_SYSTEM_IMPORTS)
            LoadLibraryExW((system + L"\\" + name).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return false;
}

// The library's full path: the one given, resolved, or Drvmate.dll next to this program.
std::wstring LibraryPath(const wchar_t* given)
{
    wchar_t path[MAX_PATH];
    if (given) {
        DWORD n = GetFullPathNameW(given, MAX_PATH, path, nullptr);
        return n == 0 || n >= MAX_PATH ? std::wstring() : std::wstring(path);
    }
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::wstring();
    std::wstring folder(path, n);
    return folder.substr(0, folder.rfind(L'\\') + 1) + L"Drvmate.dll";
}

std::wstring LogPath()
{
    wchar_t temp[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::wstring();
    return std::wstring(temp) + L"\\drvmate.log";
}

std::string ReadAll(const std::wstring& path)
{
    std::string bytes;
    FILE* file = path.empty() ? nullptr : _wfopen(path.c_str(), L"rb");
    if (!file) return bytes;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, n);
    fclose(file);
    return bytes;
}

std::string Utf8(const std::wstring& text)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
    return out;
}

// The command of that name, or null.
const Command* FindCommand(const std::string& name)
{
    for (const Command& command : COMMANDS)
        if (name == command.name) return &command;
    return nullptr;
}

int Usage()
{
    std::string names;
    for (const Command& command : COMMANDS) names += (names.empty() ? "" : "|") + std::string(command.name);
    fprintf(stderr, "usage: drvrun %s [path\\to\\Drvmate.dll]\n       drvrun report [--class {GUID}] [--json]\n",
            names.c_str());
    return NOT_RUN_EXIT_CODE;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc >= 2 && wcscmp(argv[1], L"report") == 0) return DrvrunReport(argc - 2, argv + 2, stdout, stderr);
    if (argc < 2 || argc > 3) return Usage();
    const Command* command = FindCommand(Utf8(argv[1]));
    if (!command) return Usage();

    const wchar_t* library = argc == 3 ? argv[2] : L"Drvmate.dll";
    DWORD flags = SearchSystemFolderOnly() ? LOAD_LIBRARY_SEARCH_SYSTEM32 : LOAD_WITH_ALTERED_SEARCH_PATH;
    std::wstring path = LibraryPath(argc == 3 ? argv[2] : nullptr);
    HMODULE module = path.empty() ? nullptr : LoadLibraryExW(path.c_str(), nullptr, flags);
    if (!module) {
        fwprintf(stderr, L"drvrun: cannot load %ls: error %lu\n", library, GetLastError());
        return NOT_RUN_EXIT_CODE;
    }
    FARPROC function = GetProcAddress(module, command->exportName);
    if (!function) {
        fprintf(stderr, "drvrun: %s is not exported\n", command->exportName);
        FreeLibrary(module);
        return NOT_RUN_EXIT_CODE;
    }

    std::wstring log = LogPath();
    size_t before = ReadAll(log).size();
    UINT result = command->call(function);
    FreeLibrary(module);

    printf("%s returned %u\n", command->exportName, result);
    std::string bytes = ReadAll(log);
    if (bytes.size() >= before) {
        DecodedLog text = DecodeInstallerLog(bytes.substr(before));
        printf("--- %s ---\n%s", Utf8(log).c_str(), text.text.c_str());
        for (const std::string& problem : text.problems) printf("(log: %s)\n", problem.c_str());
    }
    return 0;
}
