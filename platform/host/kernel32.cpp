// kernel32 over the simulated machine.
#include "kernel32.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "layer.h"

namespace host {

namespace {

// Copies text and its terminator into a caller's buffer of `size` characters, the way the
// Get*Directory calls do: the length when it fits, else the size needed with the terminator.
UINT CopyOut(const std::u16string& text, LPWSTR buffer, UINT size)
{
    if (!buffer || text.size() + 1 > size) return static_cast<UINT>(text.size() + 1);
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = 0;
    return static_cast<UINT>(text.size());
}

std::u16string Text(LPCWSTR text) { return text ? std::u16string(text) : std::u16string(); }

bool HasWildcard(const std::u16string& s) { return s.find_first_of(u"*?") != std::u16string::npos; }

bool IsFolder(const std::string& hostPath)
{
    struct stat st;
    return stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsThere(const std::string& hostPath)
{
    struct stat st;
    return stat(hostPath.c_str(), &st) == 0;
}

// The error Windows gives for a path that does not name anything: file not found when its
// folder exists, path not found when it does not.
DWORD MissingError(const std::string& hostPath)
{
    std::string parent = hostPath.substr(0, hostPath.rfind('/'));
    return IsFolder(parent) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

// Windows wildcard matching of one name, without regard to case: '*' takes any run of
// characters, '?' one character; "*.*" takes every name.
bool Matches(const std::u16string& pattern, const std::u16string& name)
{
    std::u16string p = Upper(pattern), n = Upper(name);
    if (p == u"*.*") return true;
    size_t pi = 0, ni = 0, star = std::u16string::npos, mark = 0;
    while (ni < n.size()) {
        if (pi < p.size() && (p[pi] == u'?' || p[pi] == n[ni])) {
            ++pi;
            ++ni;
        } else if (pi < p.size() && p[pi] == u'*') {
            star = pi++;
            mark = ni;
        } else if (star != std::u16string::npos) {
            pi = star + 1;
            ni = ++mark;
        } else
            return false;
    }
    while (pi < p.size() && p[pi] == u'*') ++pi;
    return pi == p.size();
}

struct FoundEntry {
    std::u16string name;
    std::u16string shortName;  // empty when the entry has none
    std::string hostPath;
};

struct FindSearch : KernelObject {
    FindSearch() : KernelObject("find") {}
    std::vector<FoundEntry> entries;
    size_t next = 0;
};

FILETIME FileTime(const struct timespec& t);

void Fill(const FoundEntry& entry, LPWIN32_FIND_DATAW data)
{
    std::memset(data, 0, sizeof(*data));
    struct stat st;
    bool found = stat(entry.hostPath.c_str(), &st) == 0;
    bool folder = found && S_ISDIR(st.st_mode);
    data->dwFileAttributes = folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (!folder) data->nFileSizeLow = static_cast<DWORD>(st.st_size);
    // The times as the file system keeps them, as GetFileInformationByHandle gives them.
    if (found) {
        data->ftCreationTime = FileTime(st.st_ctim);
        data->ftLastAccessTime = FileTime(st.st_atim);
        data->ftLastWriteTime = FileTime(st.st_mtim);
    }
    size_t n = std::min<size_t>(entry.name.size(), MAX_PATH - 1);
    std::copy(entry.name.begin(), entry.name.begin() + n, data->cFileName);
    const size_t ALTERNATE_CHARS = sizeof data->cAlternateFileName / sizeof data->cAlternateFileName[0];
    n = std::min<size_t>(entry.shortName.size(), ALTERNATE_CHARS - 1);
    std::copy(entry.shortName.begin(), entry.shortName.begin() + n, data->cAlternateFileName);
}

}  // namespace
}  // namespace host

using host::CurrentMachine;

DWORD WINAPI GetLastError() { return CurrentMachine().Thread().lastError; }
void WINAPI SetLastError(DWORD code) { CurrentMachine().Thread().lastError = code; }

HANDLE WINAPI GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)); }

void WINAPI Sleep(DWORD milliseconds)
{
    LAYER_ENTER_INFALLIBLE();
    CurrentMachine().sleeps.push_back(milliseconds);
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info)
{
    LAYER_ENTER(FALSE);
    if (!info || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA))
        return host::WithLastError(ERROR_INSUFFICIENT_BUFFER, FALSE);
    const host::Machine& m = CurrentMachine();
    info->dwMajorVersion = m.versionMajor;
    info->dwMinorVersion = m.versionMinor;
    info->dwBuildNumber = m.versionBuild;
    info->dwPlatformId = 2;  // VER_PLATFORM_WIN32_NT
    return TRUE;
}

// ---------------------------------------------------------------------------------------
// Modules

HMODULE WINAPI GetModuleHandleW(LPCWSTR name)
{
    host::Machine& m = CurrentMachine();
    LAYER_ENTER(nullptr);
    auto it = m.modules.find(host::Text(name));
    if (it == m.modules.end() || (!it->second.resident && it->second.references == 0))
        return host::WithLastError(ERROR_MOD_NOT_FOUND, nullptr);
    return reinterpret_cast<HMODULE>(&it->second);
}

