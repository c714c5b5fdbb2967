// The Setup API and newdev over the simulated device tree and file system.
#include "setupapi.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "advapi32.h"
#include "devices.h"
#include "kernel32.h"
#include "layer.h"
#include "ole32.h"

namespace host {

namespace {

// ---------------------------------------------------------------------------------------
// Device information sets

struct DeviceInfoSet : KernelObject {
    DeviceInfoSet() : KernelObject("devinfo") {}
    GUID classGuid = {};  // the class the set was built for; GUID_NULL for all classes
    std::vector<DEVINST> members;
    std::map<DEVINST, SP_REMOVEDEVICE_PARAMS> removeParams;  // class-install parameters set
    std::map<DEVINST, DWORD> installFlags;                   // DI_* flags of each member
};

DeviceInfoSet* SetOf(HDEVINFO handle) { return CurrentMachine().FindKernelObject<DeviceInfoSet>(handle, "devinfo"); }

// The member that a caller's SP_DEVINFO_DATA names, or null with the last error set.
Device* MemberOf(DeviceInfoSet* set, PSP_DEVINFO_DATA data)
{
    if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA) ||
        std::find(set->members.begin(), set->members.end(), data->DevInst) == set->members.end()) {
        return host::WithLastError(ERROR_INVALID_PARAMETER, nullptr);
    }
    Device* device = CurrentMachine().devices.Find(data->DevInst);
    if (!device || device->removed) return host::WithLastError(ERROR_NO_SUCH_DEVINST, nullptr);
    return device;
}

HDEVINFO BuildSet(const char* api, const GUID* classGuid, PCWSTR enumerator, DWORD flags, HDEVINFO existing,
                  PCWSTR machineName)
{
    const DWORD knownFlags = DIGCF_DEFAULT | DIGCF_PRESENT | DIGCF_ALLCLASSES | DIGCF_PROFILE;
    if (flags & DIGCF_DEVICEINTERFACE) Machine::Unsimulated(api, "DIGCF_DEVICEINTERFACE: sets of device interfaces");
    if (flags & ~knownFlags) return host::WithLastError(ERROR_INVALID_FLAGS, INVALID_HANDLE_VALUE);
    if (!classGuid && !(flags & DIGCF_ALLCLASSES))
        return host::WithLastError(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    if (machineName && *machineName) Machine::Unsimulated(api, "a remote machine " + U8(machineName));
    DeviceInfoSet* set = nullptr;
    if (existing && existing != INVALID_HANDLE_VALUE) {
        set = SetOf(existing);
        if (!set) return host::WithLastError(ERROR_INVALID_HANDLE, INVALID_HANDLE_VALUE);
    }
    std::u16string prefix = enumerator ? Upper(std::u16string(enumerator)) + u"\\" : std::u16string();
    std::vector<DEVINST> found;
    for (const Device& device : CurrentMachine().devices.devices) {
        if (device.removed) continue;
        if ((flags & DIGCF_PRESENT) && !device.present) continue;
        if (!(flags & DIGCF_ALLCLASSES) && !IsEqualGUID(device.classGuid, *classGuid)) continue;
        if (!prefix.empty() && Upper(device.instanceId).compare(0, prefix.size(), prefix) != 0) continue;
        found.push_back(device.devInst);
    }
    HDEVINFO handle = existing;
    if (!set) {
        auto made = std::make_unique<DeviceInfoSet>();
        if (classGuid && !(flags & DIGCF_ALLCLASSES)) made->classGuid = *classGuid;
        set = made.get();
        handle = CurrentMachine().AddKernelObject(std::move(made));
    }
    for (DEVINST devInst : found)
        if (std::find(set->members.begin(), set->members.end(), devInst) == set->members.end())
            set->members.push_back(devInst);
    return handle;
}

// ---------------------------------------------------------------------------------------
// INF files

struct Inf {
    // Section name (upper case) -> key (upper case) -> value.
    std::map<std::u16string, std::map<std::u16string, std::u16string>> sections;

    const std::u16string* Value(const std::u16string& section, const std::u16string& key) const
    {
        auto s = sections.find(Upper(section));
        if (s == sections.end()) return nullptr;
        auto k = s->second.find(Upper(key));
        return k == s->second.end() ? nullptr : &k->second;
    }
};

std::u16string Trim(const std::u16string& text)
{
    size_t begin = text.find_first_not_of(u" \t\r");
    if (begin == std::u16string::npos) return std::u16string();
    size_t end = text.find_last_not_of(u" \t\r");
    return text.substr(begin, end - begin + 1);
}

// The text of an INF file: UTF-16LE after a byte-order mark, else bytes read as UTF-8.
std::u16string InfText(const std::string& bytes)
{
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        std::u16string text;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                 (static_cast<unsigned char>(bytes[i + 1]) << 8)));
        return text;
    }
    return U16(bytes);
}

