// The cases' set-up on Windows (and Wine): real Win32 calls in a folder of this run under
// the TEMP folder, and a record of every key, service, device and variable a case made, so
// that each is taken away after the case.
#include "setup.h"

#include <stdio.h>

#include <string>
#include <vector>

#include "harness.h"

namespace {

const DWORD LONG_PATH_CHARS = 32768;

struct Made {
    std::vector<std::string> keys;  // the first key of each path that was not there
    std::vector<std::string> services;
    std::vector<Text> devices;  // instance IDs
    std::vector<Text> variables;
    std::vector<Text> files;
};

Made made;
Text startFolder;

std::wstring Number(DWORD value)
{
    wchar_t text[16];
    _snwprintf(text, 16, L"%lu", static_cast<unsigned long>(value));
    text[15] = 0;
    return text;
}

Text RunFolder()
{
    wchar_t temp[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    Text folder(temp, length);
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    return folder + L"\\conformance-" + Number(GetCurrentProcessId());
}

// Deletes a file or a folder with everything in it, read-only files included.
void RemoveTree(const Text& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
        return;
    }
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            Text name = data.cFileName;
            if (name != L"." && name != L"..") RemoveTree(path + L"\\" + name);
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

bool RemoveDevice(const Text& instanceId)
{
    HDEVINFO set = SetupDiCreateDeviceInfoList(0, 0);
    if (set == INVALID_HANDLE_VALUE) return false;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    bool removed = SetupDiOpenDeviceInfoW(set, instanceId.c_str(), 0, 0, &device) && SetupDiRemoveDevice(set, &device);
    SetupDiDestroyDeviceInfoList(set);
    return removed;
}

void DeleteServiceNamed(const std::string& name)
{
    SC_HANDLE manager = OpenSCManagerA(0, 0, SC_MANAGER_ALL_ACCESS);
    if (!manager) return;
    if (SC_HANDLE service = OpenServiceA(manager, name.c_str(), DELETE)) {
        DeleteService(service);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, ("SYSTEM\\CurrentControlSet\\Services\\" + name).c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, ("SYSTEM\\CurrentControlSet\\Services\\" + name).c_str());
}

}  // namespace

void StartCase()
{
    if (startFolder.empty()) {
        wchar_t folder[MAX_PATH + 1];
        DWORD length = GetCurrentDirectoryW(MAX_PATH + 1, folder);
        startFolder.assign(folder, length);
    }
    CreateDirectoryW(RunFolder().c_str(), 0);
    RemoveTree(CaseFolder());
    if (!CreateDirectoryW(CaseFolder().c_str(), 0))
        Note("the case's folder could not be made: error " + std::to_string(GetLastError()));
}

void FinishCase()
{
    SetCurrentDirectoryW(startFolder.c_str());
    for (const Text& name : made.variables) SetEnvironmentVariableW(name.c_str(), 0);
    for (const Text& id : made.devices) RemoveDevice(id);
    for (const std::string& name : made.services) DeleteServiceNamed(name);
    for (const std::string& key : made.keys) {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
    }
    for (const Text& file : made.files) RemoveTree(file);
    made = Made();
    RemoveTree(CaseFolder());
    RemoveDirectoryW(RunFolder().c_str());  // once the last case's folder has gone
}

Text CaseFolder()
{
    std::string name = CaseName();
    return RunFolder() + L"\\" + Text(name.begin(), name.end());
}

Text InCase(const Text& name) { return CaseFolder() + L"\\" + name; }

bool MakeFolder(const Text& path)
{
    // Every folder on the way, as the host machine makes them.
    for (size_t at = path.find(L'\\', 3); at != Text::npos; at = path.find(L'\\', at + 1))
        CreateDirectoryW(path.substr(0, at).c_str(), 0);
    return CreateDirectoryW(path.c_str(), 0) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool PutFile(const Text& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, 0) && written == bytes.size();
    return CloseHandle(file) && ok;
}

std::string FileBytes(const Text& path)
{
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char chunk[4096];
    DWORD n = 0;
    while (ReadFile(file, chunk, sizeof chunk, &n, 0) && n > 0) bytes.append(chunk, n);
    CloseHandle(file);
    return bytes;
}

bool IsThere(const Text& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool RemoveFile(const Text& path)
{
    RemoveTree(path);
    return !IsThere(path);
}

bool MakeReadOnly(const Text& path) { return SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY) != FALSE; }

bool SetCurrentFolder(const Text& path) { return SetCurrentDirectoryW(path.c_str()) != FALSE; }

bool SetVariable(const Text& name, const Text& value)
{
    made.variables.push_back(name);
    return SetEnvironmentVariableW(name.c_str(), value.c_str()) != FALSE;
}

void RemoveAfterCase(const Text& path) { made.files.push_back(path); }

Text ProgramPath()
{
    std::vector<wchar_t> path(LONG_PATH_CHARS);
    DWORD size = LONG_PATH_CHARS;
    if (!QueryFullProcessImageNameW(GetCurrentProcess(), 0, &path[0], &size)) return Text();
    return Text(&path[0], size);
}

std::string UniqueName(const char* stem) { return stem + std::to_string(GetCurrentProcessId()); }

bool AddDevice(const GUID& classGuid, const Text& hardwareId)
{
    HDEVINFO set = SetupDiCreateDeviceInfoList(&classGuid, 0);
    if (set == INVALID_HANDLE_VALUE) return false;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    Text ids = hardwareId + Text(2, L'\0');  // a multi-string: the ID and the closing empty string
    bool ok =
        SetupDiCreateDeviceInfoW(set, L"CONFORMANCE", &classGuid, 0, 0, DICD_GENERATE_ID, &device) &&
        SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(ids.c_str()),
                                          static_cast<DWORD>((hardwareId.size() + 2) * sizeof(WCHAR))) &&
        SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device);
    if (ok) {
        wchar_t id[MAX_DEVICE_ID_LEN];
        if (SetupDiGetDeviceInstanceIdW(set, &device, id, MAX_DEVICE_ID_LEN, 0)) made.devices.push_back(id);
    } else {
        Note("the device could not be made: error " + std::to_string(GetLastError()));
    }
    SetupDiDestroyDeviceInfoList(set);
    return ok;
}

