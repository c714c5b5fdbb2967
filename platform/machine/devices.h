// The simulated device tree behind the configuration manager, the Setup API and newdev.
//
// A test states its devices in a few lines:
//
//     machine.devices.Add(classGuid).HardwareIds({u"USB\\VID_1234&PID_0001"}).RemovalNeeds(DI_NEEDREBOOT);
//     machine.devices.Add(classGuid).Present(false).ConfigFlagsUnreadable();
//     machine.devices.UpdateOf(u"USB\\VID_1234&PID_0001").NeedsReboot();
//
// and reads back what the product did: removed devices, configuration flags written, the
// driver-update calls made.
#pragma once

#include <deque>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "cfgmgr32.h"
#include "setupapi.h"
#include "wintext.h"

namespace host {

struct DeviceProperty {
    DWORD type = REG_NONE;
    std::string bytes;
};

struct Device {
    DEVINST devInst = 0;
    GUID classGuid = {};
    bool present = true;  // attached; else a phantom the system remembers
    std::u16string instanceId;
    std::map<DWORD, DeviceProperty> properties;  // by SPDRP_* code

    // What removal through the class installer (DIF_REMOVE) does.
    DWORD removalError = 0;        // the class installer fails with this code
    DWORD removalFlags = 0;        // DI_NEEDRESTART / DI_NEEDREBOOT left in the install parameters
    DWORD installParamsError = 0;  // reading the install parameters fails with this code

    // What happened to it.
    bool removed = false;
    int removalsAsked = 0;                  // successful DIF_REMOVE calls, also those that must wait for a restart
    std::vector<DWORD> configFlagsWritten;  // every SPDRP_CONFIGFLAGS value written, in order
    std::u16string driverInf;               // store name of the INF it was last updated to

    Device& Present(bool on);
    Device& InstanceId(const std::u16string& id);
    // A REG_MULTI_SZ of the given strings, with its closing empty string.
    Device& HardwareIds(std::initializer_list<std::u16string> ids);
    Device& HardwareIds(const std::vector<std::u16string>& ids);
    // Any property as raw bytes of any registry type.
    Device& Property(DWORD code, DWORD type, const std::string& bytes);
    Device& ConfigFlags(DWORD flags);
    Device& ConfigFlagsUnreadable();  // no SPDRP_CONFIGFLAGS value
    Device& RemovalFails(DWORD error);
    Device& RemovalNeeds(DWORD flags);
    Device& InstallParamsUnreadable(DWORD error = ERROR_NO_SUCH_DEVINST);

    // The current SPDRP_CONFIGFLAGS value, or `otherwise` when there is none.
    DWORD Flags(DWORD otherwise = 0) const;
};

// What UpdateDriverForPlugAndPlayDevicesW does for one hardware ID.
struct UpdateOutcome {
    DWORD error = 0;      // fails with this code
    bool reboot = false;  // succeeds and asks for a reboot

    UpdateOutcome& Fails(DWORD code)
    {
        error = code;
        return *this;
    }
    UpdateOutcome& NeedsReboot(bool on = true)
    {
        reboot = on;
        return *this;
    }
};

struct UpdateCall {
    std::u16string hardwareId;
    std::u16string infPath;
    DWORD flags = 0;
};

// What the store recorded when it published an INF: the file name the INF came with and its
// catalog's name (empty when the INF names none).
struct OriginalFiles {
    std::u16string infName;
    std::u16string catalogName;
};

struct DeviceTree {
    DEVINST root = 1;                       // the device-instance handle of the tree's root
    int reenumerations = 0;                 // successful re-enumerations from the root
    std::vector<ULONG> reenumerationFlags;  // the flags of each of them

    std::deque<Device> devices;  // in enumeration order; references stay valid
    std::map<std::u16string, UpdateOutcome, NoCaseLess> updateOutcomes;
    std::vector<UpdateCall> updates;  // every update call that got past its argument checks
    // The store's record of each INF it published, by published name (oem<N>.inf); an INF the
    // test wrote into the inf folder itself has none.
    std::map<std::u16string, OriginalFiles, NoCaseLess> originals;

    // Records that the store published `storeName` from an INF named `infName`.
    DeviceTree& Published(const std::u16string& storeName, const std::u16string& infName,
                          const std::u16string& catalogName = std::u16string());

    // A present device of the class, with configuration flags 0, no hardware IDs and the
    // instance ID "ROOT\\SYSTEM\\000n".
    Device& Add(const GUID& classGuid);
    Device* Find(DEVINST devInst);
    UpdateOutcome& UpdateOf(const std::u16string& hardwareId) { return updateOutcomes[hardwareId]; }
};

}  // namespace host