Inf ParseInf(const std::u16string& text)
{
    Inf inf;
    std::map<std::u16string, std::u16string>* section = nullptr;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(u'\n', start);
        if (end == std::u16string::npos) end = text.size();
        std::u16string line = text.substr(start, end - start);
        start = end + 1;
        // A ';' outside quotes starts a comment.
        bool quoted = false;
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == u'"')
                quoted = !quoted;
            else if (line[i] == u';' && !quoted) {
                line.resize(i);
                break;
            }
        }
        line = Trim(line);
        if (line.empty()) continue;
        if (line[0] == u'[') {
            size_t close = line.find(u']');
            section = &inf.sections[Upper(
                Trim(line.substr(1, close == std::u16string::npos ? std::u16string::npos : close - 1)))];
            continue;
        }
        size_t equals = line.find(u'=');
        if (!section || equals == std::u16string::npos) continue;
        std::u16string value = Trim(line.substr(equals + 1));
        if (value.size() >= 2 && value.front() == u'"' && value.back() == u'"')
            value = value.substr(1, value.size() - 2);
        (*section)[Upper(Trim(line.substr(0, equals)))] = value;
    }
    return inf;
}

bool IsWindowsInf(const Inf& inf)
{
    const std::u16string* signature = inf.Value(u"Version", u"Signature");
    if (!signature) return false;
    std::u16string s = Upper(*signature);
    return s == u"$WINDOWS NT$" || s == u"$CHICAGO$" || s == u"$WINDOWS 95$";
}

// Reads the INF at a full path; false with the last error set.
bool ReadInf(const std::u16string& fullPath, Inf* inf, std::string* bytes = nullptr)
{
    Machine& m = CurrentMachine();
    std::string hostPath = m.HostPath(m.Redirected(fullPath));
    struct stat st;
    if (hostPath.empty()) return host::WithLastError(ERROR_INVALID_NAME, false);
    if (stat(hostPath.c_str(), &st) != 0) {
        struct stat folder;
        std::string parent = hostPath.substr(0, hostPath.rfind('/'));
        return host::WithLastError(stat(parent.c_str(), &folder) == 0 ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND,
                                   false);
    }
    if (S_ISDIR(st.st_mode)) return host::WithLastError(ERROR_ACCESS_DENIED, false);
    std::string content = host::ReadHostFile(hostPath);
    *inf = ParseInf(InfText(content));
    if (!IsWindowsInf(*inf)) return host::WithLastError(ERROR_WRONG_INF_STYLE, false);
    if (bytes) *bytes = content;
    return true;
}

// ---------------------------------------------------------------------------------------
// The driver store: oem<N>.inf with oem<N>.PNF in the inf folder of the Windows directory

std::u16string StoreFolder() { return CurrentMachine().windowsDirectory + u"\\inf\\"; }

bool IsStoreName(const std::u16string& name)
{
    std::u16string upper = Upper(name);
    if (upper.size() < 8 || upper.compare(0, 3, u"OEM") != 0 || upper.compare(upper.size() - 4, 4, u".INF") != 0)
        return false;
    for (size_t i = 3; i < upper.size() - 4; ++i)
        if (upper[i] < u'0' || upper[i] > u'9') return false;
    return true;
}

std::u16string PnfName(const std::u16string& infName) { return infName.substr(0, infName.size() - 4) + u".PNF"; }

// The store name of a staged copy with these bytes, or empty.
std::u16string StagedCopy(const std::string& bytes)
{
    Machine& m = CurrentMachine();
    for (const std::u16string& name : m.List(StoreFolder()))
        if (IsStoreName(name) && m.ReadFile(StoreFolder() + name) == bytes) return name;
    return std::u16string();
}

// The number of the first free oem<N>.inf.
int NextStoreNumber()
{
    int n = 0;
    while (CurrentMachine().Exists(StoreFolder() + u"oem" + U16(std::to_string(n)) + u".inf")) ++n;
    return n;
}

