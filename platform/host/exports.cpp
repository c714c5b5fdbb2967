// The run-time export table: the layer's function that each export a module hands out by
// name (GetProcAddress) stands for. It names functions of several modules, so it lives above
// them all.
#include <map>
#include <string>

#include "kernel32.h"
#include "layer.h"
#include "setupapi.h"
#include "version.h"

namespace host {

// The layer's functions that a module's exports stand for when a test has not put its own
// in their place.
FARPROC LayerFunction(const std::string& name)
{
    static const std::map<std::string, FARPROC> functions = {
        {"IsWow64Process", reinterpret_cast<FARPROC>(&IsWow64Process)},
        {"Wow64DisableWow64FsRedirection", reinterpret_cast<FARPROC>(&Wow64DisableWow64FsRedirection)},
        {"Wow64RevertWow64FsRedirection", reinterpret_cast<FARPROC>(&Wow64RevertWow64FsRedirection)},
        {"SetupUninstallOEMInfW", reinterpret_cast<FARPROC>(&SetupUninstallOEMInfW)},
        {"UpdateDriverForPlugAndPlayDevicesW", reinterpret_cast<FARPROC>(&UpdateDriverForPlugAndPlayDevicesW)},
        {"GetFileInformationByHandleEx", reinterpret_cast<FARPROC>(&GetFileInformationByHandleEx)},
        {"GetVolumeInformationByHandleW", reinterpret_cast<FARPROC>(&GetVolumeInformationByHandleW)},
        {"SetDefaultDllDirectories", reinterpret_cast<FARPROC>(&SetDefaultDllDirectories)},
        // What drvrun report binds from setupapi.dll.
        {"SetupDiGetClassDevsExW", reinterpret_cast<FARPROC>(&SetupDiGetClassDevsExW)},
        {"SetupDiGetClassDevsW", reinterpret_cast<FARPROC>(&SetupDiGetClassDevsW)},
        {"SetupDiEnumDeviceInfo", reinterpret_cast<FARPROC>(&SetupDiEnumDeviceInfo)},
        {"SetupDiDestroyDeviceInfoList", reinterpret_cast<FARPROC>(&SetupDiDestroyDeviceInfoList)},
        {"SetupDiGetDeviceRegistryPropertyW", reinterpret_cast<FARPROC>(&SetupDiGetDeviceRegistryPropertyW)},
        {"SetupDiOpenDevRegKey", reinterpret_cast<FARPROC>(&SetupDiOpenDevRegKey)},
        {"SetupDiGetINFClassW", reinterpret_cast<FARPROC>(&SetupDiGetINFClassW)},
        {"SetupGetInfInformationW", reinterpret_cast<FARPROC>(&SetupGetInfInformationW)},
        {"SetupQueryInfOriginalFileInformationW", reinterpret_cast<FARPROC>(&SetupQueryInfOriginalFileInformationW)},
        {"CM_Get_Device_ID_ExW", reinterpret_cast<FARPROC>(&CM_Get_Device_ID_ExW)},
        {"CM_Get_DevNode_Status", reinterpret_cast<FARPROC>(&CM_Get_DevNode_Status)},
        {"GetFileVersionInfoSizeW", reinterpret_cast<FARPROC>(&GetFileVersionInfoSizeW)},
        {"GetFileVersionInfoW", reinterpret_cast<FARPROC>(&GetFileVersionInfoW)},
        {"VerQueryValueW", reinterpret_cast<FARPROC>(&VerQueryValueW)},
    };
    auto it = functions.find(name);
    return it == functions.end() ? nullptr : it->second;
}

}  // namespace host
