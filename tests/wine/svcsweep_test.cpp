// Runs the 64-bit Svcsweep.exe under Wine against Wine's own service control manager and
// registry, each run in a fresh working folder, and checks what it deleted, its exit code,
// its console output and the bytes of its log file.
#include "check.h"

#include <shellapi.h>
#include <stdio.h>
#include <string.h>

#include <vector>

namespace {

const wchar_t ServicesKey[] = L"SYSTEM\\CurrentControlSet\\Services";
const wchar_t LogName[] = L"__Svcsweep__LOG.log";
const size_t StampChars = 22;  // "[YYYY-MM-DD HH:MM:SS] "
const char Stamp[] = "[time] ";

struct Run {
    bool started = false;
    DWORD exitCode = 0;
    std::string out;
    std::string err;
    std::wstring program;  // the program's name as the command line gave it
};

HANDLE InheritableFile(const std::wstring& path)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
}

// Starts Svcsweep.exe in `folder` with the command-line tail `arguments` and waits for it.
Run RunSvcsweep(const std::wstring& folder, const std::wstring& arguments)
{
    Run run;
    run.program = DistFile(L"Svcsweep.exe");
    std::wstring command = L"\"" + run.program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    std::wstring outPath = folder + L"\\..\\" + L"svcsweep-stdout.txt";
    std::wstring errPath = folder + L"\\..\\" + L"svcsweep-stderr.txt";
    HANDLE out = InheritableFile(outPath), err = InheritableFile(errPath);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process = {};
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    run.started = CreateProcessW(run.program.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                                 folder.c_str(), &startup, &process);
    CloseHandle(out);
    CloseHandle(err);
    if (run.started) {
        RunWithinLimit(process.hProcess, process.hThread, command);
        GetExitCodeProcess(process.hProcess, &run.exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    run.out = ReadBytes(outPath);
    run.err = ReadBytes(errPath);
    return run;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Replaces the time prefix of every line that has one by "[time] "; a line that starts like
// a prefix but is not one stays as it is and fails the comparison.
std::string MaskStamps(const std::string& text)
{
    static const char shape[] = "[dddd-dd-dd dd:dd:dd] ";
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        std::string line = text.substr(start, end - start);
        bool stamped = line.size() >= StampChars;
        for (size_t i = 0; stamped && i < StampChars; ++i)
            stamped = shape[i] == 'd' ? IsDigit(line[i]) : line[i] == shape[i];
        out += stamped ? Stamp + line.substr(StampChars) : line;
        start = end;
    }
    return out;
}

std::string Crlf(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n') out.push_back('\r');
        out.push_back(c);
    }
    return out;
}

std::string Banner(const std::wstring& program)
{
    return "Svcsweep\nversion: 1.0.001\nsupport@tesmar.example\n\n\nUsage: " + Utf8(program) + " [servicename]\n\n";
}

// The lines every run logs first, with this Wine's version.
std::string Header()
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    char line[64];
    snprintf(line, sizeof line, "OS version: %d.%d.%d\n", static_cast<int>(version.dwMajorVersion),
             static_cast<int>(version.dwMinorVersion), static_cast<int>(version.dwBuildNumber));
    return std::string(Stamp) + "Svcsweep\n" + Stamp + "version: 1.0.001\n" + Stamp + "support@tesmar.example\n" +
           Stamp + line;
}

std::string Logged(const std::vector<std::string>& lines)
{
    std::string text = Header();
    for (const auto& line : lines) text += Stamp + line;
    return text;
}

std::wstring KeyOf(const std::wstring& name) { return std::wstring(ServicesKey) + L"\\" + name; }

bool KeyExists(const std::wstring& path)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

bool MakeKey(const std::wstring& path)
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    DWORD one = 1;
    RegSetValueExW(key, L"Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    RegCloseKey(key);
    return true;
}

DWORD SubkeyCount(const std::wstring& path)
{
    HKEY key;
    DWORD count = 0;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
    return count;
}

// The service control manager's answer to opening the service: 0 when it is there.
DWORD OpenServiceError(const wchar_t* name)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return GetLastError();
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_QUERY_STATUS);
    DWORD error = service ? 0 : GetLastError();
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return error;
}