// The file name part of a path.
std::u16string FileNameOf(const std::u16string& path)
{
    size_t slash = path.find_last_of(u"\\/:");
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

// The catalog an INF names for this machine's platform: CatalogFile.NTamd64 or CatalogFile.NTx86,
// else CatalogFile.NT, else CatalogFile; empty when it names none.
std::u16string CatalogOf(const Inf& inf)
{
    const char16_t* keys[] = {CurrentMachine().windows64 ? u"CatalogFile.NTamd64" : u"CatalogFile.NTx86",
                              u"CatalogFile.NT", u"CatalogFile"};
    for (const char16_t* key : keys)
        if (const std::u16string* value = inf.Value(u"Version", key)) return *value;
    return std::u16string();
}

// Stages a copy under the next free oem<N>.inf, with its PNF, and records the name and
// catalog it came with.
std::u16string StageCopy(const std::u16string& source, const std::string& bytes)
{
    Machine& m = CurrentMachine();
    std::u16string name = u"oem" + U16(std::to_string(NextStoreNumber())) + u".inf";
    m.WriteFile(StoreFolder() + name, bytes);
    m.WriteFile(StoreFolder() + PnfName(name), "PNF\x01" + U8(source));
    m.devices.Published(name, FileNameOf(source), CatalogOf(ParseInf(InfText(bytes))));
    return name;
}

// An identical staged copy, else a new one.
std::u16string Stage(const std::u16string& source, const std::string& bytes)
{
    std::u16string name = StagedCopy(bytes);
    return name.empty() ? StageCopy(source, bytes) : name;
}

}  // namespace
}  // namespace host

using host::CurrentMachine;

// -----------------------------------------------------------------------------------------
// Device information sets

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR enumerator, HWND parent, DWORD flags)
{
    (void)parent;
    LAYER_ENTER(INVALID_HANDLE_VALUE);
    return host::BuildSet("SetupDiGetClassDevsW", classGuid, enumerator, flags, nullptr, nullptr);
}

