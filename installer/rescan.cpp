#include "installer.h"
#include "log.h"

int DeviceDriverInstaller::RescanDevices()
{
    DEVINST root = 0;
    CONFIGRET status = CM_Locate_DevNode_ExW(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL, nullptr);
    if (status != CR_SUCCESS) {
        LogMessage(W("CM_Locate_DevNode_Ex error: %d\n"), status);
        return RESULT_FAILURE;
    }
    status = CM_Reenumerate_DevNode_Ex(root, CM_REENUMERATE_NORMAL, nullptr);
    if (status != CR_SUCCESS) {
        LogMessage(W("CM_Reenumerate_DevNode_Ex error: %d\n"), status);
        return RESULT_FAILURE;
    }
    return RESULT_SUCCESS;
}