std::wstring FolderWithLog(const wchar_t* name)
{
    std::wstring folder = FreshFolder(name);
    WriteBytes(folder + L"\\" + LogName, "");
    return folder;
}

std::vector<std::string> MissingKeyLines(const std::string& name)
{
    std::string key = "SYSTEM\\CurrentControlSet\\Services\\" + name;
    return {"Prepare clean the register for the service: " + name + "\n",
            " failed to open the service-key: " + key + ", error = 2\n",
            "RegDeleteKey could not delete the service-key : " + key + " error = 2\n",
            "SHDeleteKey could not delete the service-key : " + key + " error = 2\n"};
}

}  // namespace

WINE_CASE(deletes_a_service_made_by_the_service_control_manager)
{
    const wchar_t name[] = L"svcsweep_made";
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!CHECK(manager != nullptr)) return;
    SC_HANDLE service = CreateServiceW(
        manager, name, name, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
        L"C:\\windows\\system32\\drivers\\svcsweep_made.sys", nullptr, nullptr, nullptr, nullptr, nullptr);
    CHECK(service != nullptr);
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    CHECK(KeyExists(KeyOf(name)));

    std::wstring folder = FolderWithLog(L"svcsweep-made");
    Run run = RunSvcsweep(folder, name);
    if (!CHECK(run.started)) return;
    CHECK(run.exitCode == 0);
    CHECK(OpenServiceError(name) == ERROR_SERVICE_DOES_NOT_EXIST);
    CHECK(!KeyExists(KeyOf(name)));

    // Wine's DeleteService takes the key with the service: the key steps find nothing.
    std::vector<std::string> lines = {"Prepare delete the service: svcsweep_made\n",
                                      "Success to delete service svcsweep_made\n"};
    for (const auto& line : MissingKeyLines("svcsweep_made")) lines.push_back(line);
    std::string logged = Logged(lines);
    std::string bytes = ReadBytes(folder + L"\\" + LogName);
    CHECK_EQ(MaskStamps(bytes), Crlf(logged));
    CHECK(bytes.find("\r\n") != std::string::npos && bytes.find("\r\r") == std::string::npos);
    CHECK_EQ(MaskStamps(run.out), Crlf(Banner(run.program) + logged));
    CHECK_EQ(run.err, "");
}

WINE_CASE(removes_a_leftover_key_with_subkeys_in_the_recursive_step)
{
    const wchar_t name[] = L"svcsweep_leftover";
    if (!CHECK(MakeKey(KeyOf(name) + L"\\Enum\\Root"))) return;
    std::wstring folder = FolderWithLog(L"svcsweep-leftover");
    Run run = RunSvcsweep(folder, name);
    if (!CHECK(run.started)) return;
    CHECK(run.exitCode == 0);
    CHECK(!KeyExists(KeyOf(name)));
    std::string key = "SYSTEM\\CurrentControlSet\\Services\\svcsweep_leftover";
    CHECK_EQ(MaskStamps(ReadBytes(folder + L"\\" + LogName)),
             Crlf(Logged({"Prepare delete the service: svcsweep_leftover\n",
                          "The svcsweep_leftover Service could not be opened: 1060\n",
                          "Prepare clean the register for the service: svcsweep_leftover\n",
                          "RegDeleteKey could not delete the service-key : " + key + " error = 5\n",
                          "SHDeleteKey success to delete service-key: " + key + "\n"})));
}