HDEVINFO WINAPI SetupDiGetClassDevsExW(const GUID* classGuid, PCWSTR enumerator, HWND parent, DWORD flags,
                                       HDEVINFO existing, PCWSTR machineName, PVOID reserved)
{
    (void)parent;
    LAYER_ENTER(INVALID_HANDLE_VALUE);
    if (reserved) return host::WithLastError(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    return host::BuildSet("SetupDiGetClassDevsExW", classGuid, enumerator, flags, existing, machineName);
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO devices, DWORD index, PSP_DEVINFO_DATA device)
{
    LAYER_ENTER(FALSE);
    LAYER_OBJECT(host::DeviceInfoSet, set, devices, "devinfo", FALSE);
    if (!device || device->cbSize != sizeof(SP_DEVINFO_DATA))
        return host::WithLastError(ERROR_INVALID_USER_BUFFER, FALSE);
    if (index >= set->members.size()) return host::WithLastError(ERROR_NO_MORE_ITEMS, FALSE);
    const host::Device* member = CurrentMachine().devices.Find(set->members[index]);
    device->ClassGuid = member->classGuid;
    device->DevInst = member->devInst;
    device->Reserved = static_cast<ULONG_PTR>(index) + 1;
    return TRUE;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO devices)
{
    DWORD code;
    bool fails = CurrentMachine().Enter(__func__, &code);
    return host::CloseObjectOfKind(devices, "devinfo", fails, code);
}

BOOL WINAPI SetupDiGetDeviceInfoListDetailW(HDEVINFO devices, PSP_DEVINFO_LIST_DETAIL_DATA_W detail)
{
    LAYER_ENTER(FALSE);
    LAYER_OBJECT(host::DeviceInfoSet, set, devices, "devinfo", FALSE);
    if (!detail || detail->cbSize != sizeof(SP_DEVINFO_LIST_DETAIL_DATA_W))
        return host::WithLastError(ERROR_INVALID_USER_BUFFER, FALSE);
    detail->ClassGuid = set->classGuid;
    detail->RemoteMachineHandle = nullptr;  // the local machine
    detail->RemoteMachineName[0] = 0;
    return TRUE;
}

// -----------------------------------------------------------------------------------------
// Class installation

BOOL WINAPI SetupDiSetClassInstallParamsW(HDEVINFO devices, PSP_DEVINFO_DATA device, PSP_CLASSINSTALL_HEADER params,
                                          DWORD size)
{
    LAYER_ENTER(FALSE);
    LAYER_OBJECT(host::DeviceInfoSet, set, devices, "devinfo", FALSE);
    if (!device) host::Machine::Unsimulated("SetupDiSetClassInstallParamsW", "parameters for the whole set");
    if (!host::MemberOf(set, device)) return FALSE;
    if (!params) {
        set->removeParams.erase(device->DevInst);
        set->installFlags[device->DevInst] &= ~static_cast<DWORD>(DI_CLASSINSTALLPARAMS);
        return TRUE;
    }
    if (size < sizeof(SP_CLASSINSTALL_HEADER) || params->cbSize != sizeof(SP_CLASSINSTALL_HEADER))
        return host::WithLastError(ERROR_INVALID_USER_BUFFER, FALSE);
    if (params->InstallFunction != DIF_REMOVE)
        host::Machine::Unsimulated("SetupDiSetClassInstallParamsW",
                                   "parameters of install function " + std::to_string(params->InstallFunction));
    if (size != sizeof(SP_REMOVEDEVICE_PARAMS)) return host::WithLastError(ERROR_INVALID_PARAMETER, FALSE);
    SP_REMOVEDEVICE_PARAMS remove;
    std::memcpy(&remove, params, sizeof remove);
    if (remove.Scope != DI_REMOVEDEVICE_GLOBAL && remove.Scope != DI_REMOVEDEVICE_CONFIGSPECIFIC)
        return host::WithLastError(ERROR_INVALID_PARAMETER, FALSE);
    set->removeParams[device->DevInst] = remove;
    set->installFlags[device->DevInst] |= DI_CLASSINSTALLPARAMS;
    return TRUE;
}

BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION function, HDEVINFO devices, PSP_DEVINFO_DATA device)
{
    LAYER_ENTER(FALSE);
    // A 32-bit process may not run the class installers of 64-bit Windows.
    if (CurrentMachine().UnderWow64()) return host::WithLastError(ERROR_IN_WOW64, FALSE);
    LAYER_OBJECT(host::DeviceInfoSet, set, devices, "devinfo", FALSE);
    if (function != DIF_REMOVE)
        host::Machine::Unsimulated("SetupDiCallClassInstaller", "install function " + std::to_string(function));
    if (!device) return host::WithLastError(ERROR_INVALID_PARAMETER, FALSE);
    host::Device* member = host::MemberOf(set, device);
    if (!member) return FALSE;
    if (member->removalError) return host::WithLastError(member->removalError, FALSE);
    // Without class-install parameters the removal is global, as with them set so. A device
    // whose removal needs a restart stays in the tree until that restart.
    ++member->removalsAsked;
    if (!(member->removalFlags & (DI_NEEDRESTART | DI_NEEDREBOOT))) member->removed = true;
    set->installFlags[member->devInst] |= member->removalFlags;
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInstallParamsW(HDEVINFO devices, PSP_DEVINFO_DATA device, PSP_DEVINSTALL_PARAMS_W params)
{
    LAYER_ENTER(FALSE);
    LAYER_OBJECT(host::DeviceInfoSet, set, devices, "devinfo", FALSE);
    if (!params || params->cbSize != sizeof(SP_DEVINSTALL_PARAMS_W))
        return host::WithLastError(ERROR_INVALID_USER_BUFFER, FALSE);
    DWORD flags = 0;
    if (device) {
        if (device->cbSize != sizeof(SP_DEVINFO_DATA) ||
            std::find(set->members.begin(), set->members.end(), device->DevInst) == set->members.end()) {
            return host::WithLastError(ERROR_INVALID_PARAMETER, FALSE);
        }
        const host::Device* member = CurrentMachine().devices.Find(device->DevInst);
        if (member->installParamsError) return host::WithLastError(member->installParamsError, FALSE);
        flags = set->installFlags[device->DevInst];
    }
    DWORD size = params->cbSize;
    std::memset(params, 0, sizeof *params);
    params->cbSize = size;
    params->Flags = flags;
    return TRUE;
}

// -----------------------------------------------------------------------------------------
// Device registry properties

BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO devices, PSP_DEVINFO_DATA device, DWORD property, PDWORD type,
                                              PBYTE buffer, DWORD size, PDWORD required)
{
    LAYER_ENTER(FALSE);
    LAYER_OBJECT(host::DeviceInfoSet, set, devices, "devinfo", FALSE);
    host::Device* member = host::MemberOf(set, device);
    if (!member) return FALSE;
    if (property >= SPDRP_MAXIMUM_PROPERTY) return host::WithLastError(ERROR_INVALID_REG_PROPERTY, FALSE);
    if (!buffer && size) return host::WithLastError(ERROR_INVALID_PARAMETER, FALSE);
    auto it = member->properties.find(property);
    if (it == member->properties.end()) return host::WithLastError(ERROR_INVALID_DATA, FALSE);
    const host::DeviceProperty& value = it->second;
    DWORD needed = static_cast<DWORD>(value.bytes.size());
    if (type) *type = value.type;
    if (required) *required = needed;
    if (size < needed) return host::WithLastError(ERROR_INSUFFICIENT_BUFFER, FALSE);
    if (needed) std::memcpy(buffer, value.bytes.data(), needed);
    return TRUE;
}

HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO devices, PSP_DEVINFO_DATA device, DWORD scope, DWORD hwProfile, DWORD keyType,
                                 REGSAM access)
{
    (void)hwProfile;  // read only for DICS_FLAG_CONFIGSPECIFIC
    const HKEY failed = reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
    LAYER_ENTER(failed);
    LAYER_OBJECT(host::DeviceInfoSet, set, devices, "devinfo", failed);
    host::Machine& m = CurrentMachine();
    host::Device* member = host::MemberOf(set, device);
    if (!member) return failed;
    if (scope != DICS_FLAG_GLOBAL && scope != DICS_FLAG_CONFIGSPECIFIC)
        return host::WithLastError(ERROR_INVALID_FLAGS, failed);
    if (keyType != DIREG_DEV && keyType != DIREG_DRV) return host::WithLastError(ERROR_INVALID_FLAGS, failed);
    if (scope == DICS_FLAG_CONFIGSPECIFIC)
        host::Machine::Unsimulated("SetupDiOpenDevRegKey", "a hardware profile's key");
    if (keyType == DIREG_DEV) host::Machine::Unsimulated("SetupDiOpenDevRegKey", "the hardware key (DIREG_DEV)");
    // Users may read the key; changing it takes an administrator.
    if ((access & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY | DELETE | WRITE_DAC | WRITE_OWNER)) && !m.account.administrator)
        return host::WithLastError(ERROR_ACCESS_DENIED, failed);
    // The driver key is named by the device's SPDRP_DRIVER value, a REG_SZ "{class}\\nnnn".
    auto driver = member->properties.find(SPDRP_DRIVER);
    if (driver == member->properties.end() || driver->second.type != REG_SZ)
        return host::WithLastError(ERROR_KEY_DOES_NOT_EXIST, failed);
    std::u16string name(reinterpret_cast<const char16_t*>(driver->second.bytes.data()),
                        driver->second.bytes.size() / 2);
    name = name.substr(0, name.find(u'\0'));
    std::vector<std::string> names;
    if (!host::SplitKeyPath(("SYSTEM\\CurrentControlSet\\Control\\Class\\" + host::U8(name)).c_str(), names) ||
        !m.registry.Find(names))
        return host::WithLastError(ERROR_KEY_DOES_NOT_EXIST, failed);
    uintptr_t handle = m.NewHandleValue();
    m.registry.openKeys[handle] = names;
    m.HandleOpened("hkey");
    return reinterpret_cast<HKEY>(handle);
}

BOOL WINAPI SetupDiSetDeviceRegistryPropertyW(HDEVINFO devices, PSP_DEVINFO_DATA device, DWORD property,
                                              const BYTE* buffer, DWORD size)
{
    LAYER_ENTER(FALSE);
    LAYER_OBJECT(host::DeviceInfoSet, set, devices, "devinfo", FALSE);
    host::Device* member = host::MemberOf(set, device);
    if (!member) return FALSE;
    std::string bytes = buffer ? std::string(reinterpret_cast<const char*>(buffer), size) : std::string();
    switch (property) {
    case SPDRP_CONFIGFLAGS: {
        if (!buffer || size != sizeof(DWORD)) return host::WithLastError(ERROR_INVALID_DATA, FALSE);
        DWORD flags;
        std::memcpy(&flags, buffer, sizeof flags);
        member->ConfigFlags(flags);
        member->configFlagsWritten.push_back(flags);
        return TRUE;
    }
    case SPDRP_HARDWAREID:
    case SPDRP_COMPATIBLEIDS:
        if (!buffer || size == 0)
            member->properties.erase(property);
        else
            member->Property(property, REG_MULTI_SZ, bytes);
        return TRUE;
    case SPDRP_DEVICEDESC: member->Property(property, REG_SZ, bytes); return TRUE;
    default: return host::WithLastError(ERROR_INVALID_REG_PROPERTY, FALSE);
    }
}

