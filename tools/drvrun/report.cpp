#include "report.h"

#include <string>
#include <vector>

#include "explain.h"
#include "guards.h"

namespace {

// The Setup API and configuration-manager calls of the report, bound by name from the system
// folder's setupapi.dll (which exports the CM_ calls too): drvrun runs as administrator from
// folders that anyone may write to, so it imports no library statically that the loader would
// look for in its own folder first.
struct SetupCalls {
    decltype(&SetupDiGetClassDevsExW) GetClassDevsEx = nullptr;
    decltype(&SetupDiGetClassDevsW) GetClassDevs = nullptr;
    decltype(&SetupDiEnumDeviceInfo) EnumDeviceInfo = nullptr;
    decltype(&SetupDiDestroyDeviceInfoList) DestroyDeviceInfoList = nullptr;
    decltype(&SetupDiGetDeviceRegistryPropertyW) GetDeviceRegistryProperty = nullptr;
    decltype(&SetupDiOpenDevRegKey) OpenDevRegKey = nullptr;
    decltype(&SetupDiGetINFClassW) GetINFClass = nullptr;
    decltype(&CM_Get_Device_ID_ExW) GetDeviceId = nullptr;
    decltype(&CM_Get_DevNode_Status) GetDevNodeStatus = nullptr;
    // The original names of store INFs; without them the report says none is recorded.
    decltype(&SetupGetInfInformationW) GetInfInformation = nullptr;
    decltype(&SetupQueryInfOriginalFileInformationW) QueryOriginalFiles = nullptr;

    // False when the library or one of the calls it cannot do without is missing.
    bool Bind(const LibraryGuard& library)
    {
        Take(library, "SetupGetInfInformationW", GetInfInformation);
        Take(library, "SetupQueryInfOriginalFileInformationW", QueryOriginalFiles);
        return Take(library, "SetupDiGetClassDevsExW", GetClassDevsEx) &&
               Take(library, "SetupDiGetClassDevsW", GetClassDevs) &&
               Take(library, "SetupDiEnumDeviceInfo", EnumDeviceInfo) &&
               Take(library, "SetupDiDestroyDeviceInfoList", DestroyDeviceInfoList) &&
               Take(library, "SetupDiGetDeviceRegistryPropertyW", GetDeviceRegistryProperty) &&
               Take(library, "SetupDiOpenDevRegKey", OpenDevRegKey) &&
               Take(library, "SetupDiGetINFClassW", GetINFClass) &&
               Take(library, "CM_Get_Device_ID_ExW", GetDeviceId) &&
               Take(library, "CM_Get_DevNode_Status", GetDevNodeStatus);
    }

private:
    template <typename Function>
    static bool Take(const LibraryGuard& library, const char* name, Function& function)
    {
        function = reinterpret_cast<Function>(library.Function(name));
        return function != nullptr;
    }
};
// The calls while a report runs.
const SetupCalls* setup = nullptr;

// The file version calls, bound by name from the system folder's version.dll; a report
// without them shows no versions.
struct VersionCalls {
    decltype(&GetFileVersionInfoSizeW) GetSize = nullptr;
    decltype(&GetFileVersionInfoW) Get = nullptr;
    decltype(&VerQueryValueW) Query = nullptr;

    void Bind(const LibraryGuard& library)
    {
        GetSize = reinterpret_cast<decltype(GetSize)>(library.Function("GetFileVersionInfoSizeW"));
        Get = reinterpret_cast<decltype(Get)>(library.Function("GetFileVersionInfoW"));
        Query = reinterpret_cast<decltype(Query)>(library.Function("VerQueryValueW"));
    }
    bool Bound() const { return GetSize && Get && Query; }
};
const VersionCalls* versions = nullptr;

// A file's version from its version resource ("2.1.0.7"), or empty when it has none.
std::string FileVersionText(const WCHAR* path)
{
    if (!versions || !versions->Bound()) return std::string();
    DWORD ignored = 0;
    DWORD size = versions->GetSize(path, &ignored);
    if (size == 0) return std::string();
    std::vector<BYTE> block(size);
    if (!versions->Get(path, 0, size, block.data())) return std::string();
    LPVOID value = nullptr;
    UINT length = 0;
    if (!versions->Query(block.data(), W("\\"), &value, &length) || length < sizeof(VS_FIXEDFILEINFO))
        return std::string();
    const VS_FIXEDFILEINFO* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    if (fixed->dwSignature != VS_FFI_SIGNATURE) return std::string();
    char text[48];
    std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", static_cast<unsigned long>(fixed->dwFileVersionMS >> 16),
                  static_cast<unsigned long>(fixed->dwFileVersionMS & 0xFFFF),
                  static_cast<unsigned long>(fixed->dwFileVersionLS >> 16),
                  static_cast<unsigned long>(fixed->dwFileVersionLS & 0xFFFF));
    return text;
}

