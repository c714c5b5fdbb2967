// Access tokens, security identifiers and the security of files (advapi32.dll): who the
// process runs as, and who owns a file it opened.
#pragma once

#include "types.h"

typedef PVOID PSID;
typedef PVOID PSECURITY_DESCRIPTOR;
typedef DWORD SECURITY_INFORMATION;

// A security descriptor in self-relative form: this header, then its parts at these offsets
// from its start (0: the part is absent).
struct SECURITY_DESCRIPTOR_RELATIVE {
    BYTE Revision;
    BYTE Sbz1;
    WORD Control;
    DWORD Owner;
    DWORD Group;
    DWORD Sacl;
    DWORD Dacl;
};
#define SECURITY_DESCRIPTOR_REVISION 1
#define SE_OWNER_DEFAULTED 0x0001
#define SE_SELF_RELATIVE 0x8000

struct SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
};

struct TOKEN_USER {
    SID_AND_ATTRIBUTES User;
};
typedef TOKEN_USER* PTOKEN_USER;

enum TOKEN_INFORMATION_CLASS { TokenUser = 1, TokenGroups, TokenPrivileges, TokenOwner };

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
#define ERROR_UNKNOWN_REVISION 1305L
#define ERROR_NOACCESS 998L

// The process's access token (only GetCurrentProcess() is simulated); CloseHandle closes it.
BOOL WINAPI OpenProcessToken(HANDLE process, DWORD desiredAccess, PHANDLE token);
// TokenUser: a TOKEN_USER whose SID follows it in the buffer. A buffer that is too small
// gives FALSE, ERROR_INSUFFICIENT_BUFFER and the size needed in *returnLength.
BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass, LPVOID information,
                                DWORD length, PDWORD returnLength);
// Compare SIDs; neither touches the last error.
BOOL WINAPI EqualSid(PSID first, PSID second);
BOOL WINAPI IsWellKnownSid(PSID sid, WELL_KNOWN_SID_TYPE type);

// The security of a file opened with CreateFileW; only its owner is simulated, which the handle
// needs READ_CONTROL to read. The descriptor comes back self-relative, and only whole: when it
// is larger than `length`, nothing is copied, *lengthNeeded says how large it is and the call
// fails with ERROR_INSUFFICIENT_BUFFER.
BOOL WINAPI GetKernelObjectSecurity(HANDLE handle, SECURITY_INFORMATION requested,
                                    PSECURITY_DESCRIPTOR securityDescriptor, DWORD length, LPDWORD lengthNeeded);
// The owner in a descriptor: a pointer into it, or null when it names none.
BOOL WINAPI GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR securityDescriptor, PSID* owner, LPBOOL ownerDefaulted);