// -----------------------------------------------------------------------------------------
// INF files and the driver store

BOOL WINAPI SetupDiGetINFClassW(PCWSTR infName, LPGUID classGuid, PWSTR className, DWORD classNameSize, PDWORD required)
{
    LAYER_ENTER(FALSE);
    if (!infName || !*infName || !classGuid) return host::WithLastError(ERROR_INVALID_PARAMETER, FALSE);
    std::u16string name(infName);
    // A bare name is looked for in the inf folder of the Windows directory.
    std::u16string fullPath = name.find_first_of(u"\\/:") == std::u16string::npos
                                  ? host::StoreFolder() + name
                                  : host::CurrentMachine().FullPath(name);
    host::Inf inf;
    if (!host::ReadInf(fullPath, &inf)) return FALSE;
    const std::u16string* guidText = inf.Value(u"Version", u"ClassGUID");
    const std::u16string* classText = inf.Value(u"Version", u"Class");
    GUID guid = {};
    if (guidText) {
        if (!host::ParseGuid(guidText->c_str(), &guid)) return host::WithLastError(ERROR_INVALID_CLASS, FALSE);
    } else if (!classText) {
        return host::WithLastError(ERROR_NO_ASSOCIATED_CLASS, FALSE);
    }
    // A class named without its GUID is not installed on this machine: GUID_NULL.
    std::u16string classNameText = classText ? *classText : std::u16string();
    DWORD needed = static_cast<DWORD>(classNameText.size() + 1);
    if (required) *required = needed;
    if (!className || classNameSize < needed) return host::WithLastError(ERROR_INSUFFICIENT_BUFFER, FALSE);
    std::copy(classNameText.begin(), classNameText.end(), className);
    className[classNameText.size()] = 0;
    *classGuid = guid;
    return TRUE;
}

BOOL WINAPI SetupCopyOEMInfW(PCWSTR source, PCWSTR mediaLocation, DWORD mediaType, DWORD copyStyle, PWSTR destination,
                             DWORD destinationSize, PDWORD required, PWSTR* destinationNamePart)
{
    (void)mediaLocation;
    LAYER_ENTER(FALSE);
    const DWORD knownStyles = SP_COPY_NOOVERWRITE | SP_COPY_REPLACEONLY | SP_COPY_OEMINF_CATALOG_ONLY;
    if (!source || !*source || mediaType > SPOST_URL || (!destination && destinationSize))
        return host::WithLastError(ERROR_INVALID_PARAMETER, FALSE);
    if (copyStyle & ~knownStyles) return host::WithLastError(ERROR_INVALID_FLAGS, FALSE);
    std::u16string fullPath = host::CurrentMachine().FullPath(source);
    host::Inf inf;
    std::string bytes;
    if (!host::ReadInf(fullPath, &inf, &bytes)) return FALSE;
    std::u16string name = host::StagedCopy(bytes);
    bool existed = !name.empty();
    if (!existed && (copyStyle & SP_COPY_REPLACEONLY)) return host::WithLastError(ERROR_FILE_NOT_FOUND, FALSE);
    // The destination's length is known before staging: the store folder, "oem", the
    // number and ".inf".
    std::u16string destinationPath =
        host::StoreFolder() + (existed ? name : u"oem" + host::U16(std::to_string(host::NextStoreNumber())) + u".inf");
    DWORD needed = static_cast<DWORD>(destinationPath.size() + 1);
    if (required) *required = needed;
    if (destination && destinationSize < needed) return host::WithLastError(ERROR_INSUFFICIENT_BUFFER, FALSE);
    if (!existed) name = host::StageCopy(fullPath, bytes);
    if (destination) {
        std::copy(destinationPath.begin(), destinationPath.end(), destination);
        destination[destinationPath.size()] = 0;
        if (destinationNamePart) *destinationNamePart = destination + (destinationPath.size() - name.size());
    }
    if (existed && (copyStyle & SP_COPY_NOOVERWRITE)) return host::WithLastError(ERROR_FILE_EXISTS, FALSE);
    return TRUE;
}