// Maps the library of a name, or counts one more reference to it when it is mapped already.
// Loading depends on file-system redirection: with it off, a 32-bit process on 64-bit Windows
// finds the native 64-bit image in the system directory, which it cannot map.
static HMODULE MapModule(host::Machine& m, const std::u16string& name)
{
    auto it = m.modules.find(name);
    if (it == m.modules.end()) return host::WithLastError(ERROR_MOD_NOT_FOUND, nullptr);
    if (it->second.loadFails) return host::WithLastError(it->second.loadError, nullptr);
    if (!it->second.resident && it->second.references == 0 && m.UnderWow64() && m.RedirectionDisabled())
        return host::WithLastError(ERROR_BAD_EXE_FORMAT, nullptr);
    ++it->second.references;
    return reinterpret_cast<HMODULE>(&it->second);
}

HMODULE WINAPI LoadLibraryW(LPCWSTR name)
{
    LAYER_ENTER(nullptr);
    return MapModule(CurrentMachine(), host::Text(name));
}

// The LOAD_LIBRARY_SEARCH_* flags, which a loader has where kernel32.dll exports
// SetDefaultDllDirectories (Windows 8, and Vista and 7 with KB2533623); elsewhere LoadLibraryExW
// fails with ERROR_INVALID_PARAMETER. They cannot be combined with LOAD_WITH_ALTERED_SEARCH_PATH.
static const DWORD LOAD_LIBRARY_SEARCH_FLAGS = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_APPLICATION_DIR |
                                               LOAD_LIBRARY_SEARCH_USER_DIRS | LOAD_LIBRARY_SEARCH_SYSTEM32 |
                                               LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;

static bool LoaderTakesSearchFlags(host::Machine& m)
{
    auto kernel32 = m.modules.find(u"kernel32.dll");
    return kernel32 != m.modules.end() && kernel32->second.exports.count("SetDefaultDllDirectories") != 0;
}

HMODULE WINAPI LoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags)
{
    host::Machine& m = CurrentMachine();
    LAYER_ENTER(nullptr);
    if (flags & ~(LOAD_LIBRARY_SEARCH_FLAGS | LOAD_WITH_ALTERED_SEARCH_PATH))
        host::Machine::Unsimulated("LoadLibraryExW", "flags other than the search flags and the altered search path");
    // hFile is reserved and must be null.
    if (!name || file) return host::WithLastError(ERROR_INVALID_PARAMETER, nullptr);
    if ((flags & LOAD_LIBRARY_SEARCH_FLAGS) && (!LoaderTakesSearchFlags(m) || (flags & LOAD_WITH_ALTERED_SEARCH_PATH)))
        return host::WithLastError(ERROR_INVALID_PARAMETER, nullptr);
    std::u16string path = host::Text(name);
    size_t slash = path.rfind(u'\\');
    std::u16string moduleName = path;
    if (slash != std::u16string::npos) {
        // The layer's modules are the system folder's: a path elsewhere names a file it does not map.
        if (host::Upper(path.substr(0, slash)) != host::Upper(m.systemDirectory))
            host::Machine::Unsimulated("LoadLibraryExW", "a library outside the system folder");
        moduleName = path.substr(slash + 1);
    } else if (flags & LOAD_WITH_ALTERED_SEARCH_PATH) {
        host::Machine::Unsimulated("LoadLibraryExW",
                                   "the altered search path with a relative name, which Windows leaves undefined");
    } else if (!(flags & LOAD_LIBRARY_SEARCH_FLAGS)) {
        // The standard search looks in the program's folder first: a file of that name there is
        // what Windows maps, unless a module of the name is mapped already.
        auto mapped = m.modules.find(moduleName);
        bool isMapped = mapped != m.modules.end() && (mapped->second.resident || mapped->second.references > 0);
        std::u16string programFolder = m.moduleFileName.substr(0, m.moduleFileName.rfind(u'\\') + 1);
        if (!isMapped && m.Exists(programFolder + moduleName))
            host::Machine::Unsimulated("LoadLibraryExW",
                                       "a library in the program's folder, which the search takes first");
    }
    return MapModule(m, moduleName);
}

BOOL WINAPI SetDefaultDllDirectories(DWORD directoryFlags)
{
    LAYER_ENTER(FALSE);
    const DWORD allowed = LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS |
                          LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;
    if (directoryFlags == 0 || (directoryFlags & ~allowed)) return host::WithLastError(ERROR_INVALID_PARAMETER, FALSE);
    host::Machine::Unsimulated("SetDefaultDllDirectories", "a process's default library folders");
    return FALSE;
}

