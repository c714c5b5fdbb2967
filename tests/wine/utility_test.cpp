// Loads Drvmate.dll into this program under Wine, calls its exports and checks the installer
// log's bytes as the real Windows runtime wrote them. Built for x86_64 and for i686: what the
// library reports about WOW64 follows from the Windows this program finds itself on.
#include "check.h"

#include <cfgmgr32.h>
#include <msi.h>
#include <msiquery.h>
#include <stdio.h>

namespace {

typedef BOOL(WINAPI* IsWow64SystemFunction)();
typedef UINT(WINAPI* RescanDevicesFunction)();
typedef UINT(WINAPI* CustomAction)(MSIHANDLE);

std::wstring Pointer(const void* p) { return Wide(PointerText(p)); }

void* Kernel32Function(const char* name)
{
    return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name));
}

// Points TEMP at a fresh folder, loads the library and returns its log path.
struct LoadedLibrary {
    HMODULE module;
    std::wstring log;
    LoadedLibrary(const wchar_t* folderName)
    {
        std::wstring folder = FreshFolder(folderName);
        SetEnvironmentVariableW(L"TEMP", folder.c_str());
        log = folder + L"\\drvmate.log";
        module = LoadLibraryW(DistFile(L"Drvmate.dll").c_str());
    }
    ~LoadedLibrary()
    {
        if (module) FreeLibrary(module);
    }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;
};

}  // namespace

WINE_CASE(exports_have_their_plain_names)
{
    LoadedLibrary library(L"drvmate-names");
    if (!CHECK(library.module != nullptr)) return;
    const char* names[] = {"InstallDeviceDriver", "UninstallDeviceDriver", "UpgradeDeviceDriver", "_IsWow64System",
                           "_RescanDevices"};
    for (const char* name : names) CheckThat(GetProcAddress(library.module, name) != nullptr, name, __FILE__, __LINE__);
}

WINE_CASE(is_wow64_system_logs_the_function_address)
{
    LoadedLibrary library(L"drvmate-wow64");
    if (!CHECK(library.module != nullptr)) return;
    auto isWow64System = reinterpret_cast<IsWow64SystemFunction>(GetProcAddress(library.module, "_IsWow64System"));
    if (!CHECK(isWow64System != nullptr)) return;
    // TRUE only for a 32-bit process on 64-bit Windows; a 64-bit process is never under WOW64.
    BOOL expected = IsWow64() ? TRUE : FALSE;
    CHECK(isWow64System() == expected);
    CHECK(isWow64System() == expected);

    void* function = Kernel32Function("IsWow64Process");
    std::wstring line = L"IsWow64Process: " + Pointer(function) + L"\n";
    CHECK_EQ(ReadBytes(library.log), TextModeBytes(line + line));
    // %p: two upper-case hexadecimal digits per byte, eight in the shipped 32-bit build.
    CHECK(MatchesShape(Utf8(line.substr(0, line.size() - 1)), "IsWow64Process: %P"));
}

WINE_CASE(rescan_devices_returns_zero_and_logs_only_failures)
{
    LoadedLibrary library(L"drvmate-rescan");
    if (!CHECK(library.module != nullptr)) return;
    auto rescan = reinterpret_cast<RescanDevicesFunction>(GetProcAddress(library.module, "_RescanDevices"));
    if (!CHECK(rescan != nullptr)) return;
    CHECK(rescan() == 0);

    // What the configuration manager of this Wine says decides the expected lines.
    DEVINST root = 0;
    CONFIGRET located = CM_Locate_DevNode_ExW(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL, nullptr);
    std::wstring expected;
    wchar_t line[128];
    if (located != CR_SUCCESS) {
        _snwprintf(line, 128, L"CM_Locate_DevNode_Ex error: %d\n", static_cast<int>(located));
        expected = line;
    } else {
        CONFIGRET reenumerated = CM_Reenumerate_DevNode_Ex(root, CM_REENUMERATE_NORMAL, nullptr);
        if (reenumerated != CR_SUCCESS) {
            _snwprintf(line, 128, L"CM_Reenumerate_DevNode_Ex error: %d\n", static_cast<int>(reenumerated));
            expected = line;
        }
    }
    printf("  CM_Locate_DevNode_ExW gave %u here\n", static_cast<unsigned>(located));
    CHECK_EQ(ReadBytes(library.log), TextModeBytes(expected));
}