// {F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}: the family's device setup class.
const GUID FamilyClass = {0xF72FE0D4, 0xCBCB, 0x407d, {0x88, 0x14, 0x9E, 0xD6, 0x73, 0xD0, 0xDD, 0x6B}};

// An INF is read whole up to this size; a driver package's INF is far smaller.
const size_t INF_LIMIT = 1024 * 1024;
// Bytes offered for a device's hardware IDs; a longer list is cut.
const DWORD HARDWARE_ID_BYTES = 4096;

typedef std::basic_string<WCHAR> WideText;

std::string Utf8(const WCHAR* text, size_t units)
{
    std::string out;
    for (size_t i = 0; i < units; ++i) {
        unsigned long c = static_cast<unsigned short>(text[i]);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units && static_cast<unsigned short>(text[i + 1]) >= 0xDC00 &&
            static_cast<unsigned short>(text[i + 1]) < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<unsigned short>(text[++i]) - 0xDC00);
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string Utf8(const WCHAR* text)
{
    size_t n = 0;
    while (text[n]) ++n;
    return Utf8(text, n);
}

std::string Utf8(const WideText& text) { return Utf8(text.c_str(), text.size()); }

WideText Wide(const char* ascii)
{
    WideText out;
    while (*ascii) out += static_cast<WCHAR>(*ascii++);
    return out;
}

bool SameNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string Hex(unsigned long value, int digits)
{
    char text[20];
    std::snprintf(text, sizeof text, "0x%0*lx", digits, value);
    return text;
}

std::string GuidText(const GUID& g)
{
    char text[40];
    std::snprintf(text, sizeof text, "{%.8lx-%.4x-%.4x-%.2x%.2x-%.2x%.2x%.2x%.2x%.2x%.2x}",
                  static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                  g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

// A file time as UTC text: 100-nanosecond ticks since 1601-01-01.
std::string TimeText(const FILETIME& time)
{
    unsigned long long ticks = (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    long long seconds = static_cast<long long>(ticks / 10000000ull) - 11644473600ll;  // since 1970
    long long days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    long long rest = seconds - days * 86400;
    // The civil date of a day count (days since 1970-01-01).
    long long z = days + 719468;
    long long era = (z >= 0 ? z : z - 146096) / 146097;
    long long doe = z - era * 146097;
    long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long y = yoe + era * 400;
    long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long long mp = (5 * doy + 2) / 153;
    long long d = doy - (153 * mp + 2) / 5 + 1;
    long long m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld UTC", y, m, d, rest / 3600,
                  (rest / 60) % 60, rest % 60);
    return text;
}

// ---------------------------------------------------------------------------------------
// INF files: read as text (UTF-16LE with its byte-order mark, else single bytes), only what
// the report shows.

struct InfFacts {
    bool read = false;
    std::string provider, driverVer;
    std::vector<std::string> sourceFiles;  // keys of the [SourceDisksFiles*] sections
};

std::string Trim(const std::string& s)
{
    size_t a = s.find_first_not_of(" \t\r");
    size_t b = s.find_last_not_of(" \t\r");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

std::string Unquote(const std::string& s)
{
    std::string t = Trim(s);
    if (t.size() >= 2 && t.front() == '"' && t.back() == '"') return t.substr(1, t.size() - 2);
    return t;
}

InfFacts ReadInf(const WideText& path)
{
    InfFacts facts;
    FILE* file = _wfsopen(path.c_str(), W("rb"), _SH_DENYNO);
    if (!file) return facts;
    std::string bytes;
    char block[4096];
    size_t n;
    while (bytes.size() < INF_LIMIT && (n = std::fread(block, 1, sizeof block, file)) > 0) bytes.append(block, n);
    std::fclose(file);
    facts.read = true;

    std::string text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        WideText units;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            units += static_cast<WCHAR>(static_cast<unsigned char>(bytes[i]) |
                                        (static_cast<unsigned char>(bytes[i + 1]) << 8));
        text = Utf8(units);
    } else {
        text = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? bytes.substr(3) : bytes;
    }

    std::vector<std::pair<std::string, std::string>> strings;
    std::string section, provider, driverVer;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        // A comment runs from a ';' outside quotes to the line's end.
        bool quoted = false;
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '"') quoted = !quoted;
            if (line[i] == ';' && !quoted) {
                line.erase(i);
                break;
            }
        }
        line = Trim(line);
        if (line.empty()) continue;
        if (line.front() == '[') {
            section = Lower(Trim(line.substr(1, line.find(']') - 1)));
            continue;
        }
        size_t equals = line.find('=');
        std::string key = Lower(Trim(line.substr(0, equals)));
        std::string value = equals == std::string::npos ? std::string() : Unquote(line.substr(equals + 1));
        if (section == "version" && key == "provider") provider = value;
        if (section == "version" && key == "driverver") driverVer = value;
        if (section == "strings") strings.push_back(std::make_pair(key, value));
        if (section.compare(0, 16, "sourcedisksfiles") == 0 && !key.empty())
            facts.sourceFiles.push_back(Unquote(line.substr(0, equals)));
    }
    // %name% stands for a string of the [Strings] section.
    for (std::string* value : {&provider, &driverVer}) {
        if (value->size() > 2 && value->front() == '%' && value->back() == '%') {
            std::string name = Lower(value->substr(1, value->size() - 2));
            for (const auto& entry : strings)
                if (entry.first == name) *value = entry.second;
        }
    }
    facts.provider = provider;
    facts.driverVer = driverVer;
    return facts;
}