static host::Module* FindModule(HMODULE handle)
{
    for (auto& entry : CurrentMachine().modules)
        if (reinterpret_cast<HMODULE>(&entry.second) == handle) return &entry.second;
    return nullptr;
}

BOOL WINAPI FreeLibrary(HMODULE handle)
{
    DWORD code;
    bool fails = CurrentMachine().Enter(__func__, &code);
    host::Module* module = FindModule(handle);
    if (!module || (module->references == 0 && !module->resident))
        return host::WithLastError(ERROR_INVALID_HANDLE, FALSE);
    // A failure the test injected still takes the reference: the caller cannot retry.
    if (module->references > 0) --module->references;
    if (fails) return host::WithLastError(code, FALSE);
    return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE handle, LPCSTR name)
{
    LAYER_ENTER(nullptr);
    host::Module* module = FindModule(handle);
    if (!module) return host::WithLastError(ERROR_INVALID_HANDLE, nullptr);
    if (name && reinterpret_cast<ULONG_PTR>(name) <= 0xFFFF)
        host::Machine::Unsimulated("GetProcAddress", "an export by ordinal");
    auto it = module->exports.find(name ? name : "");
    if (it == module->exports.end()) return host::WithLastError(ERROR_PROC_NOT_FOUND, nullptr);
    if (it->second) return it->second;
    FARPROC function = host::LayerFunction(it->first);
    if (!function) host::Machine::Unsimulated("GetProcAddress", "the layer has no function " + it->first);
    return function;
}

DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size)
{
    host::Machine& m = CurrentMachine();
    LAYER_ENTER(0);
    if (module) host::Machine::Unsimulated("GetModuleFileNameW", "a module other than the process's file");
    const std::u16string& name = m.moduleFileName;
    if (size == 0) return host::WithLastError(ERROR_INSUFFICIENT_BUFFER, 0);
    if (name.size() + 1 > size) {
        // Truncated to the buffer, terminator included, as Windows Vista and later do.
        std::copy(name.begin(), name.begin() + (size - 1), buffer);
        buffer[size - 1] = 0;
        return host::WithLastError(ERROR_INSUFFICIENT_BUFFER, size);
    }
    std::copy(name.begin(), name.end(), buffer);
    buffer[name.size()] = 0;
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(name.size());
}

// ---------------------------------------------------------------------------------------
// WOW64

BOOL WINAPI IsWow64Process(HANDLE process, PBOOL wow64)
{
    LAYER_ENTER(FALSE);
    if (!process || !wow64) return host::WithLastError(ERROR_INVALID_PARAMETER, FALSE);
    *wow64 = CurrentMachine().UnderWow64() ? TRUE : FALSE;
    return TRUE;
}

// The old value hands back the thread's previous state: 1 redirection was on, 2 it was off.
BOOL WINAPI Wow64DisableWow64FsRedirection(PVOID* oldValue)
{
    LAYER_ENTER(FALSE);
    if (!CurrentMachine().windows64) return host::WithLastError(ERROR_INVALID_FUNCTION, FALSE);
    if (!oldValue) return host::WithLastError(ERROR_INVALID_PARAMETER, FALSE);
    bool& disabled = CurrentMachine().Thread().redirectionDisabled;
    *oldValue = reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(disabled ? 2 : 1));
    disabled = true;
    return CurrentMachine().redirectionDisableResult;
}

BOOL WINAPI Wow64RevertWow64FsRedirection(PVOID oldValue)
{
    LAYER_ENTER(FALSE);
    ULONG_PTR state = reinterpret_cast<ULONG_PTR>(oldValue);
    if (!CurrentMachine().windows64) return host::WithLastError(ERROR_INVALID_FUNCTION, FALSE);
    if (state != 1 && state != 2) return host::WithLastError(ERROR_INVALID_PARAMETER, FALSE);
    CurrentMachine().Thread().redirectionDisabled = state == 2;
    return TRUE;
}

// ---------------------------------------------------------------------------------------
// System folders and the environment

UINT WINAPI GetSystemDirectoryW(LPWSTR buffer, UINT size)
{
    LAYER_ENTER(0);
    return host::CopyOut(CurrentMachine().systemDirectory, buffer, size);
}

UINT WINAPI GetWindowsDirectoryW(LPWSTR buffer, UINT size)
{
    LAYER_ENTER(0);
    return host::CopyOut(CurrentMachine().windowsDirectory, buffer, size);
}

UINT WINAPI GetSystemWow64DirectoryW(LPWSTR buffer, UINT size)
{
    LAYER_ENTER(0);
    if (!CurrentMachine().windows64) return host::WithLastError(ERROR_CALL_NOT_IMPLEMENTED, 0);
    return host::CopyOut(CurrentMachine().Wow64Directory(), buffer, size);
}

