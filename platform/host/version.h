// File version information (version.dll): the version resource of a file, as winver.h has it.
#pragma once

#include "types.h"

typedef UINT* PUINT;

#define VS_FFI_SIGNATURE 0xFEEF04BDL
#define VS_FFI_STRUCVERSION 0x00010000L
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813L

struct VS_FIXEDFILEINFO {
    DWORD dwSignature;
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;
    DWORD dwFileVersionLS;
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
};

// The size of a file's version information, 0 with the last error when it has none
// (ERROR_RESOURCE_TYPE_NOT_FOUND) or cannot be read. The handle argument is set to 0.
DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR fileName, LPDWORD handle);
// The version information into a block of at least that size, which VerQueryValueW reads.
BOOL WINAPI GetFileVersionInfoW(LPCWSTR fileName, DWORD handle, DWORD size, LPVOID data);
// A value of a version block: "\\" gives its VS_FIXEDFILEINFO, inside the block.
BOOL WINAPI VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* value, PUINT length);