WINE_CASE(null_session_install_without_a_package_returns_the_raw_failure)
{
    LoadedLibrary library(L"drvmate-null-session");
    if (!CHECK(library.module != nullptr)) return;
    typedef UINT(WINAPI * CustomAction)(MSIHANDLE);
    auto install = reinterpret_cast<CustomAction>(GetProcAddress(library.module, "InstallDeviceDriver"));
    if (!CHECK(install != nullptr)) return;
    // No INF lies beside this test program: the search fails and the operation result 2 comes back.
    CHECK(install(0) == 2);
    wchar_t program[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    CHECK_EQ(ReadBytes(library.log),
             TextModeBytes(L"Getting Module filename...\nModule filename: " + std::wstring(program) + L"\n"));
}

WINE_CASE(bed_is_the_windows_it_claims_to_be)
{
    // test.sh names the bed; the program's own findings must agree, or the bed tests another
    // Windows than it says.
    const std::wstring& bed = BedName();
    printf("  bed %s: %d-bit process, IsWow64Process %d, system %s, WOW64 system %s\n", Utf8(bed).c_str(),
           Is64BitProcess() ? 64 : 32, IsWow64() ? 1 : 0, Utf8(SystemFolder()).c_str(),
           Utf8(Wow64SystemFolder()).c_str());
    if (!CHECK(bed == L"x64" || bed == L"wow64" || bed == L"x86")) return;
    CHECK(Is64BitProcess() == (bed == L"x64"));
    CHECK(IsWow64() == (bed == L"wow64"));
    // Under WOW64 too the system directory is called system32; the names' case is Wine's.
    CHECK(lstrcmpiW(SystemFolder().c_str(), L"C:\\windows\\system32") == 0);
    wchar_t folder[MAX_PATH];
    SetLastError(ERROR_SUCCESS);
    UINT length = GetSystemWow64DirectoryW(folder, MAX_PATH);
    if (bed == L"x86") {
        // 32-bit Windows has no WOW64 folder: the call fails as Microsoft documents it.
        CHECK(length == 0);
        CHECK(GetLastError() == ERROR_CALL_NOT_IMPLEMENTED);
    } else {
        CHECK(length != 0 && length < MAX_PATH && lstrcmpiW(folder, L"C:\\windows\\syswow64") == 0);
    }
}

WINE_CASE(install_with_a_session_runs_its_sequence_inside_the_frame)
{
    // A real installer session of the example package; with no package in the driver folder
    // the install sequence fails at once, so the log holds the frame and little else.
    std::wstring driverFolder = SystemFolder().substr(0, 3) + L"Program Files\\Tesmar\\drivers\\";
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((driverFolder + L"*.inf").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    if (!CHECK(search == INVALID_HANDLE_VALUE)) {
        printf("  an INF lies in %s: the example package was not removed\n", Utf8(driverFolder).c_str());
        return;
    }
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MSIHANDLE session = 0;
    UINT opened = MsiOpenPackageW(DistFile(L"drvmate-example.msi").c_str(), &session);
    if (!CHECK(opened == ERROR_SUCCESS)) {
        printf("  MsiOpenPackageW gave %u\n", opened);
        return;
    }
    LoadedLibrary library(L"drvmate-frame");
    auto install = reinterpret_cast<CustomAction>(library.module ? GetProcAddress(library.module, "InstallDeviceDriver")
                                                                 : nullptr);
    if (CHECK(install != nullptr)) {
        CHECK(install(session) == ERROR_INSTALL_FAILURE);
        std::wstring expected = L"IsWow64Process: " + Pointer(Kernel32Function("IsWow64Process")) + L"\n";
        if (IsWow64())
            expected += L"_Wow64DisableWow64FsRedirection: " +
                        Pointer(Kernel32Function("Wow64DisableWow64FsRedirection")) + L" 1\n";
        expected +=
            L"IPROPNAME_CUSTOMACTIONDATA data {F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}  \"" + driverFolder + L"\"\n";
        expected += L"Install ...\nModule filename: " + driverFolder + L"\nInstall result: 2\n";
        // The revert line carries the disable call's result.
        if (IsWow64())
            expected += L"_Wow64RevertWow64FsRedirection: " +
                        Pointer(Kernel32Function("Wow64RevertWow64FsRedirection")) + L" 1\n";
        CHECK_EQ(ReadBytes(library.log), TextModeBytes(expected));
    }
    MsiCloseHandle(session);

    if (IsWow64()) {
        // The custom action returned with this thread's redirection on again: the system
        // directory's name reaches the WOW64 folder, not the native one.
        std::wstring name = L"drvmate-frame-marker.txt";
        CHECK(WriteBytes(Wow64DriversFolder() + name, "wow64"));
        CHECK(ReadBytes(SystemDriversFolder() + name) == "wow64");
        {
            NativeView native;
            CHECK(!Exists(SystemDriversFolder() + name));
        }
        DeleteFileW((Wow64DriversFolder() + name).c_str());
    }
}
