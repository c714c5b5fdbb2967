// Loads the 64-bit Drvmate.dll under Wine, calls its two utility exports and checks the
// installer log's bytes as the real Windows runtime wrote them.
#include "check.h"

#include <cfgmgr32.h>
#include <msi.h>
#include <stdio.h>

namespace {

typedef BOOL(WINAPI* IsWow64SystemFunction)();
typedef UINT(WINAPI* RescanDevicesFunction)();

std::wstring Pointer(const void* p)
{
    wchar_t text[32];
    _snwprintf(text, 32, L"%p", p);
    return text;
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
};

}  // namespace

WINE_CASE(exports_have_their_plain_names)
{
    LoadedLibrary library(L"drvmate-names");
    if (!CHECK(library.module != 0)) return;
    const char* names[] = {"InstallDeviceDriver", "UninstallDeviceDriver", "UpgradeDeviceDriver",
                           "_IsWow64System", "_RescanDevices"};
    for (const char* name : names) CheckThat(GetProcAddress(library.module, name) != 0, name, __FILE__, __LINE__);
}

WINE_CASE(is_wow64_system_logs_the_function_address)
{
    LoadedLibrary library(L"drvmate-wow64");
    if (!CHECK(library.module != 0)) return;
    auto isWow64System = reinterpret_cast<IsWow64SystemFunction>(GetProcAddress(library.module, "_IsWow64System"));
    if (!CHECK(isWow64System != 0)) return;
    CHECK(isWow64System() == FALSE);  // a 64-bit process is never under WOW64
    CHECK(isWow64System() == FALSE);

    void* function = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process"));
    std::wstring line = L"IsWow64Process: " + Pointer(function) + L"\n";
    CHECK_EQ(ReadBytes(library.log), TextModeBytes(line + line));
    CHECK(Pointer(function).size() == 2 * sizeof(void*));
}

WINE_CASE(rescan_devices_returns_zero_and_logs_only_failures)
{
    LoadedLibrary library(L"drvmate-rescan");
    if (!CHECK(library.module != 0)) return;
    auto rescan = reinterpret_cast<RescanDevicesFunction>(GetProcAddress(library.module, "_RescanDevices"));
    if (!CHECK(rescan != 0)) return;
    CHECK(rescan() == 0);

    // What the configuration manager of this Wine says decides the expected lines.
    DEVINST root = 0;
    CONFIGRET located = CM_Locate_DevNode_ExW(&root, 0, CM_LOCATE_DEVNODE_NORMAL, 0);
    std::wstring expected;
    wchar_t line[128];
    if (located != CR_SUCCESS) {
        _snwprintf(line, 128, L"CM_Locate_DevNode_Ex error: %d\n", static_cast<int>(located));
        expected = line;
    } else {
        CONFIGRET reenumerated = CM_Reenumerate_DevNode_Ex(root, CM_REENUMERATE_NORMAL, 0);
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
    if (!CHECK(library.module != 0)) return;
    typedef UINT(WINAPI * CustomAction)(MSIHANDLE);
    auto install = reinterpret_cast<CustomAction>(GetProcAddress(library.module, "InstallDeviceDriver"));
    if (!CHECK(install != 0)) return;
    // No INF lies beside this test program: the search fails and the operation result 2 comes back.
    CHECK(install(0) == 2);
    wchar_t program[MAX_PATH];
    GetModuleFileNameW(0, program, MAX_PATH);
    CHECK_EQ(ReadBytes(library.log),
             TextModeBytes(L"Getting Module filename...\nModule filename: " + std::wstring(program) + L"\n"));
}
