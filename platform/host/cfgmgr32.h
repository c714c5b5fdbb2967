// Configuration-manager calls (cfgmgr32 / setupapi).
#pragma once

#include "types.h"

typedef DWORD CONFIGRET;
typedef DWORD DEVINST;
typedef DEVINST* PDEVINST;
typedef DWORD DEVNODE;
typedef HANDLE HMACHINE;
typedef WCHAR* DEVINSTID_W;

#define CR_SUCCESS 0x00000000
#define CR_OUT_OF_MEMORY 0x00000002
#define CR_INVALID_POINTER 0x00000003
#define CR_INVALID_FLAG 0x00000004
#define CR_INVALID_DEVNODE 0x00000005
#define CR_NO_SUCH_DEVNODE 0x0000000D
#define CR_FAILURE 0x00000013
#define CR_BUFFER_SMALL 0x0000001A
#define CR_ACCESS_DENIED 0x00000033

#define CM_LOCATE_DEVNODE_NORMAL 0x00000000
#define CM_REENUMERATE_NORMAL 0x00000000
#define MAX_DEVICE_ID_LEN 200

CONFIGRET WINAPI CM_Locate_DevNode_ExW(PDEVINST devInst, DEVINSTID_W deviceId, ULONG flags,
                                       HMACHINE machine);
CONFIGRET WINAPI CM_Reenumerate_DevNode_Ex(DEVINST devInst, ULONG flags, HMACHINE machine);
