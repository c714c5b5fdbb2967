#include "devices.h"

#include <cstdio>
#include <cstring>

#include "kernel32.h"

namespace host {

namespace {
DeviceTree& Tree()
{
    static DeviceTree tree;
    return tree;
}
const bool registered = (Machine::OnReset([](Machine&) { Tree() = DeviceTree(); }), true);

std::string DwordBytes(DWORD value)
{
    std::string bytes(sizeof(DWORD), '\0');
    std::memcpy(&bytes[0], &value, sizeof(DWORD));
    return bytes;
}
}  // namespace

DeviceTree& Devices()
{
    (void)registered;
    return Tree();
}

Device& DeviceTree::Add(const GUID& classGuid)
{
    Device device;
    device.devInst = root + 1 + static_cast<DEVINST>(devices.size());
    device.classGuid = classGuid;
    char number[8];
    std::snprintf(number, sizeof number, "%04u", static_cast<unsigned>(devices.size()));
    device.instanceId = u"ROOT\\SYSTEM\\" + U16(number);
    devices.push_back(device);
    return devices.back().ConfigFlags(0);
}

Device* DeviceTree::Find(DEVINST devInst)
{
    for (Device& device : devices)
        if (device.devInst == devInst) return &device;
    return nullptr;
}

Device& Device::Present(bool on) { present = on; return *this; }
Device& Device::InstanceId(const std::u16string& id) { instanceId = id; return *this; }

Device& Device::HardwareIds(std::initializer_list<std::u16string> ids)
{
    return HardwareIds(std::vector<std::u16string>(ids));
}

Device& Device::HardwareIds(const std::vector<std::u16string>& ids)
{
    std::u16string text;
    for (const auto& id : ids) text += id + u'\0';
    text += u'\0';
    return Property(SPDRP_HARDWAREID, REG_MULTI_SZ,
                    std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(char16_t)));
}

Device& Device::Property(DWORD code, DWORD type, const std::string& bytes)
{
    properties[code] = DeviceProperty{type, bytes};
    return *this;
}

Device& Device::ConfigFlags(DWORD flags) { return Property(SPDRP_CONFIGFLAGS, REG_DWORD, DwordBytes(flags)); }
Device& Device::ConfigFlagsUnreadable() { properties.erase(SPDRP_CONFIGFLAGS); return *this; }
Device& Device::RemovalFails(DWORD error) { removalError = error; return *this; }
Device& Device::RemovalNeeds(DWORD flags) { removalFlags = flags; return *this; }
Device& Device::InstallParamsUnreadable(DWORD error) { installParamsError = error; return *this; }

DWORD Device::Flags(DWORD otherwise) const
{
    auto it = properties.find(SPDRP_CONFIGFLAGS);
    if (it == properties.end() || it->second.bytes.size() != sizeof(DWORD)) return otherwise;
    DWORD value;
    std::memcpy(&value, it->second.bytes.data(), sizeof(DWORD));
    return value;
}

std::vector<std::u16string> MultiStrings(const std::string& bytes)
{
    std::vector<std::u16string> strings;
    std::u16string current;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char16_t c = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                           (static_cast<unsigned char>(bytes[i + 1]) << 8));
        if (c) { current.push_back(c); continue; }
        if (current.empty()) break;
        strings.push_back(current);
        current.clear();
    }
    if (!current.empty()) strings.push_back(current);
    return strings;
}

}  // namespace host

using host::CurrentMachine;

CONFIGRET WINAPI CM_Locate_DevNode_ExW(PDEVINST devInst, DEVINSTID_W deviceId, ULONG flags,
                                       HMACHINE machine)
{
    DWORD code;
    if (CurrentMachine().Enter("CM_Locate_DevNode_ExW", &code)) return code;
    if (!devInst) return CR_INVALID_POINTER;
    if (flags != CM_LOCATE_DEVNODE_NORMAL && (flags & ~0x7u)) return CR_INVALID_FLAG;
    if (machine) return CR_FAILURE;
    if (deviceId && *deviceId) return CR_NO_SUCH_DEVNODE;
    *devInst = host::Devices().root;
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Reenumerate_DevNode_Ex(DEVINST devInst, ULONG flags, HMACHINE machine)
{
    DWORD code;
    if (CurrentMachine().Enter("CM_Reenumerate_DevNode_Ex", &code)) return code;
    if (flags & ~0x7u) return CR_INVALID_FLAG;
    if (machine) return CR_FAILURE;
    if (devInst != host::Devices().root) return CR_INVALID_DEVNODE;
    ++host::Devices().reenumerations;
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_Device_ID_ExW(DEVINST devInst, PWCHAR buffer, ULONG length, ULONG flags,
                                      HMACHINE machine)
{
    DWORD code;
    if (CurrentMachine().Enter("CM_Get_Device_ID_ExW", &code)) return code;
    if (!buffer) return CR_INVALID_POINTER;
    if (flags) return CR_INVALID_FLAG;
    if (machine) return CR_INVALID_MACHINENAME;  // the machine has no remote connections
    host::Device* device = host::Devices().Find(devInst);
    if (!device || device->removed) return CR_INVALID_DEVNODE;
    const std::u16string& id = device->instanceId;
    size_t copied = id.size() < length ? id.size() : length;
    std::copy(id.begin(), id.begin() + copied, buffer);
    if (id.size() < length) buffer[id.size()] = 0;
    return id.size() > length ? CR_BUFFER_SMALL : CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_DevNode_Status(PULONG status, PULONG problem, DEVINST devInst, ULONG flags)
{
    DWORD code;
    if (CurrentMachine().Enter("CM_Get_DevNode_Status", &code)) return code;
    if (!status || !problem) return CR_INVALID_POINTER;
    if (flags) return CR_INVALID_FLAG;
    host::Device* device = host::Devices().Find(devInst);
    if (!device || device->removed) return CR_INVALID_DEVNODE;
    if (!device->present) return CR_NO_SUCH_DEVINST;
    *status = DN_DRIVER_LOADED | DN_STARTED;
    *problem = 0;
    return CR_SUCCESS;
}