// ---------------------------------------------------------------------------------------
// What the report gathers

struct DeviceFacts {
    std::string instanceId;
    std::vector<std::string> hardwareIds;
    CONFIGRET statusResult = CR_SUCCESS;
    ULONG status = 0, problem = 0;
    std::string inf;     // the driver key's InfPath
    std::string infWhy;  // why there is none
    bool flagsRead = false;
    DWORD configFlags = 0;
};

struct StoreFacts {
    std::string published, provider, date, version;
    std::string original;  // the INF's name before the store published it; empty: not recorded
    std::vector<std::string> usedBy;
};

struct BinaryFacts {
    std::string path;
    bool present = false;
    unsigned long long size = 0;
    std::string time;
    std::string version;  // empty: the file has no version resource
    DWORD error = 0;
};

struct Facts {
    DWORD major = 0, minor = 0, build = 0;
    bool versionRead = false;
    bool wow64 = false, windows64 = false;
    std::string systemDrivers, wow64Drivers;
    WideText systemDriversPath, wow64DriversPath;
    std::string folder, inf, classGuid;
    bool classFromInf = false;
    std::vector<DeviceFacts> present, phantoms;
    std::string devicesError;
    std::vector<StoreFacts> store;
    std::vector<BinaryFacts> binaries;
    std::string logPath, logWhy;
    LastRunKeeper lastRun;
    int logCode = 0;
};

typedef BOOL(WINAPI* IsWow64Function)(HANDLE process, PBOOL wow64);
typedef BOOL(WINAPI* DisableFunction)(PVOID* oldValue);
typedef BOOL(WINAPI* RevertFunction)(PVOID oldValue);

// The thread's view of the native system folder while it lives, for a 32-bit process on
// 64-bit Windows; elsewhere it switches nothing. Only this thread's view changes.
class NativeFolders {
public:
    explicit NativeFolders(bool wow64)
    {
        if (!wow64) return;
        HMODULE kernel32 = GetModuleHandleW(W("kernel32.dll"));
        DisableFunction disable =
            kernel32 ? reinterpret_cast<DisableFunction>(GetProcAddress(kernel32, "Wow64DisableWow64FsRedirection"))
                     : nullptr;
        if (disable) disabled_ = disable(&oldValue_);
    }
    ~NativeFolders()
    {
        if (!disabled_) return;
        HMODULE kernel32 = GetModuleHandleW(W("kernel32.dll"));
        RevertFunction revert =
            kernel32 ? reinterpret_cast<RevertFunction>(GetProcAddress(kernel32, "Wow64RevertWow64FsRedirection"))
                     : nullptr;
        if (revert) revert(oldValue_);
    }
    NativeFolders(const NativeFolders&) = delete;
    NativeFolders& operator=(const NativeFolders&) = delete;

private:
    PVOID oldValue_ = nullptr;
    BOOL disabled_ = FALSE;
};

void ReadWindows(Facts& facts)
{
    OSVERSIONINFOA version;
    version.dwOSVersionInfoSize = sizeof version;
    if (GetVersionExA(&version)) {
        facts.versionRead = true;
        facts.major = version.dwMajorVersion;
        facts.minor = version.dwMinorVersion;
        facts.build = version.dwBuildNumber;
    }
    HMODULE kernel32 = GetModuleHandleW(W("kernel32.dll"));
    IsWow64Function isWow64 =
        kernel32 ? reinterpret_cast<IsWow64Function>(GetProcAddress(kernel32, "IsWow64Process")) : nullptr;
    BOOL wow64 = FALSE;
    if (isWow64 && isWow64(GetCurrentProcess(), &wow64)) facts.wow64 = wow64 != FALSE;
    WCHAR folder[MAX_PATH];
    UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    if (n > 0 && n < MAX_PATH) facts.systemDriversPath = WideText(folder, n) + W("\\drivers\\");
    n = GetSystemWow64DirectoryW(folder, MAX_PATH);
    facts.windows64 = n > 0 && n < MAX_PATH;
    if (facts.windows64) facts.wow64DriversPath = WideText(folder, n) + W("\\drivers\\");
    facts.systemDrivers = Utf8(facts.systemDriversPath);
    facts.wow64Drivers = Utf8(facts.wow64DriversPath);
}

