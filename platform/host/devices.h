// The simulated device tree behind the configuration manager and the Setup API.
#pragma once

#include "cfgmgr32.h"
#include "machine.h"

namespace host {

struct DeviceTree {
    DEVINST root = 1;        // the device-instance handle of the tree's root
    int reenumerations = 0;  // successful re-enumerations from the root
};

// The device tree of the current machine, reset with it.
DeviceTree& Devices();

}  // namespace host
