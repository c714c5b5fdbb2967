// The simulated Windows machine behind the host platform layer.
//
// A test starts from ResetMachine(), which gives a default 32-bit Windows installed on C:
// with an empty file system in a fresh host folder, changes what it needs in a few lines,
// calls the product, and reads back files, calls and state. Every Win32 call of the layer
// asks Enter("Name", &code) first: that counts the call and tells it to fail with the code
// a test injected with Fail("Name", code).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "types.h"

namespace host {

// UTF-8 <-> UTF-16 for tests and for the host file names.
std::u16string U16(const std::string& text);
std::string U8(const std::u16string& text);
std::string U8(const WCHAR* text);

// Case-insensitive comparison of Windows names (ASCII letters fold; other units compare as they are).
std::u16string Upper(const std::u16string& text);
struct NoCaseLess {
    bool operator()(const std::u16string& a, const std::u16string& b) const;
};

// A loaded or loadable library and the functions it exports by name.
struct Module {
    std::u16string name;
    std::map<std::string, FARPROC> exports;
    bool resident = false;   // mapped in every process (kernel32.dll): GetModuleHandleW finds it
    bool loadFails = false;  // LoadLibraryW fails with loadError
    DWORD loadError = ERROR_MOD_NOT_FOUND;
    int references = 0;      // LoadLibraryW calls not yet matched by FreeLibrary
};

// Security identifiers in their text form.
const char* const SYSTEM_SID = "S-1-5-18";
const char* const ADMINISTRATORS_SID = "S-1-5-32-544";

// A kernel object behind a handle that CloseHandle closes. The machine owns every open one.
struct KernelObject {
    explicit KernelObject(const char* kind) : kind(kind) {}
    virtual ~KernelObject() = default;
    const char* kind;  // the handle kind counted in Machine::openHandles
};

// A file or folder opened with CreateFileW.
struct FileObject : KernelObject {
    FileObject() : KernelObject("file") {}
    ~FileObject() override;
    int fd = -1;                  // host descriptor; O_PATH for a link or folder opened as itself
    std::string hostPath;         // where it was opened
    DWORD access = 0;             // granted rights, generic rights mapped
    bool linkItself = false;      // a symbolic link or junction opened as itself
    bool directoryLink = false;   // ... one that stands for a folder
};

// A descriptor of the C runtime that owns a file handle (_open_osfhandle).
struct Descriptor {
    HANDLE file = nullptr;
    int flags = 0;  // the _O_ flags it was made with
};

struct Injection {
    DWORD code = 0;
    int remaining = -1;  // calls still to fail; -1: every call
};

class Machine {
public:
    // Folder on the host that holds one folder per drive letter ("C", "D", ...).
    std::string root;

    // Windows as the process sees it.
    bool windows64 = false;  // 64-bit Windows: a 32-bit process runs under WOW64
    bool process64 = false;  // with windows64: the process is a 64-bit one, not under WOW64
    std::u16string windowsDirectory = u"C:\\Windows";
    std::u16string systemDirectory = u"C:\\Windows\\system32";
    std::u16string currentDirectory = u"C:\\";
    std::u16string moduleFileName = u"C:\\Program Files\\Setup\\setup.exe";
    DWORD versionMajor = 10, versionMinor = 0, versionBuild = 19045;
    // What a successful Wow64DisableWow64FsRedirection returns: Windows promises only a
    // nonzero BOOL, so a caller must not take it for TRUE.
    BOOL redirectionDisableResult = TRUE;

    std::map<std::u16string, std::u16string, NoCaseLess> environment;
    std::map<std::u16string, Module, NoCaseLess> modules;
    std::vector<DWORD> sleeps;  // every Sleep, in milliseconds, in call order

    // Moves the Windows installation (the Windows, system and WOW64 folders) to a folder,
    // such as "D:\\Windows".
    void InstallWindowsAt(const std::u16string& windowsFolder);
    std::u16string Wow64Directory() const { return windowsDirectory + u"\\SysWOW64"; }
    // A 32-bit process on 64-bit Windows: IsWow64Process says TRUE, file-system redirection
    // applies and device installation is refused.
    bool UnderWow64() const { return windows64 && !process64; }

    // Failure injection and call counts.
    void Fail(const std::string& api, DWORD code, int times = -1);
    void Heal(const std::string& api) { injections.erase(api); }
    int Calls(const std::string& api) const;
    bool Enter(const std::string& api, DWORD* code = nullptr);

    // Modules: a test removes an export or makes a library fail to load.
    Module& AddModule(const std::u16string& name, bool resident = false);
    void RemoveExport(const std::u16string& module, const std::string& function);
    void FailLoad(const std::u16string& module, DWORD error = ERROR_MOD_NOT_FOUND);
    int References(const std::u16string& module) const;

    // Files, by Windows path (full or relative to the current directory). Folders are made
    // as needed. Read-only and locked files are the machine's own marks, since the host
    // runs as root and would ignore permissions.
    void WriteFile(const std::u16string& path, const std::string& bytes);
    std::string ReadFile(const std::u16string& path) const;
    bool Exists(const std::u16string& path) const;
    void MakeFolder(const std::u16string& path);
    void Remove(const std::u16string& path);
    std::vector<std::u16string> List(const std::u16string& folder) const;
    void SetReadOnly(const std::u16string& path, bool readOnly = true);
    bool IsReadOnly(const std::u16string& path) const;
    void Lock(const std::u16string& path, bool locked = true);
    bool IsLocked(const std::u16string& path) const;