BOOL WINAPI SetupUninstallOEMInfW(PCWSTR infName, DWORD flags, PVOID reserved)
{
    LAYER_ENTER(FALSE);
    if (!infName || !*infName || reserved) return host::WithLastError(ERROR_INVALID_PARAMETER, FALSE);
    if (flags & ~static_cast<DWORD>(SUOI_FORCEDELETE)) return host::WithLastError(ERROR_INVALID_FLAGS, FALSE);
    std::u16string name(infName);
    if (name.find_first_of(u"\\/:") != std::u16string::npos) return host::WithLastError(ERROR_INVALID_PARAMETER, FALSE);
    if (!host::IsStoreName(name)) return host::WithLastError(ERROR_NOT_AN_INSTALLED_OEM_INF, FALSE);
    host::Machine& m = CurrentMachine();
    if (!m.Exists(host::StoreFolder() + name)) return host::WithLastError(ERROR_FILE_NOT_FOUND, FALSE);
    for (host::Device& device : CurrentMachine().devices.devices) {
        if (device.removed || host::Upper(device.driverInf) != host::Upper(name)) continue;
        if (!(flags & SUOI_FORCEDELETE)) return host::WithLastError(ERROR_INF_IN_USE_BY_DEVICES, FALSE);
    }
    for (host::Device& device : CurrentMachine().devices.devices)
        if (host::Upper(device.driverInf) == host::Upper(name)) device.driverInf.clear();
    m.Remove(host::StoreFolder() + name);
    m.Remove(host::StoreFolder() + host::PnfName(name));
    m.devices.originals.erase(name);
    return TRUE;
}

BOOL WINAPI SetupGetInfInformationW(LPCVOID infSpec, DWORD searchControl, PSP_INF_INFORMATION returnBuffer,
                                    DWORD returnBufferSize, PDWORD requiredSize)
{
    LAYER_ENTER(FALSE);
    if (!infSpec || (!returnBuffer && returnBufferSize)) return host::WithLastError(ERROR_INVALID_PARAMETER, FALSE);
    host::Machine& m = CurrentMachine();
    std::u16string spec(static_cast<PCWSTR>(infSpec));
    // The places an INF is looked for: the path as given, or for a bare name the inf folder and
    // the system folder, in that order or the reverse. The layer keeps no INF handles and no
    // DevicePath list.
    std::vector<std::u16string> candidates;
    std::u16string inInf = host::StoreFolder() + spec, inSystem = m.systemDirectory + u"\\" + spec;
    switch (searchControl) {
    case INFINFO_INF_NAME_IS_ABSOLUTE: candidates = {spec}; break;
    case INFINFO_DEFAULT_SEARCH: candidates = {inInf, inSystem}; break;
    case INFINFO_REVERSE_DEFAULT_SEARCH: candidates = {inSystem, inInf}; break;
    default: return host::WithLastError(ERROR_INVALID_PARAMETER, FALSE);
    }
    std::u16string fullPath;
    for (const std::u16string& candidate : candidates) {
        if (!m.Exists(m.FullPath(candidate))) continue;
        fullPath = m.FullPath(candidate);
        break;
    }
    if (fullPath.empty()) return host::WithLastError(ERROR_FILE_NOT_FOUND, FALSE);
    host::Inf inf;
    if (!host::ReadInf(fullPath, &inf)) return FALSE;
    // VersionData holds the INF's full path, terminated.
    const DWORD header = static_cast<DWORD>(offsetof(SP_INF_INFORMATION, VersionData));
    const DWORD needed = header + static_cast<DWORD>((fullPath.size() + 1) * sizeof(WCHAR));
    if (requiredSize) *requiredSize = needed;
    if (!returnBuffer) return TRUE;
    if (returnBufferSize < needed) return host::WithLastError(ERROR_INSUFFICIENT_BUFFER, FALSE);
    returnBuffer->InfStyle = INF_STYLE_WIN4;
    returnBuffer->InfCount = 1;
    std::u16string terminated = fullPath + u'\0';
    std::memcpy(returnBuffer->VersionData, terminated.data(), terminated.size() * sizeof(WCHAR));
    return TRUE;
}

