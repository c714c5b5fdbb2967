// The kernel32 subset that the products call, over the simulated machine.
#pragma once

#include "types.h"

#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400

// Access rights (winnt.h): specific rights of files, standard and generic rights.
#define FILE_READ_DATA 0x0001
#define FILE_WRITE_DATA 0x0002
#define FILE_APPEND_DATA 0x0004
#define FILE_READ_EA 0x0008
#define FILE_WRITE_EA 0x0010
#define FILE_EXECUTE 0x0020
#define FILE_READ_ATTRIBUTES 0x0080
#define FILE_WRITE_ATTRIBUTES 0x0100
#ifndef DELETE
#define DELETE 0x00010000L
#endif
#ifndef READ_CONTROL
#define READ_CONTROL 0x00020000L
#endif
#ifndef WRITE_DAC
#define WRITE_DAC 0x00040000L
#endif
#ifndef WRITE_OWNER
#define WRITE_OWNER 0x00080000L
#endif
#define SYNCHRONIZE 0x00100000L
#define GENERIC_ALL 0x10000000L
#define GENERIC_EXECUTE 0x20000000L
#define GENERIC_WRITE 0x40000000L
#define GENERIC_READ 0x80000000L

// CreateFileW: sharing, creation dispositions and flags.
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    WCHAR cFileName[MAX_PATH];
    WCHAR cAlternateFileName[14];
};
typedef WIN32_FIND_DATAW* LPWIN32_FIND_DATAW;

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

struct BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
};
typedef BY_HANDLE_FILE_INFORMATION* LPBY_HANDLE_FILE_INFORMATION;

// GetFileInformationByHandleEx's classes and the records of the two the products ask for.
enum FILE_INFO_BY_HANDLE_CLASS {
    FileBasicInfo = 0,
    FileStandardInfo = 1,
    FileAttributeTagInfo = 9,
};
struct FILE_STANDARD_INFO {
    LARGE_INTEGER AllocationSize;
    LARGE_INTEGER EndOfFile;
    DWORD NumberOfLinks;
    BOOLEAN DeletePending;
    BOOLEAN Directory;
};
struct FILE_ATTRIBUTE_TAG_INFO {
    DWORD FileAttributes;
    DWORD ReparseTag;
};
#define ERROR_BAD_LENGTH 24L

typedef HANDLE HLOCAL;

#define ERROR_WRITE_FAULT 29L
#define ERROR_CANT_RESOLVE_FILENAME 1921L

struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
};
typedef OSVERSIONINFOA* LPOSVERSIONINFOA;

// Errors and processes.
DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD code);
HANDLE WINAPI GetCurrentProcess();
void WINAPI Sleep(DWORD milliseconds);
BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info);

// Modules and run-time binding.
HMODULE WINAPI GetModuleHandleW(LPCWSTR name);
HMODULE WINAPI LoadLibraryW(LPCWSTR name);
// LoadLibraryExW's flags that the products pass: the search flags of Windows 8 (and of Vista
// and 7 with KB2533623), and the altered search path of a library loaded by its full path.
const DWORD LOAD_WITH_ALTERED_SEARCH_PATH = 0x00000008;
const DWORD LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR = 0x00000100;
const DWORD LOAD_LIBRARY_SEARCH_APPLICATION_DIR = 0x00000200;
const DWORD LOAD_LIBRARY_SEARCH_USER_DIRS = 0x00000400;
const DWORD LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x00000800;
const DWORD LOAD_LIBRARY_SEARCH_DEFAULT_DIRS = 0x00001000;
HMODULE WINAPI LoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags);
// Bound at run time by the products; declared so the host exports can be listed.
BOOL WINAPI SetDefaultDllDirectories(DWORD directoryFlags);
BOOL WINAPI FreeLibrary(HMODULE module);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);
DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);

// WOW64. Bound at run time by the products; declared so the host exports can be listed.
BOOL WINAPI IsWow64Process(HANDLE process, PBOOL wow64);
BOOL WINAPI Wow64DisableWow64FsRedirection(PVOID* oldValue);
BOOL WINAPI Wow64RevertWow64FsRedirection(PVOID oldValue);

// System folders and the environment.
UINT WINAPI GetSystemDirectoryW(LPWSTR buffer, UINT size);
UINT WINAPI GetWindowsDirectoryW(LPWSTR buffer, UINT size);
UINT WINAPI GetSystemWow64DirectoryW(LPWSTR buffer, UINT size);
DWORD WINAPI GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size);

