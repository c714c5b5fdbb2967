// drvrun: calls one export of Drvmate.dll with a null installer session, prints its result
// and the lines it added to the installer log.
//
// With a null session the install, uninstall and upgrade exports work on the folder of the
// calling program's executable: place drvrun.exe and Drvmate.dll next to the driver package
// (one INF and its .SYS files) and run it there.
//
//   drvrun install|uninstall|upgrade|rescan|wow64 [path\to\Drvmate.dll]
#include <windows.h>
#include <stdio.h>

#include <string>

#include "decode.h"

namespace {

typedef UINT(WINAPI* SessionExport)(unsigned long);
typedef UINT(WINAPI* PlainExport)();

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
    FILE* file = path.empty() ? 0 : _wfopen(path.c_str(), L"rb");
    if (!file) return bytes;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, n);
    fclose(file);
    return bytes;
}

std::string Utf8Path(const std::wstring& text)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, 0, 0, 0, 0);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], n, 0, 0);
    return out;
}

int Usage()
{
    fprintf(stderr, "usage: drvrun install|uninstall|upgrade|rescan|wow64 [path\\to\\Drvmate.dll]\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2 || argc > 3) return Usage();
    std::wstring command = argv[1];
    const char* exportName = 0;
    if (command == L"install") exportName = "InstallDeviceDriver";
    else if (command == L"uninstall") exportName = "UninstallDeviceDriver";
    else if (command == L"upgrade") exportName = "UpgradeDeviceDriver";
    else if (command == L"rescan") exportName = "_RescanDevices";
    else if (command == L"wow64") exportName = "_IsWow64System";
    else return Usage();

    const wchar_t* library = argc == 3 ? argv[2] : L"Drvmate.dll";
    HMODULE module = LoadLibraryW(library);
    if (!module) {
        fwprintf(stderr, L"drvrun: cannot load %ls: error %lu\n", library, GetLastError());
        return 2;
    }
    FARPROC function = GetProcAddress(module, exportName);
    if (!function) {
        fprintf(stderr, "drvrun: %s is not exported\n", exportName);
        FreeLibrary(module);
        return 2;
    }

    std::wstring log = LogPath();
    size_t before = ReadAll(log).size();
    UINT result;
    if (command == L"rescan" || command == L"wow64")
        result = reinterpret_cast<PlainExport>(function)();
    else
        result = reinterpret_cast<SessionExport>(function)(0);
    FreeLibrary(module);

    printf("%s returned %u\n", exportName, result);
    std::string bytes = ReadAll(log);
    if (bytes.size() >= before) {
        DecodedLog text = DecodeInstallerLog(bytes.substr(before));
        printf("--- %s ---\n%s", Utf8Path(log).c_str(), text.text.c_str());
        for (const std::string& problem : text.problems) printf("(log: %s)\n", problem.c_str());
    }
    return 0;
}
