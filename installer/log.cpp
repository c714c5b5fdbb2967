#include "log.h"

#include <stdarg.h>

#include "guards.h"
#include "text.h"

namespace {

// Filled once, at the first message that finds it empty; kept for the life of the library.
WCHAR logPath[MAX_PATH];
// Open only while one message is written.
FILE* logStream;

class LastErrorKeeper {
public:
    LastErrorKeeper() : error_(GetLastError()) {}
    ~LastErrorKeeper() { SetLastError(error_); }
    LastErrorKeeper(const LastErrorKeeper&) = delete;
    LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

private:
    DWORD error_;
};

// The custom actions run as SYSTEM, whose TEMP folder every user may create files in. What
// stands at the log's path is therefore opened as itself and written only when it is a
// plain file that the process's user, SYSTEM or Administrators own; anything else (a link
// or junction to another file, a hard link, a folder, a file someone else made to read,
// forge or block the log) drops the message. On a volume that keeps no owners (FAT32, exFAT)
// the owner is not asked, since every file there reads as Everyone's; the other checks hold.
// Every check is made on the open handle, so nothing can be swapped in between check and
// write; only Windows XP, which cannot ask a handle for its volume, asks the log's path (see
// VolumeKeepsOwners).

// Appending only, so that no write lands anywhere but at the end; and the rights to read
// the attributes and the owner of what was opened.
const DWORD LOG_ACCESS = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
// Other processes may read and write the log meanwhile, as with _SH_DENYNO.
const DWORD LOG_SHARING = FILE_SHARE_READ | FILE_SHARE_WRITE;
// A symbolic link or junction is opened as itself, a reparse point, instead of leading on.
const DWORD LOG_FLAGS = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
// Rounds of "open the log, else create it": a log that another process creates between the
// two calls is opened by the second round.
const int LOG_OPEN_ROUNDS = 2;
const DWORD ONE_LINK = 1;
// The runtime's descriptor appends and writes in text mode: 0x0A is stored as 0x0D 0x0A.
const int LOG_DESCRIPTOR_FLAGS = _O_APPEND | _O_TEXT | _O_WRONLY;

// A runtime descriptor, closed with _close unless a stream took it over.
class DescriptorGuard {
public:
    explicit DescriptorGuard(int descriptor) : descriptor_(descriptor) {}
    ~DescriptorGuard()
    {
        if (Valid()) _close(descriptor_);
    }
    DescriptorGuard(const DescriptorGuard&) = delete;
    DescriptorGuard& operator=(const DescriptorGuard&) = delete;