    // Every path given to CreateFileW (whether it opened or not) and every path a runtime
    // stream was opened on, exactly as the caller passed it, in call order.
    // Windows normalises a path before it opens the file (C:\Temp\\drvmate.log opens
    // C:\Temp\drvmate.log); the caller's own text is kept here for a test to pin.
    std::vector<std::u16string> openedPaths;

    // Handles the layer gave out and that are still open, by kind ("find", "devinfo", "file",
    // "token", "descriptor", "stream", "msirecord", "local" for LocalFree's blocks, ...): a
    // test ends with every kind at 0.
    std::map<std::string, int> openHandles;
    int OpenHandles(const std::string& kind) const;

    // Owners and links. An owner is a security identifier as text ("S-1-5-18"). A file the
    // process creates is owned by the process's user; any other file (one a test puts on
    // the machine) by Administrators until a test names its owner. The owner belongs to the
    // file, not to a name: every hard link of a file shows the same one.
    std::string processUser = SYSTEM_SID;  // the user of the process's token
    void SetOwner(const std::u16string& path, const std::string& sid);
    std::string Owner(const std::u16string& path) const;  // of the link itself, for a link
    // A symbolic link or junction is a reparse point that names its target; CreateFileW
    // follows it unless told to open the link itself. `target` need not exist.
    void MakeSymbolicLink(const std::u16string& link, const std::u16string& target, bool folder = false);
    void MakeJunction(const std::u16string& link, const std::u16string& folder);
    // One more name for an existing file.
    void MakeHardLink(const std::u16string& link, const std::u16string& existing);

    // What the layer keeps for the handles it gives out: kernel objects, the C runtime's
    // descriptors, and LocalFree's blocks with their sizes.
    std::map<HANDLE, std::unique_ptr<KernelObject>> kernelObjects;
    std::map<int, Descriptor> descriptors;
    std::map<void*, size_t> localBlocks;
    int invalidCloses = 0;  // CloseHandle, _close or LocalFree given what is not open
    ~Machine();

    // Per-thread WOW64 file-system redirection of the calling thread.
    bool RedirectionDisabled() const;

    // Hooks for the other areas of the layer (devices, registry, services, installer session):
    // each keeps its own state and registers how to reset it.
    static void OnReset(std::function<void(Machine&)> reset);

private:
    std::map<std::string, Injection> injections;
    std::map<std::string, int> calls;
    std::set<std::u16string> readOnly;  // upper-case full paths
    std::set<std::u16string> locked;
    // Per file (host device and inode): its owner when not Administrators, and whether a
    // link stands for a folder. Each such file is held open, so that its inode is not given
    // to another file while the machine lives.
    struct FileRecord {
        std::string owner;
        bool folderLink = false;
        int pin = -1;
    };
    std::map<std::pair<uint64_t, uint64_t>, FileRecord> fileRecords;
    // The record of the entry at a host path (a link itself, not its target), or of the file
    // a host descriptor has open; made on demand when `create`, else null when there is none.
    FileRecord* RecordAt(const std::string& hostPath, bool create);
    FileRecord* RecordOf(int fd, bool create);
    friend Machine& ResetMachine();
    friend std::string OwnerOf(const std::string& hostPath);
    friend std::string OwnerOfOpenFile(int fd);
    friend void SetOwnerOf(const std::string& hostPath, const std::string& sid);
    friend void SetOwnerOfOpenFile(int fd, const std::string& sid);
    friend bool IsFolderLink(const std::string& hostPath);
};

// The machine of the running test; created at first use.
Machine& CurrentMachine();
// Replaces the machine with a new default one over a fresh, empty host folder.
Machine& ResetMachine();

// Windows path handling shared by the layer's file calls.
// FullPath: GetFullPathNameW's rules (current drive and directory, "." and "..", '/' as '\',
// trailing dots and blanks of a name dropped). Empty result: not a path this layer can use.
std::u16string FullPath(const std::u16string& path);
// Host path for a full Windows path after the calling thread's WOW64 redirection; each
// existing component is matched without regard to case. Empty: no drive letter.
std::string HostPath(const std::u16string& fullPath);
// The full path after the calling thread's WOW64 redirection.
std::u16string Redirected(const std::u16string& fullPath);

// Handle bookkeeping for the layer's own handle kinds.
void HandleOpened(const std::string& kind);
void HandleClosed(const std::string& kind);

// Kernel objects: Add counts the handle open and gives it out; Find is null for a handle
// that is not an open object of that kind; Close counts it closed and destroys it.
HANDLE AddKernelObject(std::unique_ptr<KernelObject> object);
template <typename T>
T* FindKernelObject(HANDLE handle, const char* kind)
{
    auto& objects = CurrentMachine().kernelObjects;
    auto it = objects.find(handle);
    if (it == objects.end() || std::string(it->second->kind) != kind) return nullptr;
    return static_cast<T*>(it->second.get());
}
bool CloseKernelObject(HANDLE handle);

// Blocks that LocalFree takes back.
void* AllocateLocal(size_t bytes);

// Owners and links by host path (the entry itself: a link is not followed).
std::string OwnerOf(const std::string& hostPath);
std::string OwnerOfOpenFile(int fd);  // of the file a host descriptor has open
void SetOwnerOf(const std::string& hostPath, const std::string& sid);
void SetOwnerOfOpenFile(int fd, const std::string& sid);
bool IsFolderLink(const std::string& hostPath);

// Security identifiers: the binary form Windows uses (revision, count, authority, sub-
// authorities) from text such as "S-1-5-32-544", and back. Empty: not a valid identifier.
std::vector<BYTE> SidBytes(const std::string& text);
std::string SidText(const void* sid);
size_t SidLength(const void* sid);  // 0 when not a valid identifier

}  // namespace host
