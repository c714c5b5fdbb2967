// Setup API calls (setupapi.dll) and newdev's driver update.
//
// Names, constants and record layouts as in the SDK's setupapi.h and newdev.h; the records
// keep the Windows field widths, and cbSize is the record's sizeof in this build.
#pragma once

#include "cfgmgr32.h"
#include "types.h"

typedef PVOID HDEVINFO;
typedef PVOID HSPFILEQ;
typedef UINT DI_FUNCTION;
typedef UINT(CALLBACK* PSP_FILE_CALLBACK_W)(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR param2);

#ifndef REG_NONE
#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7
#endif

// Setup API error codes (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | n).
#define ERROR_WRONG_INF_STYLE 0xE0000100L
#define ERROR_NO_ASSOCIATED_CLASS 0xE0000200L
#define ERROR_INVALID_CLASS 0xE0000206L
#define ERROR_INVALID_REG_PROPERTY 0xE0000209L
#define ERROR_NO_SUCH_DEVINST 0xE000020BL
#define ERROR_INVALID_CLASS_INSTALLER 0xE000020DL
#define ERROR_IN_WOW64 0xE0000235L
#define ERROR_NOT_AN_INSTALLED_OEM_INF 0xE000023CL
#define ERROR_INF_IN_USE_BY_DEVICES 0xE000023DL
#define ERROR_KEY_DOES_NOT_EXIST 0xE0000204L
#define ERROR_INVALID_FLAGS 1004L
#define ERROR_INVALID_USER_BUFFER 1784L
#define ERROR_INVALID_MACHINENAME 1212L

// SetupDiGetClassDevs(Ex)W flags.
#define DIGCF_DEFAULT 0x00000001
#define DIGCF_PRESENT 0x00000002
#define DIGCF_ALLCLASSES 0x00000004
#define DIGCF_PROFILE 0x00000008
#define DIGCF_DEVICEINTERFACE 0x00000010

// Device installation functions, and the install-parameter flags they leave behind.
#define DIF_REMOVE 0x00000005
#define DIF_PROPERTYCHANGE 0x00000012
#define DIF_REGISTERDEVICE 0x00000019
#define DI_REMOVEDEVICE_GLOBAL 0x00000001
#define DI_REMOVEDEVICE_CONFIGSPECIFIC 0x00000002
#define DI_NEEDRESTART 0x00000080L
#define DI_NEEDREBOOT 0x00000100L
#define DI_CLASSINSTALLPARAMS 0x00100000L

// Device registry properties.
#define SPDRP_DEVICEDESC 0x00000000
#define SPDRP_HARDWAREID 0x00000001
#define SPDRP_COMPATIBLEIDS 0x00000002
#define SPDRP_CLASSGUID 0x00000008
#define SPDRP_DRIVER 0x00000009
#define SPDRP_CONFIGFLAGS 0x0000000A
// Configuration flags (regstr.h): the device is installed afresh when it next appears.
#define CONFIGFLAG_REINSTALL 0x00000020
#define SPDRP_MAXIMUM_PROPERTY 0x00000025

#define SP_MAX_MACHINENAME_LENGTH (MAX_PATH + 3)
#define LINE_LEN 256

// The driver store.
#define SPOST_NONE 0
#define SPOST_PATH 1
#define SPOST_URL 2
#define SP_COPY_NOOVERWRITE 0x0000008
#define SP_COPY_REPLACEONLY 0x0000002
#define SP_COPY_OEMINF_CATALOG_ONLY 0x0040000
#define SUOI_FORCEDELETE 0x00000001

// newdev.h
#define INSTALLFLAG_FORCE 0x00000001
#define INSTALLFLAG_READONLY 0x00000002
#define INSTALLFLAG_NONINTERACTIVE 0x00000004
#define INSTALLFLAG_BITS 0x00000007

struct SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
};
typedef SP_DEVINFO_DATA* PSP_DEVINFO_DATA;

struct SP_DEVINFO_LIST_DETAIL_DATA_W {
    DWORD cbSize;
    GUID ClassGuid;
    HANDLE RemoteMachineHandle;
    WCHAR RemoteMachineName[SP_MAX_MACHINENAME_LENGTH];
};
typedef SP_DEVINFO_LIST_DETAIL_DATA_W* PSP_DEVINFO_LIST_DETAIL_DATA_W;

struct SP_CLASSINSTALL_HEADER {
    DWORD cbSize;
    DI_FUNCTION InstallFunction;
};
typedef SP_CLASSINSTALL_HEADER* PSP_CLASSINSTALL_HEADER;

struct SP_REMOVEDEVICE_PARAMS {
    SP_CLASSINSTALL_HEADER ClassInstallHeader;
    DWORD Scope;
    DWORD HwProfile;
};
typedef SP_REMOVEDEVICE_PARAMS* PSP_REMOVEDEVICE_PARAMS;

struct SP_DEVINSTALL_PARAMS_W {
    DWORD cbSize;
    DWORD Flags;
    DWORD FlagsEx;
    HWND hwndParent;
    PSP_FILE_CALLBACK_W InstallMsgHandler;
    PVOID InstallMsgHandlerContext;
    HSPFILEQ FileQueue;
    ULONG_PTR ClassInstallReserved;
    DWORD Reserved;
    WCHAR DriverPath[MAX_PATH];
};
typedef SP_DEVINSTALL_PARAMS_W* PSP_DEVINSTALL_PARAMS_W;

