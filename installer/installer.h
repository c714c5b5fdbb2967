// DeviceDriverInstaller: the stateless object on whose methods every installer operation runs.
#pragma once

#include "winapi.h"

// Operation results.
const int RESULT_SUCCESS = 0;
const int RESULT_REBOOT = 1;  // success, but a device needs a restart or reboot
const int RESULT_FAILURE = 2;

// The device setup class on which the install and uninstall custom actions work.
extern const WCHAR DeviceClassGuid[];

class DeviceDriverInstaller {
public:
    DeviceDriverInstaller() {}
    ~DeviceDriverInstaller() {}

    // Re-enumerates the device tree from its root: 0, or 2 on failure.
    int RescanDevices();

private:
    DeviceDriverInstaller(const DeviceDriverInstaller&);
    DeviceDriverInstaller& operator=(const DeviceDriverInstaller&);
};