    bool Valid() const { return descriptor_ != -1; }
    int Get() const { return descriptor_; }
    void Release() { descriptor_ = -1; }

private:
    int descriptor_;
};

// Room for a token's user: the TOKEN_USER and the SID behind it.
union TokenUserBuffer {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
};

// The user of the process's token, read at the first message that needs it and kept for the
// life of the library: a process's token keeps its user.
TokenUserBuffer processUser;
bool processUserKnown;

bool IsProcessUser(PSID sid)
{
    if (!processUserKnown) {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
        HandleGuard tokenGuard(token);
        DWORD length = 0;
        if (!GetTokenInformation(token, TokenUser, &processUser, sizeof(processUser), &length)) return false;
        processUserKnown = true;
    }
    return EqualSid(sid, processUser.user.User.Sid) != FALSE;
}

// Room for a self-relative security descriptor that holds an owner and nothing else.
union OwnerDescriptor {
    SECURITY_DESCRIPTOR_RELATIVE header;
    BYTE bytes[sizeof(SECURITY_DESCRIPTOR_RELATIVE) + SECURITY_MAX_SID_SIZE];
};

bool HasTrustedOwner(HANDLE file)
{
    // Into a buffer of the caller's: GetSecurityInfo would allocate a descriptor and costs about
    // twice as much, on every message that opens an existing log.
    OwnerDescriptor descriptor;
    DWORD needed = 0;
    if (!GetKernelObjectSecurity(file, OWNER_SECURITY_INFORMATION, &descriptor, sizeof descriptor, &needed))
        return false;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!GetSecurityDescriptorOwner(&descriptor, &owner, &defaulted)) return false;
    if (!owner) return false;
    return IsWellKnownSid(owner, WinLocalSystemSid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
           IsProcessUser(owner);
}

typedef BOOL(WINAPI* GetVolumeInformationByHandleFunction)(HANDLE file, LPWSTR volumeName, DWORD volumeNameSize,
                                                           LPDWORD serialNumber, LPDWORD maximumComponentLength,
                                                           LPDWORD fileSystemFlags, LPWSTR fileSystemName,
                                                           DWORD fileSystemNameSize);

// Whether the file's volume keeps owners: not FAT32 or exFAT, which have no security at all,
// so that every file there reads as owned by Everyone and no owner tells who made it. Where it
// cannot be told, the volume counts as one that keeps owners, and the owner decides.
bool VolumeKeepsOwners(HANDLE file, const WCHAR* path)
{
    DWORD flags = 0;
    // GetVolumeInformationByHandleW came with Windows Vista: bound by name.
    GetVolumeInformationByHandleFunction getVolumeInformation = reinterpret_cast<GetVolumeInformationByHandleFunction>(
        GetProcAddress(GetModuleHandleW(W("kernel32.dll")), "GetVolumeInformationByHandleW"));
    if (getVolumeInformation) {
        if (!getVolumeInformation(file, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) return true;
        return (flags & FILE_PERSISTENT_ACLS) != 0;
    }
    // Windows XP: the volume of the log's path, asked by its root. The path still names the
    // file that is open: the handle was checked to be a plain file (no link or junction at the
    // log's name), and it is held without FILE_SHARE_DELETE, so the name can be neither removed
    // nor renamed meanwhile. Only a junction or mount point above the log (TEMP or a folder over
    // it) could make the path's volume another than the file's; but whoever could put one there
    // could already steer where the log is written, and those folders are the administrators'.
    // An answer that the volume keeps owners only lets the owner decide; GetVolumePathNameW
    // follows mount points to the volume the path ends on. The root is a prefix of the full
    // path: a buffer that cuts its trailing backslash makes GetVolumeInformationW fail, and the
    // owner decides.
    WCHAR root[MAX_PATH];
    if (!GetVolumePathNameW(path, root, MAX_PATH)) return true;
    if (!GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) return true;
    return (flags & FILE_PERSISTENT_ACLS) != 0;
}

typedef BOOL(WINAPI* GetFileInformationByHandleExFunction)(HANDLE file, FILE_INFO_BY_HANDLE_CLASS informationClass,
                                                           LPVOID information, DWORD size);

// A file with this one name: no reparse point, no folder, no hard link of a file elsewhere.
bool IsPlainFile(HANDLE file)
{
    // GetFileInformationByHandleEx came with Windows Vista: bound by name, so that the library
    // loads on Windows XP, where the one record of GetFileInformationByHandle tells the same.
    GetFileInformationByHandleExFunction getInformation = reinterpret_cast<GetFileInformationByHandleExFunction>(
        GetProcAddress(GetModuleHandleW(W("kernel32.dll")), "GetFileInformationByHandleEx"));
    if (!getInformation) {
        BY_HANDLE_FILE_INFORMATION information;
        if (!GetFileInformationByHandle(file, &information)) return false;
        if (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) return false;
        return information.nNumberOfLinks == ONE_LINK;
    }
    // Two small records rather than GetFileInformationByHandle, which also asks the volume for
    // its serial number: that costs far more than the open and the append together.
    FILE_ATTRIBUTE_TAG_INFO tag;
    if (!getInformation(file, FileAttributeTagInfo, &tag, sizeof tag)) return false;
    if (tag.FileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) return false;
    FILE_STANDARD_INFO standard;
    if (!getInformation(file, FileStandardInfo, &standard, sizeof standard)) return false;
    return !standard.Directory && standard.NumberOfLinks == ONE_LINK;
}

// Opens what is at the path, else creates a new file there. A new file is only ever made
// where nothing is, so a link to a missing file never gets its target created.
HANDLE OpenOrCreateLog(const WCHAR* path, bool* created)
{
    for (int round = 0; round < LOG_OPEN_ROUNDS; ++round) {
        HANDLE file = CreateFileW(path, LOG_ACCESS, LOG_SHARING, nullptr, OPEN_EXISTING, LOG_FLAGS, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            *created = false;
            return file;
        }
        if (GetLastError() != ERROR_FILE_NOT_FOUND) return INVALID_HANDLE_VALUE;
        file = CreateFileW(path, LOG_ACCESS, LOG_SHARING, nullptr, CREATE_NEW, LOG_FLAGS, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            *created = true;
            return file;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) return INVALID_HANDLE_VALUE;
    }
    return INVALID_HANDLE_VALUE;
}

// A stream that appends one message to the log, or null when the log may not be written.
FILE* OpenLogStream(const WCHAR* path)
{
    bool created = false;
    HandleGuard file(OpenOrCreateLog(path, &created));
    if (!file.Valid()) return nullptr;
    if (!IsPlainFile(file.Get())) return nullptr;
    // A file this open created is the process's own. On a volume without owners (a TEMP on
    // FAT32 or exFAT) ownership means nothing and is not asked; the checks above still hold.
    if (!created && !HasTrustedOwner(file.Get()) && VolumeKeepsOwners(file.Get(), path)) return nullptr;

    DescriptorGuard descriptor(_open_osfhandle(reinterpret_cast<intptr_t>(file.Get()), LOG_DESCRIPTOR_FLAGS));
    if (!descriptor.Valid()) return nullptr;
    file.Release();  // the descriptor owns the handle now; closing it closes both
    FILE* stream = _wfdopen(descriptor.Get(), W("at"));
    if (stream) descriptor.Release();  // the stream owns both now; fclose closes all three
    return stream;
}

}  // namespace

bool GetTempDirectory(WCHAR* buffer, DWORD size)
{
    DWORD length = GetEnvironmentVariableW(W("TEMP"), buffer, size);
    if (length == 0) return false;
    if (length >= size) return false;
    buffer[length] = 0;
    return true;
}

void LogMessage(const WCHAR* format, ...)
{
    // Callers log the last error of a failed step after other lines: opening the log must
    // not replace it.
    LastErrorKeeper keeper;
    if (!logStream) {
        if (logPath[0] == 0) {
            if (!GetTempDirectory(logPath, MAX_PATH)) logPath[0] = 0;
            if (logPath[0] == 0) return;
            if (!AppendPathText(logPath, W("\\drvmate.log"))) {
                logPath[0] = 0;
                return;
            }
        }
        logStream = OpenLogStream(logPath);
        if (!logStream) return;
    }

    WCHAR message[LOG_MESSAGE_CHARS];
    va_list values;
    va_start(values, format);
    int length = _vsnwprintf(message, MESSAGE_TEXT_LIMIT, format, values);
    va_end(values);
    if (length < 0 || length >= MESSAGE_TEXT_LIMIT) {
        length = MESSAGE_TEXT_LIMIT;
        if (IS_HIGH_SURROGATE(message[length - 1])) --length;
    }
    message[length] = 0;

    if (!ContainsChar(message, W('\n'))) {
        message[length++] = W('\n');
        message[length] = 0;
    }
    fwrite(message, 1, length * sizeof(WCHAR), logStream);
    fclose(logStream);
    logStream = nullptr;
}

void ForgetLogPath()
{
    logPath[0] = 0;
    processUserKnown = false;
}
