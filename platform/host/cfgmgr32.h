// Configuration-manager calls (cfgmgr32 / setupapi).
#pragma once

#include "types.h"

typedef DWORD CONFIGRET;
typedef DWORD DEVINST;
typedef DEVINST* PDEVINST;
typedef DWORD DEVNODE;
typedef HANDLE HMACHINE;
typedef WCHAR* DEVINSTID_W;
typedef WCHAR* PWCHAR;

#define CR_SUCCESS 0x00000000
#define CR_OUT_OF_MEMORY 0x00000002
#define CR_INVALID_POINTER 0x00000003
#define CR_INVALID_FLAG 0x00000004
#define CR_INVALID_DEVNODE 0x00000005
#define CR_NO_SUCH_DEVNODE 0x0000000D
#define CR_NO_SUCH_DEVINST CR_NO_SUCH_DEVNODE
#define CR_FAILURE 0x00000013
#define CR_BUFFER_SMALL 0x0000001A
#define CR_INVALID_MACHINENAME 0x0000002F
#define CR_ACCESS_DENIED 0x00000033

#define CM_LOCATE_DEVNODE_NORMAL 0x00000000
#define CM_LOCATE_DEVNODE_BITS 0x00000007
#define CM_REENUMERATE_NORMAL 0x00000000
#define CM_REENUMERATE_BITS 0x00000007
#define MAX_DEVICE_ID_LEN 200
#define MAX_CLASS_NAME_LEN 32

// Device node status bits (CM_Get_DevNode_Status).
#define DN_DRIVER_LOADED 0x00000002
#define DN_STARTED 0x00000008

CONFIGRET WINAPI CM_Locate_DevNode_ExW(PDEVINST devInst, DEVINSTID_W deviceId, ULONG flags, HMACHINE machine);
CONFIGRET WINAPI CM_Reenumerate_DevNode_Ex(DEVINST devInst, ULONG flags, HMACHINE machine);
// The instance ID of a device. An ID of exactly `length` characters fills the buffer without
// a terminator and still succeeds; a longer one gives CR_BUFFER_SMALL with what fits.
CONFIGRET WINAPI CM_Get_Device_ID_ExW(DEVINST devInst, PWCHAR buffer, ULONG length, ULONG flags, HMACHINE machine);
// CR_SUCCESS with status and problem for a device that is present; CR_NO_SUCH_DEVINST for one
// that the system remembers but that is not attached.
CONFIGRET WINAPI CM_Get_DevNode_Status(PULONG status, PULONG problem, DEVINST devInst, ULONG flags);