bool MakeKey(const std::string& path)
{
    // Only the part of the path that was not there is taken away afterwards.
    for (size_t at = 0; at != std::string::npos;) {
        at = path.find('\\', at + 1);
        std::string prefix = path.substr(0, at);
        if (!KeyIsThere(prefix)) {
            made.keys.push_back(prefix);
            break;
        }
    }
    HKEY key = 0;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, 0, 0, KEY_ALL_ACCESS, 0, &key, 0) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool KeyIsThere(const std::string& path)
{
    HKEY key = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

Text VersionedFile()
{
    wchar_t folder[MAX_PATH];
    UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    return n == 0 || n >= MAX_PATH ? Text() : Text(folder) + L"\\kernel32.dll";
}

bool SetTextValue(const std::string& path, const std::string& name, const std::string& text)
{
    HKEY key = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return false;
    LONG status = RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>(text.size() + 1));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool AddService(const std::string& name)
{
    made.services.push_back(name);
    SC_HANDLE manager = OpenSCManagerA(0, 0, SC_MANAGER_ALL_ACCESS);
    if (!manager) return false;
    std::string binary = "system32\\drivers\\" + name + ".sys";
    SC_HANDLE service = CreateServiceA(manager, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                       SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, binary.c_str(), 0, 0, 0, 0, 0);
    if (!service) Note("the service could not be made: error " + std::to_string(GetLastError()));
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return service != 0;
}

bool On64BitWindows()
{
    BOOL wow64 = FALSE;
    return sizeof(void*) == 8 || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
}

bool VolumeMakesShortNames()
{
    const Text probe = InCase(L"short name probe.txt");
    if (!PutFile(probe, "")) return false;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(probe.c_str(), &data);
    bool made = find != INVALID_HANDLE_VALUE && data.cAlternateFileName[0] != 0;
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    DeleteFileW(probe.c_str());
    return made;
}