WINE_CASE(refused_names_leave_every_key_in_place)
{
    const wchar_t sentinel[] = L"svcsweep_sentinel";
    if (!CHECK(MakeKey(KeyOf(sentinel) + L"\\Enum"))) return;
    DWORD services = SubkeyCount(ServicesKey);
    CHECK(services > 1);
    struct Case {
        std::wstring arguments;
        std::string reason;
    };
    std::string tooLong(226, 's');
    const Case cases[] = {
        {L"\"\"", "The service name is empty: nothing is deleted\n"},
        {L"svcsweep_sentinel\\Enum",
         "The service name svcsweep_sentinel\\Enum holds a backslash or a slash: nothing is deleted\n"},
        {L"..\\svcsweep_sentinel",
         "The service name ..\\svcsweep_sentinel holds a backslash or a slash: nothing is deleted\n"},
        {L"svcsweep_sentinel/Enum",
         "The service name svcsweep_sentinel/Enum holds a backslash or a slash: nothing is deleted\n"},
        {Wide(tooLong), "The service name has 226 characters, more than 225: nothing is deleted\n"},
    };
    for (const Case& c : cases) {
        std::wstring folder = FolderWithLog(L"svcsweep-refused");
        Run run = RunSvcsweep(folder, c.arguments);
        if (!CHECK(run.started)) return;
        CHECK(run.exitCode == 0);
        CHECK_EQ(run.err, Crlf(c.reason));
        CHECK_EQ(MaskStamps(ReadBytes(folder + L"\\" + LogName)), Crlf(Logged({c.reason})));
        CHECK(KeyExists(KeyOf(sentinel) + L"\\Enum"));
        CHECK(SubkeyCount(ServicesKey) == services);
    }
}

WINE_CASE(without_a_log_file_only_the_banner_reaches_the_console)
{
    std::wstring folder = FreshFolder(L"svcsweep-quiet");
    Run run = RunSvcsweep(folder, L"");
    if (!CHECK(run.started)) return;
    CHECK(run.exitCode == 0);
    CHECK_EQ(run.out, Crlf(Banner(run.program)));
    CHECK_EQ(run.err, "");
    CHECK(GetFileAttributesW((folder + L"\\" + LogName).c_str()) == INVALID_FILE_ATTRIBUTES);
}

WINE_CASE(a_fullwidth_name_is_refused_and_the_service_it_best_fits_to_stays)
{
    const wchar_t victim[] = L"victim";
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!CHECK(manager != nullptr)) return;
    SC_HANDLE service = CreateServiceW(
        manager, victim, victim, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
        L"C:\\windows\\system32\\drivers\\victim.sys", nullptr, nullptr, nullptr, nullptr, nullptr);
    CHECK(service != nullptr);
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    if (!CHECK(MakeKey(KeyOf(victim) + L"\\Enum"))) return;

    // "victim" in fullwidth letters: the narrow command line holds their best fit, "victim".
    const std::string reason = "The service name does not convert exactly to the ANSI code page: nothing is deleted\n";
    std::wstring folder = FolderWithLog(L"svcsweep-fullwidth");
    Run run = RunSvcsweep(folder, L"\xFF56\xFF49\xFF43\xFF54\xFF49\xFF4D");
    if (!CHECK(run.started)) return;
    CHECK(run.exitCode == 0);
    CHECK_EQ(run.err, Crlf(reason));
    CHECK_EQ(MaskStamps(ReadBytes(folder + L"\\" + LogName)), Crlf(Logged({reason})));
    CHECK(OpenServiceError(victim) == 0);
    CHECK(KeyExists(KeyOf(victim) + L"\\Enum"));

    // The plain name still deletes the service and its key.
    folder = FolderWithLog(L"svcsweep-victim");
    run = RunSvcsweep(folder, victim);
    if (!CHECK(run.started)) return;
    CHECK(run.exitCode == 0);
    CHECK_EQ(run.err, "");
    std::string steps = Crlf(Logged({"Prepare delete the service: victim\n", "Success to delete service victim\n"}));
    CHECK_EQ(MaskStamps(ReadBytes(folder + L"\\" + LogName)).substr(0, steps.size()), steps);
    CHECK(OpenServiceError(victim) == ERROR_SERVICE_DOES_NOT_EXIST);
    CHECK(!KeyExists(KeyOf(victim)));
}

