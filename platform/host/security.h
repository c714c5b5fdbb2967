// Access tokens, security identifiers and the security of files (advapi32.dll): who the
// process runs as, and who owns a file it opened.
#pragma once

#include "types.h"

typedef PVOID PSID;
typedef PVOID PSECURITY_DESCRIPTOR;
typedef DWORD SECURITY_INFORMATION;

struct ACL {
    BYTE AclRevision;
    BYTE Sbz1;
    WORD AclSize;
    WORD AceCount;
    WORD Sbz2;
};
typedef ACL* PACL;

struct SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
};

struct TOKEN_USER {
    SID_AND_ATTRIBUTES User;
};
typedef TOKEN_USER* PTOKEN_USER;

enum TOKEN_INFORMATION_CLASS { TokenUser = 1, TokenGroups, TokenPrivileges, TokenOwner };

enum SE_OBJECT_TYPE {
    SE_UNKNOWN_OBJECT_TYPE = 0,
    SE_FILE_OBJECT,
    SE_SERVICE,
    SE_PRINTER,
    SE_REGISTRY_KEY,
    SE_LMSHARE,
    SE_KERNEL_OBJECT
};

enum WELL_KNOWN_SID_TYPE {
    WinLocalSystemSid = 22,
    WinLocalServiceSid = 23,
    WinNetworkServiceSid = 24,
    WinBuiltinDomainSid = 25,
    WinBuiltinAdministratorsSid = 26,
    WinBuiltinUsersSid = 27
};

#define TOKEN_QUERY 0x0008
#define OWNER_SECURITY_INFORMATION 0x00000001L
#define GROUP_SECURITY_INFORMATION 0x00000002L
#define DACL_SECURITY_INFORMATION 0x00000004L
#define SACL_SECURITY_INFORMATION 0x00000008L
// Bytes of the longest SID: the header and 15 subauthorities.
#define SECURITY_MAX_SID_SIZE 68

#define ERROR_NO_TOKEN 1008L
#define ERROR_INVALID_SID 1337L

// The process's access token (only GetCurrentProcess() is simulated); CloseHandle closes it.
BOOL WINAPI OpenProcessToken(HANDLE process, DWORD desiredAccess, PHANDLE token);
// TokenUser: a TOKEN_USER whose SID follows it in the buffer. A buffer that is too small
// gives FALSE, ERROR_INSUFFICIENT_BUFFER and the size needed in *returnLength.
BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass, LPVOID information,
                                DWORD length, PDWORD returnLength);
// Compare SIDs; neither touches the last error.
BOOL WINAPI EqualSid(PSID first, PSID second);
BOOL WINAPI IsWellKnownSid(PSID sid, WELL_KNOWN_SID_TYPE type);

// The owner of a file opened with CreateFileW (the handle needs READ_CONTROL). Returns the
// error code itself; on success *securityDescriptor is a self-relative descriptor that the
// caller frees with LocalFree, and *owner points into it.
DWORD WINAPI GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE objectType, SECURITY_INFORMATION securityInfo, PSID* owner,
                             PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* securityDescriptor);
