// Libraries of the system folder loaded by name for one call.
#include "guards.h"
#include "text.h"

namespace {

// Exported by kernel32.dll where the loader takes the LOAD_LIBRARY_SEARCH_* flags: Windows 8 and
// later, and Windows Vista and 7 with KB2533623. Elsewhere LoadLibraryExW refuses the flags
// (Vista and 7) or does not know them (XP), so their presence is read from this export, as
// Microsoft advises, and not from how a call with them fails.
const char SEARCH_FLAGS_WITNESS[] = "SetDefaultDllDirectories";

bool LoaderTakesSearchFlags()
{
    HMODULE kernel32 = GetModuleHandleW(W("kernel32.dll"));
    return kernel32 && GetProcAddress(kernel32, SEARCH_FLAGS_WITNESS);
}

}  // namespace

HMODULE LoadSystemLibrary(const WCHAR* name)
{
    if (LoaderTakesSearchFlags()) return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // A library the process has mapped already is found by its name among the loaded modules,
    // before any folder is searched.
    if (GetModuleHandleW(name)) return LoadLibraryW(name);
    // Otherwise by its full path in the system folder; the altered search path takes its own
    // dependencies from that folder too, not from the program's.
    WCHAR path[MAX_PATH];
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || !AppendPathText(path, W("\\")) || !AppendPathText(path, name)) {
        if (length != 0) SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nullptr;
    }
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