// The command line and the code pages (crt_narrow.cpp). CP_ACP and CP_THREAD_ACP name the
// machine's ANSI code page (Machine::ansiCodePage): Windows-1252, UTF-8 or Shift-JIS (932), the
// three pages modelled.
typedef HANDLE HLOCAL;
#define CP_ACP 0
#define CP_THREAD_ACP 3
#define CP_UTF8 65001
#define WC_ERR_INVALID_CHARS 0x00000080
#define WC_NO_BEST_FIT_CHARS 0x00000400
#define ERROR_NO_UNICODE_TRANSLATION 1113L
#define MB_PRECOMPOSED 0x00000001
#define MB_ERR_INVALID_CHARS 0x00000008
#define ERROR_INVALID_FLAGS 1004L
// GetCommandLineW cannot fail: the text lives as long as the process.
LPWSTR WINAPI GetCommandLineW();
// shell32: the arguments in one block of local memory, freed with one LocalFree.
LPWSTR* WINAPI CommandLineToArgvW(LPCWSTR commandLine, int* count);
int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideChars, LPSTR bytes, int byteCount,
                               LPCSTR defaultChar, LPBOOL usedDefaultChar);
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR bytes, int byteCount, LPWSTR wide, int wideChars);

// Files.
DWORD WINAPI GetFullPathNameW(LPCWSTR path, DWORD size, LPWSTR buffer, LPWSTR* filePart);
DWORD WINAPI GetFileAttributesW(LPCWSTR path);
BOOL WINAPI DeleteFileW(LPCWSTR path);
HANDLE WINAPI FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data);
BOOL WINAPI FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data);
BOOL WINAPI FindClose(HANDLE find);

// File handles. CreateFileW follows a symbolic link or junction in the last component of
// the path unless FILE_FLAG_OPEN_REPARSE_POINT asks for the link itself; a folder opens only
// with FILE_FLAG_BACKUP_SEMANTICS. On success the last error is ERROR_ALREADY_EXISTS when
// OPEN_ALWAYS or CREATE_ALWAYS found the file there, else 0.
HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL WINAPI GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information);
// FileStandardInfo (size, links, folder) and FileAttributeTagInfo (attributes, reparse tag) of
// a file handle. A buffer smaller than the record fails with ERROR_BAD_LENGTH.
BOOL WINAPI GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS informationClass, LPVOID information,
                                         DWORD size);
// The file system of the volume a file handle is on (Windows Vista): its flags, such as
// FILE_PERSISTENT_ACLS, which FAT32 and exFAT lack, and its name. Bound at run time by the
// products; declared so the host exports can be listed.
#define FILE_CASE_SENSITIVE_SEARCH 0x00000001
#define FILE_CASE_PRESERVED_NAMES 0x00000002
#define FILE_UNICODE_ON_DISK 0x00000004
#define FILE_PERSISTENT_ACLS 0x00000008
#define FILE_SUPPORTS_REPARSE_POINTS 0x00000080
#define FILE_SUPPORTS_HARD_LINKS 0x00400000
BOOL WINAPI GetVolumeInformationByHandleW(HANDLE file, LPWSTR volumeName, DWORD volumeNameSize, LPDWORD serialNumber,
                                          LPDWORD maximumComponentLength, LPDWORD fileSystemFlags,
                                          LPWSTR fileSystemName, DWORD fileSystemNameSize);
// The root of the volume a path lies on, with its trailing backslash ("C:\\"); a buffer one
// character too short takes it without. Windows XP's way to the volume of a file, with
// GetVolumeInformationW on that root.
#define ERROR_DIR_NOT_ROOT 144L
#define ERROR_FILENAME_EXCED_RANGE 206L
BOOL WINAPI GetVolumePathNameW(LPCWSTR path, LPWSTR volumePath, DWORD size);
// What GetVolumeInformationByHandleW tells, for the volume whose root (trailing backslash
// required) is given; null: the current folder's volume.
BOOL WINAPI GetVolumeInformationW(LPCWSTR rootPath, LPWSTR volumeName, DWORD volumeNameSize, LPDWORD serialNumber,
                                  LPDWORD maximumComponentLength, LPDWORD fileSystemFlags, LPWSTR fileSystemName,
                                  DWORD fileSystemNameSize);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes, LPDWORD written, LPVOID overlapped);
// Closes a file handle or an access token.
BOOL WINAPI CloseHandle(HANDLE handle);

// Memory that a call hands out for the caller to free (CommandLineToArgvW's arguments). Null
// back on success; the block back, with ERROR_INVALID_HANDLE, on failure.
HLOCAL WINAPI LocalFree(HLOCAL block);

// The process heap (heap.cpp). HeapAlloc fails by returning null, without a last error.
typedef size_t SIZE_T;
#define HEAP_ZERO_MEMORY 0x00000008
HANDLE WINAPI GetProcessHeap();
LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
BOOL WINAPI HeapFree(HANDLE heap, DWORD flags, LPVOID block);

// Strings. UTF-16 surrogates (winnls.h).
#define HIGH_SURROGATE_START 0xd800
#define HIGH_SURROGATE_END 0xdbff
#define IS_HIGH_SURROGATE(wch) (((wch) >= HIGH_SURROGATE_START) && ((wch) <= HIGH_SURROGATE_END))
int WINAPI lstrlenW(LPCWSTR text);
int WINAPI lstrlenA(LPCSTR text);
