// The whole life of the example installer package under Wine's msiexec and msi.dll, and the
// field runner's null-session install and uninstall of a package placed next to it.
#include "check.h"

#include <setupapi.h>
#include <stdio.h>

#include <vector>

#include "decode.h"

namespace {

const wchar_t CLASS_NAME[] = L"TesmarUsb";
const GUID CLASS_GUID = {0xF72FE0D4, 0xCBCB, 0x407d, {0x88, 0x14, 0x9E, 0xD6, 0x73, 0xD0, 0xDD, 0x6B}};
const wchar_t HARDWARE_ID[] = L"USB\\VID_1D6B&PID_7E57\0";

// Runs a command line and returns its exit code, or -1 when it could not start.
DWORD Run(std::wstring commandLine, const std::wstring& folder = std::wstring())
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(0, &commandLine[0], 0, 0, FALSE, 0, 0, folder.empty() ? 0 : folder.c_str(), &startup,
                        &process))
        return static_cast<DWORD>(-1);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = static_cast<DWORD>(-1);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

// A present, root-enumerated device of the class with the sample's hardware ID.
bool CreateSampleDevice()
{
    HDEVINFO set = SetupDiCreateDeviceInfoList(&CLASS_GUID, 0);
    if (set == INVALID_HANDLE_VALUE) return false;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    bool ok = SetupDiCreateDeviceInfoW(set, CLASS_NAME, &CLASS_GUID, 0, 0, DICD_GENERATE_ID, &device) &&
              SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID,
                                                reinterpret_cast<const BYTE*>(HARDWARE_ID), sizeof HARDWARE_ID) &&
              SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device);
    SetupDiDestroyDeviceInfoList(set);
    return ok;
}

std::wstring WindowsFolder(const wchar_t* tail)
{
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows) + tail;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The installer log as text; the log reader must find it valid.
std::string LogText(const std::wstring& path)
{
    DecodedLog log = DecodeInstallerLog(ReadBytes(path));
    CHECK(log.problems.empty());
    return log.text;
}

bool Holds(const std::string& text, const std::string& line)
{
    bool found = text.find(line + "\n") != std::string::npos;
    if (!found) printf("  the log lacks the line: %s\n", line.c_str());
    return found;
}

std::string DriverFolder()
{
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    return Utf8(std::wstring(system, 3)) + "Program Files\\Tesmar\\drivers\\";
}

}  // namespace

WINE_CASE(example_package_installs_and_removes_the_driver)
{
    std::wstring temp = FreshFolder(L"package-life");
    SetEnvironmentVariableW(L"TEMP", temp.c_str());
    std::wstring log = temp + L"\\drvmate.log";
    CHECK(CreateSampleDevice());

    std::wstring msi = DistFile(L"drvmate-example.msi");
    DWORD installed = Run(L"msiexec /i \"" + msi + L"\" /qn /l*v \"" + temp + L"\\install.txt\"");
    printf("  msiexec /i exited with %lu\n", installed);
    CHECK(installed == 0);

    std::string text = LogText(log);
    CHECK(Holds(text, "IPROPNAME_CUSTOMACTIONDATA data {F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}  \"" + DriverFolder() + "\""));
    CHECK(Holds(text, "Install ..."));
    CHECK(Holds(text, "Module filename: " + DriverFolder()));
    CHECK(Holds(text, "infFile: tesmar-sample.inf"));
    CHECK(Holds(text, "add package: " + DriverFolder() + "tesmar-sample.inf"));
    CHECK(Holds(text, "update device..."));
    CHECK(Holds(text, "Install result: 0"));
    CHECK(Exists(WindowsFolder(L"\\inf\\tesmar-sample.inf")));                // staged in the store
    CHECK(Exists(WindowsFolder(L"\\system32\\drivers\\tesmarsample.sys")));  // the device got its driver

    DeleteFileW(log.c_str());
    DWORD removed = Run(L"msiexec /x \"" + msi + L"\" /qn /l*v \"" + temp + L"\\remove.txt\"");
    printf("  msiexec /x exited with %lu\n", removed);
    CHECK(removed == 0);
    text = LogText(log);
    CHECK(Holds(text, "IPROPNAME_CUSTOMACTIONDATA data {F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}  \"" + DriverFolder() + "\""));
    CHECK(Holds(text, "Uninstall ..."));
    CHECK(Holds(text, "Remove Device ..."));
    CHECK(Holds(text, "Uninstall modulefile: " + DriverFolder()));
    CHECK(Holds(text, "Uninstall result: 0"));
    CHECK(!Exists(WindowsFolder(L"\\system32\\drivers\\tesmarsample.sys")));
    CHECK(!Exists(Wide(DriverFolder()) + L"tesmar-sample.inf"));  // msiexec removed the package's files
}

WINE_CASE(field_runner_installs_the_package_next_to_it)
{
    std::wstring folder = FreshFolder(L"field-runner");
    SetEnvironmentVariableW(L"TEMP", folder.c_str());
    for (const wchar_t* name : {L"drvrun.exe", L"Drvmate.dll"})
        CHECK(CopyFileW(DistFile(name).c_str(), (folder + L"\\" + name).c_str(), FALSE));
    for (const wchar_t* name : {L"tesmar-sample.inf", L"tesmarsample.sys"})
        CHECK(CopyFileW((DistFile(L"sample-driver\\") + name).c_str(), (folder + L"\\" + name).c_str(), FALSE));
    std::wstring runner = L"\"" + folder + L"\\drvrun.exe\" ";
    std::wstring log = folder + L"\\drvmate.log";

    CHECK(Run(runner + L"install", folder) == 0);
    std::string text = LogText(log);
    std::string folderText = Utf8(folder);
    CHECK(text.find("IPROPNAME_CUSTOMACTIONDATA") == std::string::npos);  // a null session runs no frame
    CHECK(Holds(text, "Getting Module filename..."));
    CHECK(Holds(text, "Module filename: " + folderText + "\\drvrun.exe"));
    CHECK(Holds(text, "add package: " + folderText + "\\tesmar-sample.inf"));
    CHECK(Exists(WindowsFolder(L"\\system32\\drivers\\tesmarsample.sys")));

    DeleteFileW(log.c_str());
    CHECK(Run(runner + L"uninstall", folder) == 0);
    text = LogText(log);
    CHECK(Holds(text, "Uninstall modulefile: " + folderText + "\\drvrun.exe"));
    CHECK(Holds(text, "DeleteDriverPackages..."));
    CHECK(!Exists(WindowsFolder(L"\\system32\\drivers\\tesmarsample.sys")));
    CHECK(Exists(folder + L"\\tesmarsample.sys"));  // the package folder itself is left alone
}