BOOL WINAPI SetupQueryInfOriginalFileInformationW(PSP_INF_INFORMATION infInformation, UINT infIndex,
                                                  PSP_ALTPLATFORM_INFO alternatePlatformInfo,
                                                  PSP_ORIGINAL_FILE_INFO_W originalFileInfo)
{
    (void)alternatePlatformInfo;
    LAYER_ENTER(FALSE);
    if (!infInformation || !originalFileInfo) return host::WithLastError(ERROR_INVALID_PARAMETER, FALSE);
    if (originalFileInfo->cbSize != sizeof(SP_ORIGINAL_FILE_INFO_W))
        return host::WithLastError(ERROR_INVALID_USER_BUFFER, FALSE);
    if (infIndex >= infInformation->InfCount) return host::WithLastError(ERROR_INVALID_PARAMETER, FALSE);
    WCHAR unit;
    std::u16string fullPath;
    for (size_t at = 0;; at += sizeof(WCHAR)) {
        std::memcpy(&unit, infInformation->VersionData + at, sizeof(WCHAR));
        if (!unit) break;
        fullPath += unit;
    }
    // An INF the store published has the name and catalog it came with on record; any other
    // INF is its own original, with the catalog it names.
    host::OriginalFiles original;
    std::u16string name = host::FileNameOf(fullPath);
    auto& originals = CurrentMachine().devices.originals;
    auto record = originals.find(name);
    if (host::IsStoreName(name) &&
        host::Upper(fullPath.substr(0, fullPath.size() - name.size())) == host::Upper(host::StoreFolder()) &&
        record != originals.end()) {
        original = record->second;
    } else {
        host::Inf inf;
        if (!host::ReadInf(fullPath, &inf)) return FALSE;
        original = host::OriginalFiles{name, host::CatalogOf(inf)};
    }
    if (original.infName.size() >= MAX_PATH || original.catalogName.size() >= MAX_PATH)
        return host::WithLastError(ERROR_INSUFFICIENT_BUFFER, FALSE);
    std::copy(original.infName.begin(), original.infName.end(), originalFileInfo->OriginalInfName);
    originalFileInfo->OriginalInfName[original.infName.size()] = 0;
    std::copy(original.catalogName.begin(), original.catalogName.end(), originalFileInfo->OriginalCatalogName);
    originalFileInfo->OriginalCatalogName[original.catalogName.size()] = 0;
    return TRUE;
}

// -----------------------------------------------------------------------------------------
// newdev

BOOL WINAPI UpdateDriverForPlugAndPlayDevicesW(HWND parent, LPCWSTR hardwareId, LPCWSTR fullInfPath, DWORD installFlags,
                                               PBOOL rebootRequired)
{
    (void)parent;
    LAYER_ENTER(FALSE);
    // A 32-bit process may not update drivers on 64-bit Windows; the 64-bit version of the
    // application has to do it.
    if (CurrentMachine().UnderWow64()) return host::WithLastError(ERROR_IN_WOW64, FALSE);
    if (!hardwareId || !*hardwareId || !fullInfPath || !*fullInfPath)
        return host::WithLastError(ERROR_INVALID_PARAMETER, FALSE);
    if (installFlags & ~static_cast<DWORD>(INSTALLFLAG_BITS)) return host::WithLastError(ERROR_INVALID_FLAGS, FALSE);
    host::DeviceTree& tree = CurrentMachine().devices;
    tree.updates.push_back(host::UpdateCall{hardwareId, fullInfPath, installFlags});
    std::u16string path(fullInfPath);
    host::Inf inf;
    std::string bytes;
    if (!host::ReadInf(host::CurrentMachine().FullPath(path), &inf, &bytes)) return FALSE;
    const host::UpdateOutcome outcome =
        tree.updateOutcomes.count(hardwareId) ? tree.updateOutcomes[hardwareId] : host::UpdateOutcome();
    if (outcome.error) return host::WithLastError(outcome.error, FALSE);

    std::vector<host::Device*> matches;
    for (host::Device& device : tree.devices) {
        if (device.removed || !device.present) continue;
        auto ids = device.properties.find(SPDRP_HARDWAREID);
        if (ids == device.properties.end()) continue;
        for (const std::u16string& id : host::MultiStrings(ids->second.bytes))
            if (host::Upper(id) == host::Upper(hardwareId)) {
                matches.push_back(&device);
                break;
            }
    }
    if (matches.empty()) return host::WithLastError(ERROR_NO_SUCH_DEVINST, FALSE);
    std::u16string staged = host::Stage(host::CurrentMachine().FullPath(path), bytes);
    if (!(installFlags & INSTALLFLAG_FORCE)) {
        bool better = false;
        for (host::Device* device : matches)
            if (host::Upper(device->driverInf) != host::Upper(staged)) better = true;
        if (!better) return host::WithLastError(ERROR_NO_MORE_ITEMS, FALSE);
    }
    for (host::Device* device : matches) device->driverInf = staged;
    if (rebootRequired) *rebootRequired = outcome.reboot ? TRUE : FALSE;
    return TRUE;
}
