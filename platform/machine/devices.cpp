#include "devices.h"

#include <cstdio>
#include <cstring>

namespace host {

namespace {

std::string DwordBytes(DWORD value)
{
    std::string bytes(sizeof(DWORD), '\0');
    std::memcpy(&bytes[0], &value, sizeof(DWORD));
    return bytes;
}

}  // namespace

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

DeviceTree& DeviceTree::Published(const std::u16string& storeName, const std::u16string& infName,
                                  const std::u16string& catalogName)
{
    originals[storeName] = OriginalFiles{infName, catalogName};
    return *this;
}

Device* DeviceTree::Find(DEVINST devInst)
{
    for (Device& device : devices)
        if (device.devInst == devInst) return &device;
    return nullptr;
}

Device& Device::Present(bool on)
{
    present = on;
    return *this;
}
Device& Device::InstanceId(const std::u16string& id)
{
    instanceId = id;
    return *this;
}

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
Device& Device::ConfigFlagsUnreadable()
{
    properties.erase(SPDRP_CONFIGFLAGS);
    return *this;
}
Device& Device::RemovalFails(DWORD error)
{
    removalError = error;
    return *this;
}
Device& Device::RemovalNeeds(DWORD flags)
{
    removalFlags = flags;
    return *this;
}
Device& Device::InstallParamsUnreadable(DWORD error)
{
    installParamsError = error;
    return *this;
}

DWORD Device::Flags(DWORD otherwise) const
{
    auto it = properties.find(SPDRP_CONFIGFLAGS);
    if (it == properties.end() || it->second.bytes.size() != sizeof(DWORD)) return otherwise;
    DWORD value;
    std::memcpy(&value, it->second.bytes.data(), sizeof(DWORD));
    return value;
}

}  // namespace host
