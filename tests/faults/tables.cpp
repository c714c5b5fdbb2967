// The explorer's tables: the documented errors of each call, the matrix of scenarios, the
// outcomes the design cannot avoid, and the reproducers of what the walk found.
#include "faults.h"

#include <set>

namespace faults {

namespace {

// Codes the layer's headers do not all name.
const DWORD ERROR_DISK_FULL_ = 112;
const DWORD ERROR_INSUFFICIENT_BUFFER_ = 122;
const DWORD ERROR_MOD_NOT_FOUND_ = 126;
const DWORD ERROR_PROC_NOT_FOUND_ = 127;
const DWORD ERROR_ENVVAR_NOT_FOUND_ = 203;
const DWORD ERROR_FILENAME_EXCED_RANGE_ = 206;
const DWORD ERROR_DIR_NOT_ROOT_ = 144;
const DWORD ERROR_CALL_NOT_IMPLEMENTED_ = 120;
const DWORD ERROR_DATABASE_DOES_NOT_EXIST_ = 1065;
const DWORD ERROR_SERVICE_MARKED_FOR_DELETE_ = 1072;
const DWORD ERROR_SERVICE_DATABASE_LOCKED_ = 1055;
const DWORD ERROR_SERVICE_DOES_NOT_EXIST_ = 1060;
const DWORD ERROR_KEY_DELETED_ = 1018;
const DWORD ERROR_NO_UNICODE_TRANSLATION_ = 1113;
const DWORD ERROR_INVALID_SID_ = 1337;
const DWORD ERROR_INVALID_SECURITY_DESCR_ = 1338;
const DWORD ERROR_INF_IN_USE_BY_DEVICES_ = 0xE000023D;
const DWORD ERROR_NO_SUCH_DEVINST_ = 0xE000020B;
const DWORD CR_OUT_OF_MEMORY_ = 0x02;
const DWORD CR_NO_SUCH_DEVNODE_ = 0x0D;
const DWORD CR_FAILURE_ = 0x13;
const DWORD CO_E_CLASSSTRING_ = 0x800401F3;
const DWORD E_OUTOFMEMORY_ = 0x8007000E;
const DWORD ENOENT_ = 2, EACCES_ = 13, EMFILE_ = 24, ENOSPC_ = 28, EINVAL_ = 22;

#define E(code) \
    DocumentedError { code, #code }

const std::map<std::string, std::vector<DocumentedError>>& ErrorTable()
{
    static const std::map<std::string, std::vector<DocumentedError>> table = {
        // kernel32
        {"CreateFileW", {E(ERROR_SHARING_VIOLATION), E(ERROR_ACCESS_DENIED)}},
        {"DeleteFileW", {E(ERROR_ACCESS_DENIED), E(ERROR_SHARING_VIOLATION)}},
        {"FindFirstFileW", {E(ERROR_ACCESS_DENIED), E(ERROR_NOT_ENOUGH_MEMORY)}},
        {"FindNextFileW", {E(ERROR_NO_MORE_FILES), E(ERROR_NOT_ENOUGH_MEMORY)}},
        {"FindClose", {E(ERROR_INVALID_HANDLE)}},
        {"GetFileAttributesW", {E(ERROR_ACCESS_DENIED), E(ERROR_SHARING_VIOLATION)}},
        {"GetFullPathNameW", {E(ERROR_NOT_ENOUGH_MEMORY), E(ERROR_FILENAME_EXCED_RANGE_)}},
        {"GetModuleFileNameW", {E(ERROR_NOT_ENOUGH_MEMORY)}},
        {"GetModuleHandleW", {E(ERROR_MOD_NOT_FOUND_)}},
        {"GetProcAddress", {E(ERROR_PROC_NOT_FOUND_)}},
        {"LoadLibraryW", {E(ERROR_MOD_NOT_FOUND_), E(ERROR_NOT_ENOUGH_MEMORY)}},
        {"LoadLibraryExW", {E(ERROR_MOD_NOT_FOUND_), E(ERROR_NOT_ENOUGH_MEMORY)}},
        {"SetDefaultDllDirectories", {E(ERROR_INVALID_PARAMETER)}},
        {"FreeLibrary", {E(ERROR_INVALID_HANDLE)}},
        {"GetSystemDirectoryW", {E(ERROR_NOT_ENOUGH_MEMORY)}},
        {"GetWindowsDirectoryW", {E(ERROR_NOT_ENOUGH_MEMORY)}},
        {"GetSystemWow64DirectoryW", {E(ERROR_CALL_NOT_IMPLEMENTED_)}},
        {"GetEnvironmentVariableW", {E(ERROR_ENVVAR_NOT_FOUND_)}},
        {"IsWow64Process", {E(ERROR_ACCESS_DENIED), E(ERROR_INVALID_HANDLE)}},
        {"Wow64DisableWow64FsRedirection", {E(ERROR_INVALID_FUNCTION), E(ERROR_ACCESS_DENIED)}},
        {"Wow64RevertWow64FsRedirection", {E(ERROR_INVALID_FUNCTION), E(ERROR_ACCESS_DENIED)}},
        {"GetVersionExA", {E(ERROR_INSUFFICIENT_BUFFER_)}},
        {"GetFileInformationByHandle", {E(ERROR_ACCESS_DENIED), E(ERROR_INVALID_PARAMETER)}},
        {"GetFileInformationByHandleEx", {E(ERROR_ACCESS_DENIED), E(ERROR_INVALID_PARAMETER)}},
        {"GetVolumeInformationByHandleW", {E(ERROR_ACCESS_DENIED), E(ERROR_INVALID_PARAMETER)}},
        {"GetVolumePathNameW", {E(ERROR_FILENAME_EXCED_RANGE_), E(ERROR_INVALID_PARAMETER)}},
        {"GetVolumeInformationW", {E(ERROR_PATH_NOT_FOUND), E(ERROR_INVALID_NAME), E(ERROR_DIR_NOT_ROOT_)}},
        {"WriteFile", {E(ERROR_DISK_FULL_), E(ERROR_ACCESS_DENIED)}},
        {"CloseHandle", {E(ERROR_INVALID_HANDLE)}},
        {"LocalFree", {E(ERROR_INVALID_HANDLE)}},
        {"HeapAlloc", {E(ERROR_NOT_ENOUGH_MEMORY)}},
        {"HeapFree", {E(ERROR_INVALID_PARAMETER)}},
        {"MultiByteToWideChar", {E(ERROR_NO_UNICODE_TRANSLATION_), E(ERROR_INSUFFICIENT_BUFFER_)}},
        {"WideCharToMultiByte", {E(ERROR_NO_UNICODE_TRANSLATION_), E(ERROR_INSUFFICIENT_BUFFER_)}},
        {"CommandLineToArgvW", {E(ERROR_NOT_ENOUGH_MEMORY)}},
        // the C runtime: errno values
        {"_wfsopen", {E(EACCES_), E(EMFILE_)}},
        {"_open_osfhandle", {E(EMFILE_)}},
        {"_wfdopen", {E(EMFILE_), E(EINVAL_)}},
        {"_close", {E(EINVAL_)}},
        {"fwrite", {E(ENOSPC_)}},
        {"fopen", {E(EACCES_), E(EMFILE_)}},
        {"_access", {E(ENOENT_), E(EACCES_)}},
        {"_localtime64", {E(EINVAL_)}},
        // security
        {"OpenProcessToken", {E(ERROR_ACCESS_DENIED)}},
        {"GetTokenInformation", {E(ERROR_INSUFFICIENT_BUFFER_), E(ERROR_ACCESS_DENIED)}},
        {"GetKernelObjectSecurity", {E(ERROR_ACCESS_DENIED), E(ERROR_INSUFFICIENT_BUFFER_)}},
        {"GetSecurityDescriptorOwner", {E(ERROR_INVALID_SECURITY_DESCR_)}},
        {"EqualSid", {E(ERROR_INVALID_SID_)}},
        // Windows Installer
        {"MsiCreateRecord", {E(ERROR_NOT_ENOUGH_MEMORY)}},
        {"MsiRecordSetInteger", {E(ERROR_INVALID_HANDLE), E(ERROR_INVALID_PARAMETER)}},
        {"MsiProcessMessage", {E(ERROR_INVALID_HANDLE)}},
        {"MsiCloseHandle", {E(ERROR_INVALID_HANDLE)}},
        {"MsiSetMode", {E(ERROR_ACCESS_DENIED), E(ERROR_INVALID_HANDLE)}},
        // ole32
        {"CLSIDFromString", {E(CO_E_CLASSSTRING_), E(E_OUTOFMEMORY_)}},
        // configuration manager
        {"CM_Locate_DevNode_ExW", {E(CR_FAILURE_), E(CR_NO_SUCH_DEVNODE_)}},
        {"CM_Reenumerate_DevNode_Ex", {E(CR_FAILURE_), E(CR_OUT_OF_MEMORY_)}},
        {"CM_Get_Device_ID_ExW", {E(CR_FAILURE_), E(CR_NO_SUCH_DEVNODE_)}},
        {"CM_Get_DevNode_Status", {E(CR_FAILURE_), E(CR_NO_SUCH_DEVNODE_)}},
        // Setup API and newdev
        {"SetupDiGetClassDevsExW", {E(ERROR_NOT_ENOUGH_MEMORY), E(ERROR_ACCESS_DENIED)}},
        {"SetupDiGetClassDevsW", {E(ERROR_NOT_ENOUGH_MEMORY), E(ERROR_ACCESS_DENIED)}},
        {"SetupDiEnumDeviceInfo", {E(ERROR_NO_MORE_ITEMS), E(ERROR_NO_SUCH_DEVINST_)}},
        {"SetupDiDestroyDeviceInfoList", {E(ERROR_INVALID_HANDLE)}},
        {"SetupDiGetDeviceInfoListDetailW", {E(ERROR_INVALID_HANDLE)}},
        {"SetupDiSetClassInstallParamsW", {E(ERROR_INVALID_PARAMETER), E(ERROR_NO_SUCH_DEVINST_)}},
        {"SetupDiCallClassInstaller", {E(ERROR_ACCESS_DENIED), E(ERROR_NO_SUCH_DEVINST_)}},
        {"SetupDiGetDeviceInstallParamsW", {E(ERROR_NO_SUCH_DEVINST_), E(ERROR_INVALID_PARAMETER)}},
        {"SetupDiGetDeviceRegistryPropertyW", {E(ERROR_INVALID_DATA), E(ERROR_NO_SUCH_DEVINST_)}},
        {"SetupDiSetDeviceRegistryPropertyW", {E(ERROR_ACCESS_DENIED), E(ERROR_NO_SUCH_DEVINST_)}},
        {"SetupDiGetINFClassW", {E(ERROR_SHARING_VIOLATION), E(ERROR_NOT_ENOUGH_MEMORY)}},
        {"SetupCopyOEMInfW", {E(ERROR_ACCESS_DENIED), E(ERROR_SHARING_VIOLATION)}},
        {"SetupUninstallOEMInfW", {E(ERROR_INF_IN_USE_BY_DEVICES_), E(ERROR_ACCESS_DENIED)}},
        {"UpdateDriverForPlugAndPlayDevicesW", {E(ERROR_NO_SUCH_DEVINST_), E(ERROR_ACCESS_DENIED)}},
        // service control manager and registry
        {"OpenSCManagerA", {E(ERROR_ACCESS_DENIED), E(ERROR_DATABASE_DOES_NOT_EXIST_)}},
        {"OpenServiceA", {E(ERROR_ACCESS_DENIED), E(ERROR_SERVICE_DOES_NOT_EXIST_)}},
        {"DeleteService", {E(ERROR_ACCESS_DENIED), E(ERROR_SERVICE_MARKED_FOR_DELETE_)}},
        {"CloseServiceHandle", {E(ERROR_INVALID_HANDLE), E(ERROR_SERVICE_DATABASE_LOCKED_)}},
        {"RegOpenKeyA", {E(ERROR_ACCESS_DENIED), E(ERROR_FILE_NOT_FOUND)}},
        {"RegCloseKey", {E(ERROR_INVALID_HANDLE)}},
        {"RegDeleteKeyA", {E(ERROR_ACCESS_DENIED), E(ERROR_KEY_DELETED_)}},
        {"SHDeleteKeyA", {E(ERROR_ACCESS_DENIED), E(ERROR_FILE_NOT_FOUND)}},
    };
    return table;
}

#undef E

std::string Hex(DWORD code)
{
    char text[16];
    snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(code));
    return text;
}

}  // namespace

const std::vector<DocumentedError>& DocumentedErrors(const std::string& api)
{
    static const std::vector<DocumentedError> none;
    auto it = ErrorTable().find(api);
    if (it != ErrorTable().end()) return it->second;
    // Calls Windows gives no way to fail are not walked; any other call must be in the table.
    static const std::set<std::string> infallible = {"Sleep", "GetCommandLineW", "_time64", "IsWellKnownSid"};
    if (!infallible.count(api)) throw std::logic_error(api + ": no documented errors in the explorer's table");
    return none;
}

bool ReleaseKeepsOnFailure(const std::string& api)
{
    return api == "CloseHandle" || api == "LocalFree" || api == "CloseServiceHandle" || api == "RegCloseKey" ||
           api == "_close";
}

bool IsLogCall(Road road, const std::string& api)
{
    static const std::set<std::string> installerLog = {"GetEnvironmentVariableW",
                                                       "CreateFileW",
                                                       "GetFileInformationByHandleEx",
                                                       "GetFileInformationByHandle",
                                                       "GetVolumeInformationByHandleW",
                                                       "GetVolumePathNameW",
                                                       "GetVolumeInformationW",
                                                       "GetKernelObjectSecurity",
                                                       "GetSecurityDescriptorOwner",
                                                       "OpenProcessToken",
                                                       "GetTokenInformation",
                                                       "EqualSid",
                                                       "_open_osfhandle",
                                                       "_wfdopen",
                                                       "fwrite",
                                                       "WriteFile",
                                                       "_close",
                                                       "CloseHandle"};
    static const std::set<std::string> cleanerLog = {"_access", "_wfsopen", "fopen", "fwrite"};
    return road == Road::Svcsweep ? cleanerLog.count(api) != 0 : installerLog.count(api) != 0;
}

std::string LineOwed(const std::string& api, DWORD code)
{
    std::string d = std::to_string(static_cast<long>(static_cast<int>(code)));
    std::string x = Hex(code);
    if (api == "DeleteFileW") return "(Delete File|delete driver file|delete wow64 driver file) .*: " + d;
    if (api == "SetupCopyOEMInfW") return "SetupCopyOEMInf \\(.*\\) error: " + d;
    if (api == "SetupDiGetClassDevsExW")
        return "(SetupDiGetClassDevsEx error: " + d + " |SetupDiGetClasDevsEx .* error: " + d + ")";
    if (api == "SetupDiSetClassInstallParamsW" || api == "SetupDiCallClassInstaller") return "remove error: " + x;
    if (api == "UpdateDriverForPlugAndPlayDevicesW") return "update \\(.*\\) .* error: " + x;
    if (api == "SetupDiEnumDeviceInfo")
        return "(remove device count: [0-9]+|SetupDiEnumDeviceInfo .* devcount:[0-9]+) error: " + d;
    if (api == "CM_Locate_DevNode_ExW") return "CM_Locate_DevNode_Ex error: " + d;
    if (api == "CM_Reenumerate_DevNode_Ex") return "CM_Reenumerate_DevNode_Ex error: " + d;
    if (api == "GetWindowsDirectoryW") return "GetWindowsDir error: " + d;
    if (api == "IsWow64Process") return "__IsWow64Process error: " + d;
    if (api == "SetupUninstallOEMInfW") return "DeleteDriverPackage \\(.*\\) error: " + d;
    if (api == "OpenSCManagerA") return ".*The Service Control Manager could not be opened: " + d;
    if (api == "OpenServiceA") return ".*Service could not be opened: " + d;
    if (api == "DeleteService") return ".*Service could not be deleted: " + d;
    if (api == "RegOpenKeyA") return ".* failed to open the service-key: .*, error = " + d;
    if (api == "RegDeleteKeyA") return ".*RegDeleteKey could not delete the service-key : .* error = " + d;
    if (api == "SHDeleteKeyA") return ".*SHDeleteKey could not delete the service-key : .* error = " + d;
    return "";
}

// ---------------------------------------------------------------------------------------
// The matrix

namespace {

const char* RoadName(Road road, Answer answer)
{
    switch (road) {
    case Road::Install: return "install";
    case Road::Upgrade: return "upgrade";
    case Road::Svcsweep: return "svcsweep";
    case Road::Uninstall:
        switch (answer) {
        case Answer::Retry: return "uninstall-retry";
        case Answer::Abort: return "uninstall-abort";
        case Answer::Ignore: return "uninstall-ignore";
        case Answer::None: return "uninstall";
        }
    }
    return "?";
}

const char* ArchName(Arch arch)
{
    switch (arch) {
    case Arch::X86: return "x86";
    case Arch::Wow64: return "wow64";
    case Arch::X64: return "x64";
    }
    return "?";
}

// The machine's contents, each named: together they hold 0, 1 and 3 devices (one needing a
// reboot), phantoms, stores of 0, 1 and 3 packages of the class and one of another class, and
// the binaries in neither, one or both drivers folders.
struct NamedContent {
    const char* name;
    Content content;
};
const std::vector<NamedContent> Contents = {
    {"1dev-store1+other-bin1-phantom", {1, false, true, 1, true, 1}},
    {"3dev-reboot-store3+other-bin2-phantom", {3, true, true, 3, true, 2}},
    {"0dev-store0-bin0", {0, false, false, 0, false, 0}},
    {"1dev-reboot-store1-bin2", {1, true, false, 1, false, 2}},
};

}  // namespace

std::vector<Scenario> Matrix()
{
    std::vector<Scenario> all;
    auto add = [&](Road road, Arch arch, bool session, Answer answer, const NamedContent& content) {
        Scenario s;
        s.road = road;
        s.arch = arch;
        s.session = session;
        s.answer = answer;
        s.content = content.content;
        s.name = std::string(RoadName(road, answer)) + "/" + ArchName(arch) + "/" +
                 (road == Road::Upgrade ? "no-session"
                  : session             ? "session"
                                        : "null-session") +
                 "/" + content.name;
        all.push_back(s);
    };
    for (Arch arch : {Arch::X86, Arch::Wow64, Arch::X64}) {
        for (const NamedContent& content : Contents) {
            add(Road::Install, arch, true, Answer::None, content);
            add(Road::Install, arch, false, Answer::None, content);
            // The answers matter only where a removal asks for a reboot.
            if (content.content.rebootDevice) {
                for (Answer answer : {Answer::Retry, Answer::Abort, Answer::Ignore})
                    add(Road::Uninstall, arch, true, answer, content);
            } else {
                add(Road::Uninstall, arch, true, Answer::Ignore, content);
            }
            add(Road::Uninstall, arch, false, Answer::None, content);
            add(Road::Upgrade, arch, false, Answer::None, content);
        }
    }
    for (ServiceCase service :
         {ServiceCase::Present, ServiceCase::Absent, ServiceCase::MarkedForDeletion, ServiceCase::WithSubkeys}) {
        Scenario s;
        s.road = Road::Svcsweep;
        s.service = service;
        const char* names[] = {"present", "absent", "marked-for-deletion", "with-subkeys"};
        s.name = std::string("svcsweep/") + names[static_cast<int>(service)];
        all.push_back(s);
    }
    return all;
}

std::vector<std::string> Sample()
{
    return {
        "install/x86/session/3dev-reboot-store3+other-bin2-phantom",
        "install/wow64/session/1dev-store1+other-bin1-phantom",
        "uninstall-retry/x64/session/1dev-reboot-store1-bin2",
        "uninstall-abort/x86/session/3dev-reboot-store3+other-bin2-phantom",
        "uninstall/x86/null-session/1dev-store1+other-bin1-phantom",
        "svcsweep/with-subkeys",
        "svcsweep/marked-for-deletion",
    };
}

// ---------------------------------------------------------------------------------------
// Outcomes the design cannot avoid, and the reproducers of what the walk found

namespace {
const char* const NoPrompt = "the removal went on as answered Ignore";
const char* const Repairs = "the next run repairs";
const char* const DeviceUnseen =
    "the first removal pass could not see or remove the device that asks for a reboot, so it asked for none and "
    "no prompt was shown; the removal goes on, as the road without a prompt does, and a later Abort cannot undo it";
const char* const PromptUnshown =
    "the prompt could not be shown; a prompt that shows nothing ends the loop as Ignore, so the removal goes on";
const char* const RevertLookup =
    "the revert function is looked up again by name in kernel32.dll and, when it cannot be found, nothing is "
    "called; kernel32.dll is mapped in every process and exported the function at the disable, so on Windows "
    "this lookup does not fail (the host test Frame.RevertMissingAtTheEndWritesNothing keeps the missing case)";
}  // namespace

const std::vector<AcceptedOutcome> AcceptedOutcomes = {
    {"uninstall-abort/.*", "fail", "SetupDiGetClassDevsExW", -1, NoPrompt, DeviceUnseen},
    {"uninstall-abort/.*", "fail", "SetupDiEnumDeviceInfo", -1, NoPrompt, DeviceUnseen},
    {"uninstall-abort/.*", "fail", "SetupDiGetDeviceInfoListDetailW", -1, NoPrompt, DeviceUnseen},
    {"uninstall-abort/.*", "fail", "CM_Get_Device_ID_ExW", -1, NoPrompt, DeviceUnseen},
    {"uninstall-abort/.*", "fail", "SetupDiSetClassInstallParamsW", -1, NoPrompt, DeviceUnseen},
    {"uninstall-abort/.*", "fail", "SetupDiCallClassInstaller", -1, NoPrompt, DeviceUnseen},
    {"uninstall-abort/.*", "fail", "SetupDiGetDeviceInstallParamsW", -1, NoPrompt, DeviceUnseen},
    {"uninstall-abort/.*", "fail", "MsiCreateRecord", -1, NoPrompt, PromptUnshown},
    {"uninstall-abort/.*", "fail", "MsiRecordSetInteger", -1, NoPrompt, PromptUnshown},
    {"uninstall-abort/.*", "fail", "MsiProcessMessage", -1, NoPrompt, PromptUnshown},
    {"uninstall/wow64/null-session/(?!.*bin0).*", "clean", "", -1, "a clean run ends where its road leads",
     "a null session changes no redirection, so a 32-bit process on 64-bit Windows reaches only the WOW64 drivers "
     "folder under both names and the native copy of the binary stays; the 64-bit runner removes it"},
    {"[a-z-]+/wow64/session/.*", "fail", "GetModuleHandleW", -1, "redirection restored", RevertLookup},
    {"[a-z-]+/wow64/session/.*", "fail", "GetProcAddress", -1, "redirection restored", RevertLookup},
    {".*reboot.*|[a-z-]+/wow64/(?!.*0dev).*", "fail", "CM_Get_DevNode_Status", -1, Repairs,
     "a device whose status cannot be read counts as not present and is marked for reinstall; a present device "
     "that keeps its place (it waits for a reboot, or WOW64 refused its removal) keeps the mark, and Windows "
     "reinstalls its driver at the next enumeration, onto the same staged package"},
};

const std::vector<Reproducer> Reproducers = {
    {"install/x86/session/1dev-store1+other-bin1-phantom", "FindFirstFileW", 1, ERROR_ACCESS_DENIED,
     "a store search the system refused was logged as a finished sweep"},
    {"install/x86/session/1dev-store1+other-bin1-phantom", "FindNextFileW", 0, ERROR_NOT_ENOUGH_MEMORY,
     "a store search broken off halfway was logged as a finished sweep"},
};

}  // namespace faults
