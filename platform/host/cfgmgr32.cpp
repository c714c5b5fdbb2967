// The configuration manager over the simulated device tree.
#include "cfgmgr32.h"

#include "layer.h"

using host::CurrentMachine;

CONFIGRET WINAPI CM_Locate_DevNode_ExW(PDEVINST devInst, DEVINSTID_W deviceId, ULONG flags, HMACHINE machine)
{
    LAYER_ENTER_STATUS(CONFIGRET);
    if (!devInst) return CR_INVALID_POINTER;
    if (flags & ~static_cast<ULONG>(CM_LOCATE_DEVNODE_BITS)) return CR_INVALID_FLAG;
    if (machine) host::Machine::Unsimulated("CM_Locate_DevNode_ExW", "a remote machine");
    if (deviceId && *deviceId)
        host::Machine::Unsimulated("CM_Locate_DevNode_ExW", "a device other than the root: " + host::U8(deviceId));
    *devInst = CurrentMachine().devices.root;
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Reenumerate_DevNode_Ex(DEVINST devInst, ULONG flags, HMACHINE machine)
{
    LAYER_ENTER_STATUS(CONFIGRET);
    if (flags & ~static_cast<ULONG>(CM_REENUMERATE_BITS)) return CR_INVALID_FLAG;
    if (machine) host::Machine::Unsimulated("CM_Reenumerate_DevNode_Ex", "a remote machine");
    if (devInst != CurrentMachine().devices.root) return CR_INVALID_DEVNODE;
    ++CurrentMachine().devices.reenumerations;
    CurrentMachine().devices.reenumerationFlags.push_back(flags);
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_Device_ID_ExW(DEVINST devInst, PWCHAR buffer, ULONG length, ULONG flags, HMACHINE machine)
{
    LAYER_ENTER_STATUS(CONFIGRET);
    if (!buffer) return CR_INVALID_POINTER;
    if (flags) return CR_INVALID_FLAG;
    if (machine) host::Machine::Unsimulated("CM_Get_Device_ID_ExW", "a remote machine");
    host::Device* device = CurrentMachine().devices.Find(devInst);
    if (!device || device->removed) return CR_INVALID_DEVNODE;
    const std::u16string& id = device->instanceId;
    size_t copied = id.size() < length ? id.size() : length;
    std::copy(id.begin(), id.begin() + copied, buffer);
    if (id.size() < length) buffer[id.size()] = 0;
    return id.size() > length ? CR_BUFFER_SMALL : CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_DevNode_Status(PULONG status, PULONG problem, DEVINST devInst, ULONG flags)
{
    LAYER_ENTER_STATUS(CONFIGRET);
    if (!status || !problem) return CR_INVALID_POINTER;
    if (flags) return CR_INVALID_FLAG;
    host::Device* device = CurrentMachine().devices.Find(devInst);
    if (!device || device->removed) return CR_INVALID_DEVNODE;
    if (!device->present) return CR_NO_SUCH_DEVINST;
    *status = DN_DRIVER_LOADED | DN_STARTED;
    *problem = 0;
    return CR_SUCCESS;
}