// The folder of drvrun.exe, with its trailing backslash.
WideText ProgramFolder()
{
    WCHAR path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return WideText();
    WideText folder(path, n);
    size_t slash = folder.rfind(W('\\'));
    return slash == WideText::npos ? WideText() : folder.substr(0, slash + 1);
}

// The names of the files that match a pattern in a folder, in the order the search gives them.
std::vector<WideText> FilesMatching(const WideText& folder, const char* pattern)
{
    std::vector<WideText> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + Wide(pattern)).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(WideText(data.cFileName));
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

std::vector<std::string> MultiString(const BYTE* bytes, DWORD size)
{
    std::vector<std::string> strings;
    const WCHAR* text = reinterpret_cast<const WCHAR*>(bytes);
    size_t units = size / sizeof(WCHAR), start = 0;
    for (size_t i = 0; i < units; ++i) {
        if (text[i] != 0) continue;
        if (i == start) break;
        strings.push_back(Utf8(text + start, i - start));
        start = i + 1;
    }
    if (start < units && text[start] != 0) strings.push_back(Utf8(text + start, units - start));
    return strings;
}

DeviceFacts ReadDevice(HDEVINFO set, SP_DEVINFO_DATA& device)
{
    DeviceFacts facts;
    WCHAR id[MAX_DEVICE_ID_LEN + 1] = {0};
    if (setup->GetDeviceId(device.DevInst, id, MAX_DEVICE_ID_LEN, 0, nullptr) == CR_SUCCESS) {
        id[MAX_DEVICE_ID_LEN] = 0;
        facts.instanceId = Utf8(id);
    }
    std::vector<BYTE> ids(HARDWARE_ID_BYTES + 2 * sizeof(WCHAR), 0);
    DWORD type = 0, size = 0;
    if (setup->GetDeviceRegistryProperty(set, &device, SPDRP_HARDWAREID, &type, ids.data(), HARDWARE_ID_BYTES, &size))
        facts.hardwareIds = MultiString(ids.data(), size < HARDWARE_ID_BYTES ? size : HARDWARE_ID_BYTES);
    facts.statusResult = setup->GetDevNodeStatus(&facts.status, &facts.problem, device.DevInst, 0);
    DWORD flags = 0;
    if (setup->GetDeviceRegistryProperty(set, &device, SPDRP_CONFIGFLAGS, &type, reinterpret_cast<PBYTE>(&flags),
                                         sizeof flags, nullptr) &&
        type == REG_DWORD) {
        facts.flagsRead = true;
        facts.configFlags = flags;
    }
    HKEY key = setup->OpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
    if (key == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) {
        DWORD error = GetLastError();
        facts.infWhy = error == static_cast<DWORD>(ERROR_KEY_DOES_NOT_EXIST)
                           ? "no driver key: no driver was installed on it"
                           : "its driver key cannot be opened: error " + Hex(error, 8);
        return facts;
    }
    WCHAR inf[MAX_PATH + 1] = {0};
    DWORD bytes = MAX_PATH * sizeof(WCHAR);
    LONG status = RegQueryValueExW(key, W("InfPath"), nullptr, &type, reinterpret_cast<LPBYTE>(inf), &bytes);
    if (status == ERROR_SUCCESS && type == REG_SZ)
        facts.inf = Utf8(inf);
    else
        facts.infWhy = "its driver key has no InfPath: status " + std::to_string(static_cast<long>(status));
    RegCloseKey(key);
    return facts;
}

void ReadDevices(Facts& facts, const GUID& classGuid)
{
    HDEVINFO present = setup->GetClassDevsEx(&classGuid, nullptr, nullptr, DIGCF_PRESENT, nullptr, nullptr, nullptr);
    if (present == INVALID_HANDLE_VALUE) {
        facts.devicesError = "the present devices cannot be listed: error " + Hex(GetLastError(), 8);
    } else {
        SP_DEVINFO_DATA device;
        device.cbSize = sizeof device;
        for (DWORD i = 0; setup->EnumDeviceInfo(present, i, &device); ++i)
            facts.present.push_back(ReadDevice(present, device));
        setup->DestroyDeviceInfoList(present);
    }
    // The devices the system remembers: every device of every class, as the removal marks them.
    HDEVINFO all = setup->GetClassDevs(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (all == INVALID_HANDLE_VALUE) {
        if (facts.devicesError.empty())
            facts.devicesError = "the non-present devices cannot be listed: error " + Hex(GetLastError(), 8);
        return;
    }
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD i = 0; setup->EnumDeviceInfo(all, i, &device); ++i) {
        if (!IsEqualGUID(device.ClassGuid, classGuid)) continue;
        ULONG status = 0, problem = 0;
        if (setup->GetDevNodeStatus(&status, &problem, device.DevInst, 0) == CR_SUCCESS) continue;
        facts.phantoms.push_back(ReadDevice(all, device));
    }
    setup->DestroyDeviceInfoList(all);
}

