// DeviceDriverInstaller: the stateless object on whose methods every installer operation runs.
#pragma once

#include "winapi.h"

// Operation results.
const int RESULT_SUCCESS = 0;
const int RESULT_REBOOT = 1;  // success, but a device needs a restart or reboot
const int RESULT_FAILURE = 2;

class DeviceDriverInstaller {
public:
    DeviceDriverInstaller() {}
    ~DeviceDriverInstaller() {}
    DeviceDriverInstaller(const DeviceDriverInstaller&) = delete;
    DeviceDriverInstaller& operator=(const DeviceDriverInstaller&) = delete;

    // Device tree (rescan.cpp).
    int RescanDevices();

    // Device removal (removal.cpp).
    int RemoveDevices(GUID classGuid);
    int RemoveDevice(HDEVINFO devices, SP_DEVINFO_DATA* device, int* rebootNeeded);
    void MarkPhantomDevicesForReinstall(GUID classGuid);
    DWORD GetConfigFlags(HDEVINFO devices, SP_DEVINFO_DATA* device);
    BOOL SetConfigFlags(HDEVINFO devices, SP_DEVINFO_DATA* device, DWORD flags);

    // Driver package store (store.cpp).
    // Each takes only the names that match the search's pattern by themselves (MatchesOwnName),
    // never by their short names; FindNextInf is given that pattern's name part.
    HANDLE FindFirstInf(const WCHAR* pattern, WCHAR* insertionPoint);
    int FindNextInf(HANDLE find, WCHAR* insertionPoint, const WCHAR* namePattern = W("*.inf"));
    int GetInfClassGuid(const WCHAR* infPath, GUID* classGuid);
    int AddDriverPackage(const WCHAR* infPath);
    int DeleteDriverPackages(const WCHAR* text, int textIsInfPath);
    int DeleteDriverPackage(const WCHAR* infPath);
    void DeleteDriverFiles(const WCHAR* pattern);

    // Device driver update (update.cpp).
    int UpdateDeviceDriver(const WCHAR* infPath);
    WCHAR** GetHardwareIds(HDEVINFO devices, SP_DEVINFO_DATA* device, DWORD property);
    WCHAR** MultiSzList(WCHAR* buffer);
    void FreeMultiSzList(WCHAR** list);

    // Install, uninstall and upgrade sequences (sequences.cpp).
    int InstallPackage(const WCHAR* classGuidText, const WCHAR* folder);
    int UninstallPackage(const WCHAR* classGuidText, const WCHAR* folder);
    int UpgradePackage(const WCHAR* classGuidText);
};