// What Svcsweep's host tests take for granted of the ANSI code page and of the parsing of the
// command line, as this Wine does it.
WINE_CASE(the_code_page_and_the_command_line_behave_as_the_host_layer_has_them)
{
    CHECK(GetACP() == 1252);
    const wchar_t fullwidth[] = L"\xFF56\xFF49\xFF43\xFF54\xFF49\xFF4D";
    char bytes[16] = {};
    BOOL usedDefault = TRUE;
    CHECK(WideCharToMultiByte(CP_ACP, 0, fullwidth, -1, bytes, sizeof bytes, nullptr, &usedDefault) == 7);
    CHECK_EQ(bytes, "victim");
    CHECK(!usedDefault);
    CHECK(WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, fullwidth, -1, bytes, sizeof bytes, nullptr,
                              &usedDefault) == 7);
    CHECK_EQ(bytes, "??????");
    CHECK(usedDefault);
    CHECK(WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, L"\x00E9\x20AC\x0081\x2030", -1, bytes, sizeof bytes,
                              nullptr, &usedDefault) == 5);
    CHECK_EQ(bytes, "\xE9\x80\x81\x89");
    CHECK(!usedDefault);
    const wchar_t surrogatePair[] = L"a\U0001F600b";  // U+1F600 is the pair D83D DE00
    CHECK(WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, surrogatePair, -1, bytes, sizeof bytes, nullptr,
                              &usedDefault) == 5);
    CHECK_EQ(bytes, "a??b");
    CHECK(WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, fullwidth, -1, nullptr, 0, nullptr, nullptr) == 7);
    const char hash = '#';
    memset(bytes, 0, sizeof bytes);
    CHECK(WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, fullwidth, 2, bytes, sizeof bytes, &hash, &usedDefault) ==
          2);
    CHECK_EQ(bytes, "##");
    CHECK(WideCharToMultiByte(CP_ACP, 0, fullwidth, -1, bytes, 6, nullptr, nullptr) == 0);
    CHECK(GetLastError() == ERROR_INSUFFICIENT_BUFFER);
    CHECK(WideCharToMultiByte(CP_ACP, 0, fullwidth, 0, bytes, 6, nullptr, nullptr) == 0);
    CHECK(GetLastError() == ERROR_INVALID_PARAMETER);
    wchar_t wide[8] = {};
    CHECK(MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, "\xE9\x80\x81", -1, wide, 8) == 4);
    CHECK(std::wstring(wide) == L"\x00E9\x20AC\x0081");
    CHECK(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0) == 4);
    CHECK(MultiByteToWideChar(CP_ACP, 0, "abc", -1, wide, 3) == 0);
    CHECK(GetLastError() == ERROR_INSUFFICIENT_BUFFER);

    // An empty line gives the path of the executable.
    wchar_t module[MAX_PATH];
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    int count = 0;
    LPWSTR* list = CommandLineToArgvW(L"", &count);
    if (CHECK(list != nullptr)) {
        CHECK(count == 1);
        CHECK_EQ(Utf8(list[0]), Utf8(module));
        LocalFree(list);
    }

    // The documented rules: blanks part arguments outside quotes; 2n+1 backslashes and a
    // quote give n backslashes and a quote, 2n and a quote n and a toggle of the quoting;
    // other backslashes stay; a leading blank makes an empty first argument.
    struct Split {
        const wchar_t* line;
        std::vector<std::wstring> arguments;
    };
    const Split splits[] = {
        {L"\"C:\\Program Files\\x.exe\" a\tb  ", {L"C:\\Program Files\\x.exe", L"a", L"b"}},
        {L"x.exe \"a b\" \"\"", {L"x.exe", L"a b", L""}},
        {L"x.exe a\\\\\\\"b", {L"x.exe", L"a\\\"b"}},
        {L"x.exe a\\\\\\\\\"b c\"", {L"x.exe", L"a\\\\b c"}},
        {L"x.exe a\\b c\\\\", {L"x.exe", L"a\\b", L"c\\\\"}},
        {L"  x.exe a", {L"", L"x.exe", L"a"}},
    };
    for (const Split& split : splits) {
        list = CommandLineToArgvW(split.line, &count);
        if (!CHECK(list != nullptr)) continue;
        std::string seen, expected;
        for (int i = 0; i < count; ++i) seen += "[" + Utf8(list[i]) + "]";
        for (const auto& argument : split.arguments) expected += "[" + Utf8(argument) + "]";
        CHECK_EQ(seen, expected);
        CHECK(LocalFree(list) == nullptr);
    }
}
