#include "devices.h"

#include "kernel32.h"

namespace host {

namespace {
DeviceTree& Tree()
{
    static DeviceTree tree;
    return tree;
}
const bool registered = (Machine::OnReset([](Machine&) { Tree() = DeviceTree(); }), true);
}  // namespace

DeviceTree& Devices()
{
    (void)registered;
    return Tree();
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
