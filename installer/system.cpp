#include "system.h"

#include "log.h"

const WCHAR DeviceClassGuid[] = W("{F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}");

namespace {

typedef BOOL(WINAPI* IsWow64ProcessFunction)(HANDLE, PBOOL);

}  // namespace

FARPROC Kernel32Function(const char* name)
{
    HMODULE kernel32 = GetModuleHandleW(W("kernel32.dll"));
    return kernel32 ? GetProcAddress(kernel32, name) : nullptr;
}

BOOL WINAPI _IsWow64System()
{
    BOOL wow64 = FALSE;
    IsWow64ProcessFunction isWow64Process =
        reinterpret_cast<IsWow64ProcessFunction>(Kernel32Function("IsWow64Process"));
    LogMessage(W("IsWow64Process: %p\n"), reinterpret_cast<void*>(isWow64Process));
    if (isWow64Process && !isWow64Process(GetCurrentProcess(), &wow64))
        LogMessage(W("__IsWow64Process error: %d\n"), GetLastError());
    return wow64;
}
