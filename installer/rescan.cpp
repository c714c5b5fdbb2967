#include "installer.h"
#include "log.h"

int DeviceDriverInstaller::RescanDevices()
{
    DEVINST root = 0;
    CONFIGRET status = CM_Locate_DevNode_ExW(&root, 0, CM_LOCATE_DEVNODE_NORMAL, 0);
    if (status != CR_SUCCESS) {
        LogMessage(W("CM_Locate_DevNode_Ex error: %d\n"), status);
        return RESULT_FAILURE;
    }
    status = CM_Reenumerate_DevNode_Ex(root, CM_REENUMERATE_NORMAL, 0);
    if (status != CR_SUCCESS) {
        LogMessage(W("CM_Reenumerate_DevNode_Ex error: %d\n"), status);
        return RESULT_FAILURE;
    }
    return RESULT_SUCCESS;
}