DWORD WINAPI GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size)
{
    host::Machine& m = CurrentMachine();
    LAYER_ENTER(0);
    auto it = m.environment.find(host::Text(name));
    if (it == m.environment.end()) return host::WithLastError(ERROR_ENVVAR_NOT_FOUND, 0);
    const std::u16string& value = it->second;
    if (value.empty()) {
        if (buffer && size) buffer[0] = 0;
        return host::WithLastError(ERROR_SUCCESS, 0);
    }
    return host::CopyOut(value, buffer, size);
}

// ---------------------------------------------------------------------------------------
// Files

DWORD WINAPI GetFullPathNameW(LPCWSTR path, DWORD size, LPWSTR buffer, LPWSTR* filePart)
{
    LAYER_ENTER(0);
    std::u16string text = host::Text(path);
    if (text.empty()) return host::WithLastError(ERROR_INVALID_NAME, 0);
    std::u16string full = CurrentMachine().FullPath(text);
    if (full.empty()) return host::WithLastError(ERROR_INVALID_NAME, 0);
    if (full.size() + 1 > size || !buffer) return static_cast<DWORD>(full.size() + 1);
    std::copy(full.begin(), full.end(), buffer);
    buffer[full.size()] = 0;
    if (filePart) {
        size_t slash = full.rfind(u'\\');
        *filePart = (slash + 1 < full.size()) ? buffer + slash + 1 : nullptr;
    }
    return static_cast<DWORD>(full.size());
}

DWORD WINAPI GetFileAttributesW(LPCWSTR path)
{
    host::Machine& m = CurrentMachine();
    LAYER_ENTER(INVALID_FILE_ATTRIBUTES);
    std::u16string full = m.Redirected(m.FullPath(host::Text(path)));
    std::string hostPath = m.HostPath(full);
    if (hostPath.empty() || host::HasWildcard(full))
        return host::WithLastError(ERROR_INVALID_NAME, INVALID_FILE_ATTRIBUTES);
    if (!host::IsThere(hostPath)) return host::WithLastError(host::MissingError(hostPath), INVALID_FILE_ATTRIBUTES);
    if (host::IsFolder(hostPath)) return FILE_ATTRIBUTE_DIRECTORY;
    return m.IsReadOnly(full) ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_ARCHIVE;
}