// The name a store INF came with, as the Setup API recorded it when it published the INF; empty
// when it cannot be read.
std::string OriginalName(const WideText& path)
{
    if (!setup->GetInfInformation || !setup->QueryOriginalFiles) return std::string();
    DWORD size = 0;
    if (!setup->GetInfInformation(path.c_str(), INFINFO_INF_NAME_IS_ABSOLUTE, nullptr, 0, &size) ||
        size < sizeof(SP_INF_INFORMATION))
        return std::string();
    std::vector<BYTE> block(size);
    PSP_INF_INFORMATION information = reinterpret_cast<PSP_INF_INFORMATION>(block.data());
    if (!setup->GetInfInformation(path.c_str(), INFINFO_INF_NAME_IS_ABSOLUTE, information, size, nullptr) ||
        information->InfCount == 0)
        return std::string();
    SP_ORIGINAL_FILE_INFO_W original;
    original.cbSize = sizeof original;
    if (!setup->QueryOriginalFiles(information, 0, nullptr, &original)) return std::string();
    size_t n = 0;
    while (n < MAX_PATH && original.OriginalInfName[n]) ++n;
    return Utf8(original.OriginalInfName, n);
}

void ReadStore(Facts& facts, const GUID& classGuid)
{
    WCHAR windows[MAX_PATH];
    UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    WideText infFolder = WideText(windows) + W("\\inf\\");
    for (const WideText& name : FilesMatching(infFolder, "oem*.inf")) {
        GUID infClass;
        WCHAR className[MAX_CLASS_NAME_LEN];
        WideText path = infFolder + name;
        if (!setup->GetINFClass(path.c_str(), &infClass, className, MAX_CLASS_NAME_LEN, nullptr)) continue;
        if (!IsEqualGUID(infClass, classGuid)) continue;
        StoreFacts entry;
        entry.published = Utf8(name);
        entry.original = OriginalName(path);
        InfFacts inf = ReadInf(path);
        entry.provider = inf.provider;
        size_t comma = inf.driverVer.find(',');
        entry.date = Trim(inf.driverVer.substr(0, comma));
        if (comma != std::string::npos) entry.version = Trim(inf.driverVer.substr(comma + 1));
        for (const auto* list : {&facts.present, &facts.phantoms})
            for (const DeviceFacts& device : *list)
                if (SameNoCase(device.inf, entry.published)) entry.usedBy.push_back(device.instanceId);
        facts.store.push_back(entry);
    }
}

void ReadBinaries(Facts& facts, const std::vector<WideText>& names)
{
    NativeFolders native(facts.wow64);
    for (const WideText* folder : {&facts.systemDriversPath, &facts.wow64DriversPath}) {
        if (folder->empty()) continue;
        for (const WideText& name : names) {
            BinaryFacts binary;
            WideText path = *folder + name;
            binary.path = Utf8(path);
            WIN32_FIND_DATAW data;
            HANDLE find = FindFirstFileW(path.c_str(), &data);
            if (find == INVALID_HANDLE_VALUE) {
                binary.error = GetLastError();
            } else {
                binary.present = true;
                binary.size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
                binary.time = TimeText(data.ftLastWriteTime);
                FindClose(find);
                binary.version = FileVersionText(path.c_str());
            }
            facts.binaries.push_back(binary);
        }
    }
}

