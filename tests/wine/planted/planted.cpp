// A library that stands for one planted next to the field runner under the name of a system
// library (newdev.dll, msi.dll): its entry point leaves "<its own path>.ran" behind, so a test
// sees whether any process ever ran it. Its exports are the names Drvmate takes from those
// libraries, so that a load through it would succeed; each one fails.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[MAX_PATH + 8];
    DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return TRUE;
    lstrcatW(path, L".ran");
    HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    return TRUE;
}

extern "C" {
UINT WINAPI MsiCloseHandle(ULONG) { return ERROR_INVALID_HANDLE; }
ULONG WINAPI MsiCreateRecord(UINT) { return 0; }
int WINAPI MsiProcessMessage(ULONG, int, ULONG) { return -1; }
UINT WINAPI MsiRecordSetInteger(ULONG, UINT, int) { return ERROR_INVALID_HANDLE; }
UINT WINAPI MsiSetMode(ULONG, int, BOOL) { return ERROR_INVALID_HANDLE; }
BOOL WINAPI UpdateDriverForPlugAndPlayDevicesW(HWND, LPCWSTR, LPCWSTR, DWORD, PBOOL)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}
}
