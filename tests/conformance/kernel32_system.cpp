// The environment, the module file name, the system folders, run-time binding and the
// version: what Drvmate and Svcsweep read of the system they run on.
#include "harness.h"
#include "winapi.h"

#include <vector>

#include "case_text.h"
#include "known_differences.h"
#include "setup.h"

namespace {

const WCHAR Filler = W('#');

typedef UINT(WINAPI* FolderFunction)(LPWSTR buffer, UINT size);

// A folder call with a full buffer, an exact one, one character short, and none.
void CheckFolderSizes(FolderFunction read, const char* name)
{
    WCHAR buffer[MAX_PATH];
    UINT length = read(buffer, MAX_PATH);
    if (!CheckThat(length > 0 && length < MAX_PATH, name, __FILE__, __LINE__)) return;
    const Text folder(buffer, length);
    CHECK_EQ(buffer[length], 0);

    std::vector<WCHAR> exact(length + 2, Filler);
    CHECK_EQ(read(&exact[0], length + 1), length);
    CHECK_EQ(Within(&exact[0], length + 1), folder);
    // Too small: the size needed with the terminator.
    CHECK_EQ(read(&exact[0], length), length + 1);
    CHECK_EQ(read(0, 0), length + 1);
}

}  // namespace

CONFORMANCE_CASE(environment_variable_with_short_and_exact_buffers)
{
    const Text value = W("C:\\Temp");  // 7 characters
    CHECK(SetVariable(W("CONFORMANCE_FOLDER"), value));
    WCHAR buffer[16];
    for (WCHAR& c : buffer) c = Filler;
    CHECK_EQ(GetEnvironmentVariableW(W("CONFORMANCE_FOLDER"), buffer, 8), 7u);
    CHECK_EQ(Within(buffer, 8), value);
    // Too small: the size needed with the terminator, as from no buffer at all.
    CHECK_EQ(GetEnvironmentVariableW(W("CONFORMANCE_FOLDER"), buffer, 7), 8u);
    CHECK_EQ(GetEnvironmentVariableW(W("CONFORMANCE_FOLDER"), 0, 0), 8u);
    // Names are compared without regard to case.
    CHECK_EQ(GetEnvironmentVariableW(W("conformance_folder"), buffer, 16), 7u);

    SetLastError(0);
    CHECK_EQ(GetEnvironmentVariableW(W("CONFORMANCE_MISSING"), buffer, 16), 0u);
    CHECK_EQ(GetLastError(), ERROR_ENVVAR_NOT_FOUND);

    // The log's folder comes from TEMP, which every process has.
    WCHAR temp[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(W("TEMP"), temp, MAX_PATH);
    CHECK(length > 0 && length < MAX_PATH);
}

CONFORMANCE_CASE(module_file_name_with_short_and_exact_buffers)
{
    const Text path = ProgramPath();
    const DWORD length = static_cast<DWORD>(path.size());
    if (!CHECK(length > 3)) return;
    std::vector<WCHAR> buffer(length + 2, Filler);

    CHECK_EQ(GetModuleFileNameW(0, &buffer[0], length + 1), length);
    CHECK_EQ(Within(&buffer[0], length + 1), path);

    // One character short: cut to the buffer, terminator included, the buffer's size back and
    // ERROR_INSUFFICIENT_BUFFER.
    for (WCHAR& c : buffer) c = Filler;
    SetLastError(0);
    CHECK_EQ(GetModuleFileNameW(0, &buffer[0], length), length);
    CHECK_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    const bool terminated = Checked(WINE_MODULE_NAME_UNTERMINATED);
    if (terminated) {
        CHECK_EQ(Within(&buffer[0], length), path.substr(0, length - 1));
    }
    CHECK_EQ(buffer[length], Filler);  // nothing behind the buffer

    SetLastError(0);
    CHECK_EQ(GetModuleFileNameW(0, &buffer[0], 1), 1u);
    CHECK_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    if (terminated) CHECK_EQ(buffer[0], 0);
}

CONFORMANCE_CASE(system_folders_with_short_and_exact_buffers)
{
    CheckFolderSizes(&GetSystemDirectoryW, "GetSystemDirectoryW");
    CheckFolderSizes(&GetWindowsDirectoryW, "GetWindowsDirectoryW");

    WCHAR windows[MAX_PATH] = {0}, system[MAX_PATH] = {0}, wow64[MAX_PATH] = {0};
    GetWindowsDirectoryW(windows, MAX_PATH);
    GetSystemDirectoryW(system, MAX_PATH);
    const Text windowsFolder = Within(windows, MAX_PATH);
    CHECK(SameName(Within(system, MAX_PATH), windowsFolder + W("\\system32")));
    // On 64-bit Windows the WOW64 system folder sits beside it; 32-bit Windows has none.
    SetLastError(0);
    UINT length = GetSystemWow64DirectoryW(wow64, MAX_PATH);
    if (On64BitWindows()) {
        CheckFolderSizes(&GetSystemWow64DirectoryW, "GetSystemWow64DirectoryW");
        CHECK(length > 0 && SameName(Within(wow64, MAX_PATH), windowsFolder + W("\\SysWOW64")));
    } else {
        CHECK_EQ(length, 0u);
        CHECK_EQ(GetLastError(), ERROR_CALL_NOT_IMPLEMENTED);
    }
}

CONFORMANCE_CASE(libraries_and_their_exports)
{
    SetLastError(0);
    CHECK(LoadLibraryW(W("conformance-missing.dll")) == 0);
    CHECK_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    SetLastError(0);
    CHECK(GetModuleHandleW(W("conformance-missing.dll")) == 0);
    CHECK_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);

    HMODULE setupapi = LoadLibraryW(W("setupapi.dll"));
    if (CHECK(setupapi != 0)) {
        CHECK(GetProcAddress(setupapi, "SetupUninstallOEMInfW") != 0);
        SetLastError(0);
        CHECK(GetProcAddress(setupapi, "ConformanceMissingExport") == 0);
        CHECK_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
        CHECK(FreeLibrary(setupapi));
    }
    HMODULE newdev = LoadLibraryW(W("newdev.dll"));
    if (CHECK(newdev != 0)) {
        CHECK(GetProcAddress(newdev, "UpdateDriverForPlugAndPlayDevicesW") != 0);
        CHECK(FreeLibrary(newdev));
    }

    // Mapped in every process: found without loading, and named case-insensitively.
    HMODULE kernel32 = GetModuleHandleW(W("KERNEL32.DLL"));
    if (CHECK(kernel32 != 0)) {
        for (const char* name : {"IsWow64Process", "Wow64DisableWow64FsRedirection", "Wow64RevertWow64FsRedirection"})
            CheckThat(GetProcAddress(kernel32, name) != 0, name, __FILE__, __LINE__);
    }
}