void ReadLog(Facts& facts)
{
    WCHAR temp[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(W("TEMP"), temp, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        facts.logWhy = "TEMP is not set: there is no log";
        return;
    }
    WideText path = WideText(temp, n) + W("\\drvmate.log");
    facts.logPath = Utf8(path);
    FILE* log = _wfsopen(path.c_str(), W("rb"), _SH_DENYNO);
    if (!log) {
        facts.logWhy = "there is no drvmate.log: nothing ran with this TEMP";
        return;
    }
    LogExplainer explainer(facts.lastRun);
    LogDecoder decoder(explainer);
    char block[16384];
    size_t read;
    while ((read = std::fread(block, 1, sizeof block, log)) > 0) decoder.Feed(block, read);
    std::fclose(log);
    decoder.Finish();
    explainer.Finish();
    facts.logCode = explainer.ExitCode();
    if (facts.logCode == LOG_NOT_DRVMATE) facts.logWhy = "the file is not a drvmate log";
}

// ---------------------------------------------------------------------------------------
// Printing

std::string StatusText(const DeviceFacts& d)
{
    if (d.statusResult != CR_SUCCESS) return "not present (CM_Get_DevNode_Status: " + Hex(d.statusResult, 2) + ")";
    return "status " + Hex(d.status, 8) + ", problem " + std::to_string(static_cast<unsigned long>(d.problem));
}

void PrintText(const Facts& f, FILE* out)
{
    fprintf(out, "== Windows ==\n");
    if (f.versionRead)
        fprintf(out, "version: %lu.%lu build %lu\n", static_cast<unsigned long>(f.major),
                static_cast<unsigned long>(f.minor), static_cast<unsigned long>(f.build));
    fprintf(out, "system: %s Windows\n", f.windows64 ? "64-bit" : "32-bit");
    fprintf(out, "process: %s%s\n", f.windows64 && !f.wow64 ? "64-bit" : "32-bit", f.wow64 ? ", under WOW64" : "");
    fprintf(out, "drivers folder: %s\n", f.systemDrivers.c_str());
    fprintf(out, "WOW64 drivers folder: %s\n", f.windows64 ? f.wow64Drivers.c_str() : "(none: 32-bit Windows)");

    fprintf(out, "\n== Package ==\n");
    if (!f.folder.empty()) fprintf(out, "folder: %s\n", f.folder.c_str());
    if (!f.inf.empty()) fprintf(out, "INF: %s\n", f.inf.c_str());
    fprintf(out, "class: %s%s\n", f.classGuid.c_str(), f.classFromInf ? " (from the INF)" : " (from --class)");

    const char* titles[] = {"Present devices of the class", "Non-present devices of the class"};
    const std::vector<DeviceFacts>* lists[] = {&f.present, &f.phantoms};
    for (int l = 0; l < 2; ++l) {
        fprintf(out, "\n== %s ==\n", titles[l]);
        if (lists[l]->empty()) fprintf(out, "(none)\n");
        for (const DeviceFacts& d : *lists[l]) {
            fprintf(out, "%s\n", d.instanceId.empty() ? "(instance ID not read)" : d.instanceId.c_str());
            std::string ids;
            for (const std::string& id : d.hardwareIds) ids += (ids.empty() ? "" : ", ") + id;
            fprintf(out, "  hardware IDs: %s\n", ids.empty() ? "(none)" : ids.c_str());
            fprintf(out, "  %s\n", StatusText(d).c_str());
            fprintf(out, "  INF: %s\n", d.inf.empty() ? ("(" + d.infWhy + ")").c_str() : d.inf.c_str());
            if (l == 1)
                fprintf(out, "  marked for reinstall: %s\n",
                        !d.flagsRead                             ? "no (no configuration flags)"
                        : (d.configFlags & CONFIGFLAG_REINSTALL) ? "yes"
                                                                 : "no");
            if (d.flagsRead) fprintf(out, "  configuration flags: %s\n", Hex(d.configFlags, 8).c_str());
        }
    }
    if (!f.devicesError.empty()) fprintf(out, "(%s)\n", f.devicesError.c_str());

    fprintf(out, "\n== Store packages of the class ==\n");
    if (f.store.empty()) fprintf(out, "(none)\n");
    for (const StoreFacts& s : f.store) {
        fprintf(out, "%s\n", s.published.c_str());
        fprintf(out, "  original: %s\n", s.original.empty() ? "(not recorded)" : s.original.c_str());
        fprintf(out, "  provider: %s\n", s.provider.empty() ? "(none)" : s.provider.c_str());
        fprintf(out, "  DriverVer: %s, %s\n", s.date.empty() ? "(no date)" : s.date.c_str(),
                s.version.empty() ? "(no version)" : s.version.c_str());
        std::string users;
        for (const std::string& id : s.usedBy) users += (users.empty() ? "" : ", ") + id;
        fprintf(out, "  used by: %s\n", users.empty() ? "no device" : users.c_str());
    }

    fprintf(out, "\n== Binaries ==\n");
    if (f.binaries.empty()) fprintf(out, "(no package folder with .SYS files, and no INF naming any)\n");
    for (const BinaryFacts& b : f.binaries) {
        if (b.present)
            fprintf(out, "%s: present, %llu bytes, %s, %s\n", b.path.c_str(), b.size, b.time.c_str(),
                    b.version.empty() ? "no file version" : ("version " + b.version).c_str());
        else
            fprintf(out, "%s: missing (%s)\n", b.path.c_str(),
                    b.error == ERROR_FILE_NOT_FOUND   ? "no such file"
                    : b.error == ERROR_PATH_NOT_FOUND ? "no such folder"
                                                      : ("error " + std::to_string(b.error)).c_str());
    }

    fprintf(out, "\n== Last run in %s ==\n", f.logPath.empty() ? "TEMP\\drvmate.log" : f.logPath.c_str());
    if (!f.logWhy.empty())
        fprintf(out, "(%s)\n", f.logWhy.c_str());
    else if (!f.lastRun.any)
        fprintf(out, "(no run recorded)\n");
    else
        PrintRunText(f.lastRun.last, out, "");
}

std::string JsonDevices(const std::vector<DeviceFacts>& list, bool phantoms)
{
    std::string json = "[";
    for (size_t i = 0; i < list.size(); ++i) {
        const DeviceFacts& d = list[i];
        json += i ? ", " : "";
        json += "{\"instanceId\": " + JsonString(d.instanceId) + ", \"hardwareIds\": [";
        for (size_t k = 0; k < d.hardwareIds.size(); ++k) json += (k ? ", " : "") + JsonString(d.hardwareIds[k]);
        json += "], \"present\": " + std::string(d.statusResult == CR_SUCCESS ? "true" : "false");
        json += ", \"status\": " + std::to_string(static_cast<unsigned long>(d.status));
        json += ", \"problem\": " + std::to_string(static_cast<unsigned long>(d.problem));
        json += ", \"statusResult\": " + std::to_string(static_cast<unsigned long>(d.statusResult));
        json += ", \"inf\": " + (d.inf.empty() ? std::string("null") : JsonString(d.inf));
        if (d.flagsRead) json += ", \"configFlags\": " + std::to_string(static_cast<unsigned long>(d.configFlags));
        if (phantoms)
            json += ", \"markedForReinstall\": " +
                    std::string(d.flagsRead && (d.configFlags & CONFIGFLAG_REINSTALL) ? "true" : "false");
        json += "}";
    }
    return json + "]";
}

void PrintJson(const Facts& f, FILE* out)
{
    fprintf(out,
            "{\"windows\": {\"version\": %s, \"build\": %lu, \"bits\": %d, \"processBits\": %d, \"wow64\": %s, "
            "\"driversFolder\": %s, \"wow64DriversFolder\": %s}",
            JsonString(std::to_string(static_cast<unsigned long>(f.major)) + "." +
                       std::to_string(static_cast<unsigned long>(f.minor)))
                .c_str(),
            static_cast<unsigned long>(f.build), f.windows64 ? 64 : 32, f.windows64 && !f.wow64 ? 64 : 32,
            f.wow64 ? "true" : "false", JsonString(f.systemDrivers).c_str(),
            f.windows64 ? JsonString(f.wow64Drivers).c_str() : "null");
    fprintf(out, ",\n \"package\": {\"folder\": %s, \"inf\": %s, \"class\": %s}", JsonString(f.folder).c_str(),
            JsonString(f.inf).c_str(), JsonString(f.classGuid).c_str());
    fprintf(out, ",\n \"presentDevices\": %s", JsonDevices(f.present, false).c_str());
    fprintf(out, ",\n \"nonPresentDevices\": %s", JsonDevices(f.phantoms, true).c_str());
    fprintf(out, ",\n \"storePackages\": [");
    for (size_t i = 0; i < f.store.size(); ++i) {
        const StoreFacts& s = f.store[i];
        std::string users;
        for (size_t k = 0; k < s.usedBy.size(); ++k) users += (k ? ", " : "") + JsonString(s.usedBy[k]);
        fprintf(out,
                "%s{\"publishedName\": %s, \"originalName\": %s, \"provider\": %s, \"date\": %s, \"version\": %s, "
                "\"usedBy\": [%s]}",
                i ? ", " : "", JsonString(s.published).c_str(),
                s.original.empty() ? "null" : JsonString(s.original).c_str(), JsonString(s.provider).c_str(),
                JsonString(s.date).c_str(), JsonString(s.version).c_str(), users.c_str());
    }
    fprintf(out, "],\n \"binaries\": [");
    for (size_t i = 0; i < f.binaries.size(); ++i) {
        const BinaryFacts& b = f.binaries[i];
        if (b.present)
            fprintf(out, "%s{\"path\": %s, \"present\": true, \"size\": %llu, \"time\": %s, \"version\": %s}",
                    i ? ", " : "", JsonString(b.path).c_str(), b.size, JsonString(b.time).c_str(),
                    b.version.empty() ? "null" : JsonString(b.version).c_str());
        else
            fprintf(out, "%s{\"path\": %s, \"present\": false, \"error\": %lu}", i ? ", " : "",
                    JsonString(b.path).c_str(), static_cast<unsigned long>(b.error));
    }
    fprintf(out, "],\n \"log\": {\"path\": %s, \"note\": %s, \"lastRun\": ", JsonString(f.logPath).c_str(),
            JsonString(f.logWhy).c_str());
    if (f.logWhy.empty() && f.lastRun.any)
        PrintRunJson(f.lastRun.last, out);
    else
        fprintf(out, "null");
    fprintf(out, "}}\n");
}

// The report of one class, with the Setup API bound.
int Report(const WCHAR* classText, bool json, FILE* out, FILE* err)
{
    Facts facts;
    GUID classGuid;
    std::vector<WideText> binaryNames;
    WideText folder = ProgramFolder();
    facts.folder = Utf8(folder);
    if (classText) {
        if (CLSIDFromString(classText, &classGuid) != NOERROR) {
            fprintf(
                err,
                "drvrun report: --class %s is not a GUID in braces such as {F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}\n",
                Utf8(classText).c_str());
            return REPORT_USAGE;
        }
    }
    std::vector<WideText> infs = folder.empty() ? std::vector<WideText>() : FilesMatching(folder, "*.inf");
    if (!infs.empty()) {
        facts.inf = Utf8(infs[0]);
        WideText infPath = folder + infs[0];
        GUID infClass;
        WCHAR className[MAX_CLASS_NAME_LEN];
        bool classRead =
            setup->GetINFClass(infPath.c_str(), &infClass, className, MAX_CLASS_NAME_LEN, nullptr) != FALSE;
        if (!classText) {
            if (!classRead) {
                fprintf(err, "drvrun report: %s is not a device INF: its class cannot be read (error %s)\n",
                        facts.inf.c_str(), Hex(GetLastError(), 8).c_str());
                return REPORT_NO_PACKAGE;
            }
            if (!IsEqualGUID(infClass, FamilyClass)) {
                fprintf(err,
                        "drvrun report: %s is of the class %s, not the family's %s: a foreign INF; give "
                        "--class to report on a class\n",
                        facts.inf.c_str(), GuidText(infClass).c_str(), GuidText(FamilyClass).c_str());
                return REPORT_FOREIGN_INF;
            }
            classGuid = infClass;
            facts.classFromInf = true;
        }
        binaryNames = FilesMatching(folder, "*.SYS");
        for (const std::string& name : ReadInf(infPath).sourceFiles) {
            if (name.size() < 4 || !SameNoCase(name.substr(name.size() - 4), ".sys")) continue;
            bool known = false;
            for (const WideText& have : binaryNames) known = known || SameNoCase(Utf8(have), name);
            if (!known) binaryNames.push_back(Wide(name.c_str()));
        }
    } else if (!classText) {
        fprintf(err,
                "drvrun report: no INF next to drvrun.exe in %s: place drvrun.exe in the driver package's "
                "folder, or give --class {GUID}\n",
                facts.folder.c_str());
        return REPORT_NO_PACKAGE;
    }
    facts.classGuid = GuidText(classGuid);

    ReadWindows(facts);
    ReadDevices(facts, classGuid);
    ReadStore(facts, classGuid);
    ReadBinaries(facts, binaryNames);
    ReadLog(facts);
    if (json)
        PrintJson(facts, out);
    else
        PrintText(facts, out);
    return REPORT_WRITTEN;
}

}  // namespace

int DrvrunReport(int argc, WCHAR** argv, FILE* out, FILE* err)
{
    bool json = false;
    const WCHAR* classText = nullptr;
    for (int i = 0; i < argc; ++i) {
        std::string arg = Utf8(argv[i]);
        if (arg == "--json") {
            json = true;
        } else if (arg == "--class" && i + 1 < argc) {
            classText = argv[++i];
        } else {
            fprintf(err, "usage: drvrun report [--class {GUID}] [--json]\n");
            return REPORT_USAGE;
        }
    }

    LibraryGuard setupapi(W("setupapi.dll"));
    SetupCalls calls;
    if (!calls.Bind(setupapi)) {
        fprintf(err, "drvrun report: setupapi.dll of the system folder cannot be loaded, or lacks a call: error %lu\n",
                static_cast<unsigned long>(GetLastError()));
        return REPORT_NO_SETUP_API;
    }
    LibraryGuard versionLibrary(W("version.dll"));
    VersionCalls versionCalls;
    versionCalls.Bind(versionLibrary);
    setup = &calls;
    versions = &versionCalls;
    int code = Report(classText, json, out, err);
    setup = nullptr;
    versions = nullptr;
    return code;
}