BOOL WINAPI DeleteFileW(LPCWSTR path)
{
    host::Machine& m = CurrentMachine();
    LAYER_ENTER(FALSE);
    std::u16string full = m.Redirected(m.FullPath(host::Text(path)));
    std::string hostPath = m.HostPath(full);
    if (hostPath.empty() || host::HasWildcard(full)) return host::WithLastError(ERROR_INVALID_NAME, FALSE);
    if (!host::IsThere(hostPath)) return host::WithLastError(host::MissingError(hostPath), FALSE);
    if (host::IsFolder(hostPath) || m.IsReadOnly(full)) return host::WithLastError(ERROR_ACCESS_DENIED, FALSE);
    // The deletion opens the file for DELETE: a handle open without FILE_SHARE_DELETE refuses it.
    if (m.IsLocked(full) ||
        m.SharingViolation(hostPath, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
        return host::WithLastError(ERROR_SHARING_VIOLATION, FALSE);
    if (unlink(hostPath.c_str()) != 0) return host::WithLastError(ERROR_ACCESS_DENIED, FALSE);
    return TRUE;
}

HANDLE WINAPI FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data)
{
    host::Machine& m = CurrentMachine();
    LAYER_ENTER(INVALID_HANDLE_VALUE);
    std::u16string full = m.Redirected(m.FullPath(host::Text(pattern)));
    size_t slash = full.rfind(u'\\');
    if (full.empty() || slash == std::u16string::npos || !data)
        return host::WithLastError(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
    std::u16string folder = full.substr(0, slash + 1);
    std::u16string namePattern = full.substr(slash + 1);
    if (host::HasWildcard(folder)) return host::WithLastError(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
    if (namePattern.empty()) return host::WithLastError(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    std::string hostFolder = m.HostPath(folder);
    if (!host::IsFolder(hostFolder)) return host::WithLastError(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);

    auto search = std::make_unique<host::FindSearch>();
    ++m.folderScans;
    if (DIR* dir = opendir(hostFolder.c_str())) {
        bool isRoot = folder.size() == 3;
        while (dirent* e = readdir(dir)) {
            std::string name = e->d_name;
            if (isRoot && (name == "." || name == "..")) continue;
            std::u16string wide = host::U16(name);
            // The pattern matches the long name or the short one, as Windows matches both.
            std::u16string shortName = m.ShortNameOf(hostFolder, wide);
            if (host::Matches(namePattern, wide) || (!shortName.empty() && host::Matches(namePattern, shortName)))
                search->entries.push_back(host::FoundEntry{wide, shortName, hostFolder + "/" + name});
        }
        closedir(dir);
    }
    // NTFS hands out names in upper-case collation order.
    std::sort(search->entries.begin(), search->entries.end(),
              [](const auto& a, const auto& b) { return host::Upper(a.name) < host::Upper(b.name); });
    if (search->entries.empty()) return host::WithLastError(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    host::Fill(search->entries[0], data);
    search->next = 1;
    return m.AddKernelObject(std::move(search));
}

BOOL WINAPI FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data)
{
    LAYER_ENTER(FALSE);
    LAYER_OBJECT(host::FindSearch, search, find, "find", FALSE);
    if (search->next >= search->entries.size()) return host::WithLastError(ERROR_NO_MORE_FILES, FALSE);
    host::Fill(search->entries[search->next++], data);
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE find)
{
    DWORD code;
    bool fails = CurrentMachine().Enter(__func__, &code);
    return host::CloseObjectOfKind(find, "find", fails, code);
}

// ---------------------------------------------------------------------------------------
// Strings

int WINAPI lstrlenW(LPCWSTR text)
{
    if (!text) return 0;
    int n = 0;
    while (text[n]) ++n;
    return n;
}

int WINAPI lstrlenA(LPCSTR text) { return text ? static_cast<int>(std::strlen(text)) : 0; }

// ---------------------------------------------------------------------------------------
// File handles

namespace host {
namespace {

// How files map the generic rights (FILE_GENERIC_READ, FILE_GENERIC_WRITE,
// FILE_GENERIC_EXECUTE and FILE_ALL_ACCESS of winnt.h).
const DWORD STANDARD_RIGHTS_OF_FILES = 0x000F0000L;  // STANDARD_RIGHTS_REQUIRED
const DWORD SPECIFIC_RIGHTS_OF_FILES = 0x000001FF;
const DWORD GENERIC_READ_RIGHTS = READ_CONTROL | FILE_READ_DATA | FILE_READ_ATTRIBUTES | FILE_READ_EA | SYNCHRONIZE;
const DWORD GENERIC_WRITE_RIGHTS =
    READ_CONTROL | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA | FILE_APPEND_DATA | SYNCHRONIZE;
const DWORD GENERIC_EXECUTE_RIGHTS = READ_CONTROL | FILE_READ_ATTRIBUTES | FILE_EXECUTE | SYNCHRONIZE;
const DWORD ALL_RIGHTS = STANDARD_RIGHTS_OF_FILES | SYNCHRONIZE | SPECIFIC_RIGHTS_OF_FILES;

DWORD FileRights(DWORD access)
{
    DWORD rights = access & ~static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
    if (access & GENERIC_READ) rights |= GENERIC_READ_RIGHTS;
    if (access & GENERIC_WRITE) rights |= GENERIC_WRITE_RIGHTS;
    if (access & GENERIC_EXECUTE) rights |= GENERIC_EXECUTE_RIGHTS;
    if (access & GENERIC_ALL) rights |= ALL_RIGHTS;
    return rights;
}

// Links that lead to links are followed this many times at most (as Linux does).
const int MAX_LINKS_FOLLOWED = 40;

// Where a path leads once the links in its last component are followed: the host path of
// the target, which need not exist. Empty: too many links.
std::string Followed(const std::string& hostPath)
{
    std::string path = hostPath;
    for (int i = 0; i < MAX_LINKS_FOLLOWED; ++i) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        std::vector<char> target(static_cast<size_t>(st.st_size) + 1);  // a link's size is its target's length
        ssize_t n = readlink(path.c_str(), target.data(), target.size());
        if (n < 0) return std::string();
        std::string next(target.data(), static_cast<size_t>(n));
        path = next[0] == '/' ? next : path.substr(0, path.rfind('/') + 1) + next;
    }
    return std::string();
}

// What both file-information calls report of an open file. A link opened as itself is a
// reparse point, a folder as its link says; a folder has one name, a file as many as its
// hard links.
struct FileFacts {
    DWORD attributes;
    bool folder;
    uint64_t size;
    DWORD links;
};

FileFacts FactsOf(const FileObject& object, const struct stat& st)
{
    FileFacts facts;
    facts.folder = object.linkItself ? object.directoryLink : S_ISDIR(st.st_mode);
    facts.attributes = facts.folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (object.linkItself) facts.attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    facts.size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    facts.links = S_ISDIR(st.st_mode) ? 1 : static_cast<DWORD>(st.st_nlink);
    return facts;
}

const uint64_t UNIX_EPOCH_IN_FILETIME_SECONDS = 11644473600ULL;  // 1601-01-01 to 1970-01-01
const uint64_t FILETIME_UNITS_PER_SECOND = 10000000ULL;          // 100-nanosecond units
const uint64_t NANOSECONDS_PER_FILETIME_UNIT = 100;

FILETIME FileTime(const struct timespec& t)
{
    uint64_t units = (static_cast<uint64_t>(t.tv_sec) + UNIX_EPOCH_IN_FILETIME_SECONDS) * FILETIME_UNITS_PER_SECOND +
                     static_cast<uint64_t>(t.tv_nsec) / NANOSECONDS_PER_FILETIME_UNIT;
    return FILETIME{static_cast<DWORD>(units), static_cast<DWORD>(units >> 32)};
}

}  // namespace
}  // namespace host

HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile)
{
    host::Machine& m = CurrentMachine();
    LAYER_ENTER(INVALID_HANDLE_VALUE);
    (void)security;
    (void)templateFile;
    std::u16string text = host::Text(path);
    m.openedPaths.push_back(text);
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING)
        return host::WithLastError(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    if (text.empty()) return host::WithLastError(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
    std::u16string full = m.Redirected(m.FullPath(text));
    std::string hostPath = m.HostPath(full);
    if (hostPath.empty() || host::HasWildcard(full))
        return host::WithLastError(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);

    DWORD rights = host::FileRights(access);
    bool writes = (rights & (FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
    struct stat entry;
    bool isLink = lstat(hostPath.c_str(), &entry) == 0 && S_ISLNK(entry.st_mode);
    bool linkItself = isLink && (flagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT);
    // The file the open reaches: the link itself, or what the links lead to.
    std::string reached = linkItself ? hostPath : host::Followed(hostPath);
    if (reached.empty()) return host::WithLastError(ERROR_CANT_RESOLVE_FILENAME, INVALID_HANDLE_VALUE);
    struct stat st;
    bool nameTaken = lstat(hostPath.c_str(), &st) == 0;
    bool exists = linkItself || stat(reached.c_str(), &st) == 0;
    bool folder = linkItself ? m.IsFolderLink(hostPath) : exists && S_ISDIR(st.st_mode);

    auto object = std::make_unique<host::FileObject>();
    object->access = rights;
    object->share = shareMode;
    object->linkItself = linkItself;
    object->directoryLink = linkItself && folder;
    object->hostPath = reached;
    bool created = false;
    if (disposition == CREATE_NEW && nameTaken) {
        // A name that is there, a link to nothing included, is never replaced or followed.
        return host::WithLastError(ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);
    }
    if (exists) {
        if (folder && !(flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS))
            return host::WithLastError(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
        if (writes && !folder && !linkItself && m.IsReadOnly(full))
            return host::WithLastError(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
        // A locked file stands for one that another process holds open without sharing.
        if (m.IsLocked(full)) return host::WithLastError(ERROR_SHARING_VIOLATION, INVALID_HANDLE_VALUE);
        if (!linkItself && m.SharingViolation(reached, rights, shareMode))
            return host::WithLastError(ERROR_SHARING_VIOLATION, INVALID_HANDLE_VALUE);
        bool truncate = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
        if (truncate && !(rights & FILE_WRITE_DATA))
            return host::WithLastError(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
        if (linkItself) {
            object->fd = open(reached.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        } else if (folder) {
            object->fd = open(reached.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        } else {
            // Without FILE_WRITE_DATA, FILE_APPEND_DATA writes only at the end of the file.
            bool appendOnly = (rights & FILE_APPEND_DATA) && !(rights & FILE_WRITE_DATA);
            object->fd =
                open(reached.c_str(), O_RDWR | O_CLOEXEC | (appendOnly ? O_APPEND : 0) | (truncate ? O_TRUNC : 0));
        }
    } else {
        if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING)
            return host::WithLastError(host::MissingError(reached), INVALID_HANDLE_VALUE);
        if (!host::IsFolder(reached.substr(0, reached.rfind('/'))))
            return host::WithLastError(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
        bool appendOnly = (rights & FILE_APPEND_DATA) && !(rights & FILE_WRITE_DATA);
        object->fd = open(reached.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | (appendOnly ? O_APPEND : 0), 0644);
        created = object->fd >= 0;
        if (created) {
            m.SetOwnerOfOpenFile(object->fd, m.processUser);
            m.NameMade(reached);
        }
    }
    if (object->fd < 0) return host::WithLastError(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    bool opened = exists && (disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS);
    SetLastError(opened ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return m.AddKernelObject(std::move(object));
}

BOOL WINAPI GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information)
{
    LAYER_ENTER(FALSE);
    LAYER_OBJECT(host::FileObject, object, file, "file", FALSE);
    if (!information) return host::WithLastError(ERROR_INVALID_PARAMETER, FALSE);
    struct stat st;
    if (fstat(object->fd, &st) != 0) return host::WithLastError(ERROR_ACCESS_DENIED, FALSE);
    host::FileFacts facts = host::FactsOf(*object, st);
    std::memset(information, 0, sizeof(*information));
    information->dwFileAttributes = facts.attributes;
    information->ftCreationTime = host::FileTime(st.st_ctim);
    information->ftLastAccessTime = host::FileTime(st.st_atim);
    information->ftLastWriteTime = host::FileTime(st.st_mtim);
    information->dwVolumeSerialNumber = static_cast<DWORD>(st.st_dev);
    information->nFileSizeHigh = static_cast<DWORD>(facts.size >> 32);
    information->nFileSizeLow = static_cast<DWORD>(facts.size);
    information->nNumberOfLinks = facts.links;
    information->nFileIndexHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_ino) >> 32);
    information->nFileIndexLow = static_cast<DWORD>(st.st_ino);
    return TRUE;
}

BOOL WINAPI GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS informationClass, LPVOID information,
                                         DWORD size)
{
    LAYER_ENTER(FALSE);
    LAYER_OBJECT(host::FileObject, object, file, "file", FALSE);
    if (informationClass != FileStandardInfo && informationClass != FileAttributeTagInfo)
        host::Machine::Unsimulated("GetFileInformationByHandleEx",
                                   "information class " + std::to_string(static_cast<int>(informationClass)));
    struct stat st;
    if (fstat(object->fd, &st) != 0) return host::WithLastError(ERROR_ACCESS_DENIED, FALSE);
    host::FileFacts facts = host::FactsOf(*object, st);
    if (informationClass == FileStandardInfo) {
        if (!information || size < sizeof(FILE_STANDARD_INFO)) return host::WithLastError(ERROR_BAD_LENGTH, FALSE);
        FILE_STANDARD_INFO standard = {};
        standard.EndOfFile.QuadPart = static_cast<int64_t>(facts.size);
        standard.AllocationSize.QuadPart = static_cast<int64_t>(facts.size);
        standard.NumberOfLinks = facts.links;
        standard.Directory = facts.folder ? TRUE : FALSE;
        std::memcpy(information, &standard, sizeof standard);
        return TRUE;
    }
    if (!information || size < sizeof(FILE_ATTRIBUTE_TAG_INFO)) return host::WithLastError(ERROR_BAD_LENGTH, FALSE);
    const DWORD IO_REPARSE_TAG_SYMLINK = 0xA000000C;  // winnt.h; junctions carry another tag
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    tag.FileAttributes = facts.attributes;
    if (object->linkItself) tag.ReparseTag = IO_REPARSE_TAG_SYMLINK;
    std::memcpy(information, &tag, sizeof tag);
    return TRUE;
}

namespace {

// What GetVolumeInformationW and GetVolumeInformationByHandleW tell of a volume of the machine:
// NTFS keeps owners and ACLs (FILE_PERSISTENT_ACLS), FAT32 has no security at all.
BOOL DescribeVolume(const host::Volume& volume, DWORD serial, LPWSTR volumeName, DWORD volumeNameSize,
                    LPDWORD serialNumber, LPDWORD maximumComponentLength, LPDWORD fileSystemFlags,
                    LPWSTR fileSystemName, DWORD fileSystemNameSize)
{
    bool fat = volume.fileSystem == host::FileSystem::Fat;
    const DWORD NTFS_FLAGS = FILE_CASE_SENSITIVE_SEARCH | FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK |
                             FILE_PERSISTENT_ACLS | FILE_SUPPORTS_REPARSE_POINTS | FILE_SUPPORTS_HARD_LINKS;
    const DWORD FAT_FLAGS = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
    const DWORD LONGEST_COMPONENT = 255;
    std::u16string name = fat ? u"FAT32" : u"NTFS";
    // A buffer too small for a name fails the call.
    if ((volumeName && volumeNameSize < 1) || (fileSystemName && fileSystemNameSize < name.size() + 1))
        return host::WithLastError(ERROR_BAD_LENGTH, FALSE);
    if (volumeName) volumeName[0] = 0;
    if (fileSystemName) host::CopyOut(name, fileSystemName, fileSystemNameSize);
    if (serialNumber) *serialNumber = serial;
    if (maximumComponentLength) *maximumComponentLength = LONGEST_COMPONENT;
    if (fileSystemFlags) *fileSystemFlags = fat ? FAT_FLAGS : NTFS_FLAGS;
    return TRUE;
}

// "X:\" for a full path on drive X; empty for any other (UNC, device) path.
std::u16string DriveRoot(const std::u16string& full)
{
    if (full.size() < 3 || full[1] != u':' || full[2] != u'\\') return std::u16string();
    return full.substr(0, 3);
}

}  // namespace

BOOL WINAPI GetVolumeInformationByHandleW(HANDLE file, LPWSTR volumeName, DWORD volumeNameSize, LPDWORD serialNumber,
                                          LPDWORD maximumComponentLength, LPDWORD fileSystemFlags,
                                          LPWSTR fileSystemName, DWORD fileSystemNameSize)
{
    host::Machine& m = CurrentMachine();
    LAYER_ENTER(FALSE);
    LAYER_OBJECT(host::FileObject, object, file, "file", FALSE);
    struct stat st;
    DWORD serial = fstat(object->fd, &st) == 0 ? static_cast<DWORD>(st.st_dev) : 0;
    return DescribeVolume(m.VolumeOfHostPath(object->hostPath), serial, volumeName, volumeNameSize, serialNumber,
                          maximumComponentLength, fileSystemFlags, fileSystemName, fileSystemNameSize);
}

BOOL WINAPI GetVolumePathNameW(LPCWSTR path, LPWSTR volumePath, DWORD size)
{
    host::Machine& m = CurrentMachine();
    LAYER_ENTER(FALSE);
    std::u16string text = host::Text(path);
    // An empty path fails, with the last error set to ERROR_SUCCESS.
    if (text.empty()) return host::WithLastError(ERROR_SUCCESS, FALSE);
    if (!volumePath) return host::WithLastError(ERROR_INVALID_PARAMETER, FALSE);
    std::u16string root = DriveRoot(m.FullPath(text));
    if (root.empty()) host::Machine::Unsimulated("GetVolumePathNameW", "a path without a drive letter");
    // The machine mounts no volume in a folder: every path's volume is its drive's. A buffer
    // one character too short takes the root without its trailing backslash; a shorter one
    // fails.
    if (size < root.size()) return host::WithLastError(ERROR_FILENAME_EXCED_RANGE, FALSE);
    host::CopyOut(size > root.size() ? root : root.substr(0, root.size() - 1), volumePath, size);
    return TRUE;
}

BOOL WINAPI GetVolumeInformationW(LPCWSTR rootPath, LPWSTR volumeName, DWORD volumeNameSize, LPDWORD serialNumber,
                                  LPDWORD maximumComponentLength, LPDWORD fileSystemFlags, LPWSTR fileSystemName,
                                  DWORD fileSystemNameSize)
{
    host::Machine& m = CurrentMachine();
    LAYER_ENTER(FALSE);
    // Null: the root of the current folder's volume.
    std::u16string text = rootPath ? host::Text(rootPath) : DriveRoot(m.FullPath(u"."));
    if (text.empty()) return host::WithLastError(ERROR_INVALID_NAME, FALSE);
    std::u16string full = m.FullPath(text);
    // The root needs its trailing backslash. A bare drive ("C:") stands for the drive's current
    // folder, which serves only where it is the root.
    bool bareDrive = text.size() == 2 && text[1] == u':';
    if (text.back() != u'\\' && !(bareDrive && full == DriveRoot(full)))
        return host::WithLastError(ERROR_INVALID_NAME, FALSE);
    std::u16string root = DriveRoot(full);
    if (root.empty()) host::Machine::Unsimulated("GetVolumeInformationW", "a root without a drive letter");
    // A folder below the root is no volume's root on a machine that mounts none in a folder.
    if (full.size() > root.size()) return host::WithLastError(ERROR_DIR_NOT_ROOT, FALSE);
    std::string hostRoot = m.HostPath(root);
    struct stat st;
    if (hostRoot.empty() || stat(hostRoot.c_str(), &st) != 0) return host::WithLastError(ERROR_PATH_NOT_FOUND, FALSE);
    return DescribeVolume(m.VolumeOf(root[0]), static_cast<DWORD>(st.st_dev), volumeName, volumeNameSize, serialNumber,
                          maximumComponentLength, fileSystemFlags, fileSystemName, fileSystemNameSize);
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes, LPDWORD written, LPVOID overlapped)
{
    if (written) *written = 0;
    LAYER_ENTER(FALSE);
    LAYER_OBJECT(host::FileObject, object, file, "file", FALSE);
    if (overlapped) host::Machine::Unsimulated("WriteFile", "overlapped writes");
    if (!written || (!buffer && bytes)) return host::WithLastError(ERROR_INVALID_PARAMETER, FALSE);
    if (!(object->access & (FILE_WRITE_DATA | FILE_APPEND_DATA)))
        return host::WithLastError(ERROR_ACCESS_DENIED, FALSE);
    if (object->linkItself) host::Machine::Unsimulated("WriteFile", "writing to a link itself");
    const char* data = static_cast<const char*>(buffer);
    DWORD done = 0;
    while (done < bytes) {
        ssize_t n = write(object->fd, data + done, bytes - done);
        if (n <= 0) return host::WithLastError(ERROR_WRITE_FAULT, FALSE);
        done += static_cast<DWORD>(n);
    }
    *written = done;
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE handle)
{
    LAYER_ENTER(FALSE);
    if (handle == GetCurrentProcess()) return TRUE;  // the pseudo handle: nothing to close
    if (!CurrentMachine().CloseKernelObject(handle)) {
        ++CurrentMachine().invalidCloses;
        return host::WithLastError(ERROR_INVALID_HANDLE, FALSE);
    }
    return TRUE;
}

HLOCAL WINAPI LocalFree(HLOCAL block)
{
    host::Machine& m = CurrentMachine();
    LAYER_ENTER(block);
    if (!block) return nullptr;
    auto it = m.localBlocks.find(block);
    if (it == m.localBlocks.end()) {
        ++m.invalidCloses;
        return host::WithLastError(ERROR_INVALID_HANDLE, block);
    }
    std::free(it->first);
    m.localBlocks.erase(it);
    m.HandleClosed("local");
    return nullptr;
}