// Device information sets.
HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR enumerator, HWND parent, DWORD flags);
HDEVINFO WINAPI SetupDiGetClassDevsExW(const GUID* classGuid, PCWSTR enumerator, HWND parent, DWORD flags,
                                       HDEVINFO existing, PCWSTR machineName, PVOID reserved);
BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO devices, DWORD index, PSP_DEVINFO_DATA device);
BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO devices);
BOOL WINAPI SetupDiGetDeviceInfoListDetailW(HDEVINFO devices, PSP_DEVINFO_LIST_DETAIL_DATA_W detail);

// Class installation.
BOOL WINAPI SetupDiSetClassInstallParamsW(HDEVINFO devices, PSP_DEVINFO_DATA device, PSP_CLASSINSTALL_HEADER params,
                                          DWORD size);
BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION function, HDEVINFO devices, PSP_DEVINFO_DATA device);
BOOL WINAPI SetupDiGetDeviceInstallParamsW(HDEVINFO devices, PSP_DEVINFO_DATA device, PSP_DEVINSTALL_PARAMS_W params);

// Device registry properties.
BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO devices, PSP_DEVINFO_DATA device, DWORD property, PDWORD type,
                                              PBYTE buffer, DWORD size, PDWORD required);
BOOL WINAPI SetupDiSetDeviceRegistryPropertyW(HDEVINFO devices, PSP_DEVINFO_DATA device, DWORD property,
                                              const BYTE* buffer, DWORD size);

// A device's registry keys: its hardware key (DIREG_DEV) or its software, or driver, key
// (DIREG_DRV), which is SYSTEM\CurrentControlSet\Control\Class\ followed by the device's
// SPDRP_DRIVER value and exists only once a driver was installed on it. Closed with RegCloseKey.
#define DICS_FLAG_GLOBAL 0x00000001
#define DICS_FLAG_CONFIGSPECIFIC 0x00000002
#define DIREG_DEV 0x00000001
#define DIREG_DRV 0x00000002
#define DIREG_BOTH 0x00000004
HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO devices, PSP_DEVINFO_DATA device, DWORD scope, DWORD hwProfile, DWORD keyType,
                                 REGSAM access);

// INF files and the driver store.
BOOL WINAPI SetupDiGetINFClassW(PCWSTR infName, LPGUID classGuid, PWSTR className, DWORD classNameSize,
                                PDWORD required);
BOOL WINAPI SetupCopyOEMInfW(PCWSTR source, PCWSTR mediaLocation, DWORD mediaType, DWORD copyStyle, PWSTR destination,
                             DWORD destinationSize, PDWORD required, PWSTR* destinationNamePart);

// What an INF holds about itself: SetupGetInfInformationW fills the record, whose VersionData
// is the Setup API's own; SetupQueryInfOriginalFileInformationW reads it.
#define INFINFO_INF_SPEC_IS_HINF 1
#define INFINFO_INF_NAME_IS_ABSOLUTE 2
#define INFINFO_DEFAULT_SEARCH 3
#define INFINFO_REVERSE_DEFAULT_SEARCH 4
#define INFINFO_INF_PATH_LIST_SEARCH 5
#define INF_STYLE_NONE 0x00000000
#define INF_STYLE_OLDNT 0x00000001
#define INF_STYLE_WIN4 0x00000002
struct SP_INF_INFORMATION {
    DWORD InfStyle;
    DWORD InfCount;
    BYTE VersionData[1];
};
typedef SP_INF_INFORMATION* PSP_INF_INFORMATION;
struct SP_ORIGINAL_FILE_INFO_W {
    DWORD cbSize;
    WCHAR OriginalInfName[MAX_PATH];
    WCHAR OriginalCatalogName[MAX_PATH];
};
typedef SP_ORIGINAL_FILE_INFO_W* PSP_ORIGINAL_FILE_INFO_W;
struct SP_ALTPLATFORM_INFO_V2;
typedef SP_ALTPLATFORM_INFO_V2* PSP_ALTPLATFORM_INFO;
BOOL WINAPI SetupGetInfInformationW(LPCVOID infSpec, DWORD searchControl, PSP_INF_INFORMATION returnBuffer,
                                    DWORD returnBufferSize, PDWORD requiredSize);
BOOL WINAPI SetupQueryInfOriginalFileInformationW(PSP_INF_INFORMATION infInformation, UINT infIndex,
                                                  PSP_ALTPLATFORM_INFO alternatePlatformInfo,
                                                  PSP_ORIGINAL_FILE_INFO_W originalFileInfo);

// Exported by the machine's "setupapi.dll"; the products bind it at run time.
BOOL WINAPI SetupUninstallOEMInfW(PCWSTR infName, DWORD flags, PVOID reserved);

// Exported by the machine's "newdev.dll"; the products bind it at run time.
BOOL WINAPI UpdateDriverForPlugAndPlayDevicesW(HWND parent, LPCWSTR hardwareId, LPCWSTR fullInfPath, DWORD installFlags,
                                               PBOOL rebootRequired);