// Libraries of the system folder only: by the search flags where the loader has them (its
// kernel32 exports SetDefaultDllDirectories), else by the system folder's full path with the
// altered search path. The two kinds of flags never go together.
CONFORMANCE_CASE(libraries_from_the_system_folder)
{
    HMODULE kernel32 = GetModuleHandleW(W("kernel32.dll"));
    if (!CHECK(kernel32 != 0)) return;
    CHECK(GetProcAddress(kernel32, "SetDefaultDllDirectories") != 0);
    CHECK(GetProcAddress(kernel32, "GetFileInformationByHandleEx") != 0);

    HMODULE newdev = LoadLibraryExW(W("newdev.dll"), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (CHECK(newdev != 0)) {
        CHECK(GetProcAddress(newdev, "UpdateDriverForPlugAndPlayDevicesW") != 0);
        CHECK(FreeLibrary(newdev));
    }
    WCHAR path[MAX_PATH];
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    const WCHAR name[] = W("\\newdev.dll");
    if (CHECK(length > 0 && length + sizeof name / sizeof name[0] <= MAX_PATH)) {
        for (size_t i = 0; i < sizeof name / sizeof name[0]; ++i) path[length + i] = name[i];
        newdev = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (CHECK(newdev != 0)) CHECK(FreeLibrary(newdev));
    }
    SetLastError(0);
    CHECK(LoadLibraryExW(W("newdev.dll"), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_WITH_ALTERED_SEARCH_PATH) == 0);
    CHECK_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

CONFORMANCE_CASE(version_with_the_record_size)
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    CHECK(GetVersionExA(&version));
    CHECK(version.dwMajorVersion >= 5);

    OSVERSIONINFOA unsized = {};
    SetLastError(0);
    CHECK(!GetVersionExA(&unsized));
    CHECK_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}
