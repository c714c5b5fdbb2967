// The simulated Windows machine behind the host platform layer.
//
// One object owns every area a Win32 call of the layer reads or changes: drives and files,
// modules and their exports, the environment, per-thread state (last error, WOW64
// redirection), devices and the driver store's folder, registry, services, the installer
// session, the process heap, console and clock, and a journal of the calls made.
//
// A test starts from ResetMachine(), which gives a default 32-bit Windows installed on C:
// with an empty file system in a fresh host folder, changes what it needs in a few lines,
// calls the product, and reads back files, calls and state from the same object. Every Win32
// call of the layer opens with one of the LAYER_ENTER forms (platform/host/layer.h), which
// ask Enter("Name", &code) under the call's own name: that journals the call and tells it to
// fail with the code a test injected with Fail("Name", code).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "devices.h"
#include "heap.h"
#include "registry.h"
#include "session.h"
#include "wintext.h"
#include "types.h"

namespace host {

// A loaded or loadable library and the functions it exports by name.
struct Module {
    std::u16string name;
    // By name: a test's own function, or null for the layer's function of that name.
    std::map<std::string, FARPROC> exports;
    bool resident = false;   // mapped in every process (kernel32.dll): GetModuleHandleW finds it
    bool loadFails = false;  // LoadLibraryW fails with loadError
    DWORD loadError = ERROR_MOD_NOT_FOUND;
    int references = 0;  // LoadLibraryW calls not yet matched by FreeLibrary
};

// An object behind a handle that the process closes (a file, a token, a device information
// set, a find handle ...). The machine owns every open one.
struct KernelObject {
    explicit KernelObject(const char* kind) : kind(kind) {}
    virtual ~KernelObject() = default;
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;
    const char* kind;  // the handle kind counted in Machine::openHandles
};

// A file or folder opened with CreateFileW.
struct FileObject : KernelObject {
    FileObject() : KernelObject("file") {}
    ~FileObject() override;
    int fd = -1;                 // host descriptor; O_PATH for a link or folder opened as itself
    std::string hostPath;        // where it was opened
    DWORD access = 0;            // granted rights, generic rights mapped
    DWORD share = 0;             // the FILE_SHARE_ flags it was opened with
    bool linkItself = false;     // a symbolic link or junction opened as itself
    bool directoryLink = false;  // ... one that stands for a folder
};

// A descriptor of the C runtime that owns a file handle (_open_osfhandle).
struct Descriptor {
    HANDLE file = nullptr;
    int flags = 0;  // the _O_ flags it was made with
};

// The volume of a drive letter: its file system and whether it makes 8.3 short names.
enum class FileSystem {
    Ntfs,  // persistent ACLs: every file has an owner
    Fat,   // FAT32 or exFAT: no security at all; every file reads as owned by Everyone
};
struct Volume {
    FileSystem fileSystem = FileSystem::Ntfs;
    // Whether a name that is no valid 8.3 name gets a short one when the file is made
    // ("bystander.sys_old" is "BYSTAN~1.SYS"): off by default, as on a volume where
    // `fsutil 8dot3name` has turned them off; many system volumes, and Wine's drives, make them.
    bool shortNames = false;
};

struct Injection {
    DWORD code = 0;
    int remaining = -1;  // calls still to fail; -1: every call
};

// Every call the layer was asked to make, in order.
class Journal {
public:
    void Add(const char* api);
    int Count(const std::string& api) const;
    // Calls journaled so far; the next call stands at this position.
    long Size() const { return static_cast<long>(calls.size()); }
    // The name of the call at a position.
    const std::string& At(long position) const { return *calls[static_cast<size_t>(position)]; }
    // Where the nth call (from 0) of `api` stands among all calls, or -1 when there is none.
    long Position(const std::string& api, int nth = 0) const;
    // The name of every call made, each once.
    std::vector<std::string> Names() const;

private:
    // Each name once, with its count; the calls in order point at those names, so that a long
    // run (a sweep of 10,000 INFs makes about half a million calls) costs a pointer per call.
    std::map<std::string, int, std::less<>> counts;
    std::vector<const std::string*> calls;
};

// What the process wrote to standard output and standard error, as it wrote it.
struct ConsoleText {
    std::string out;
    std::string err;
};

// The machine's clock: a fixed moment, seconds since 1970-01-01 00:00 UTC, and the offset
// of the local time from UTC.
struct LocalClock {
    static constexpr int64_t DefaultNow = 1715938887;  // 2024-05-17 09:41:27 UTC
    int64_t now = DefaultNow;
    int32_t utcOffsetSeconds = 0;
};

// A file's version resource: its file (and product) version, two DWORDs as VS_FIXEDFILEINFO
// holds them.
struct FileVersion {
    DWORD mostSignificant = 0;
    DWORD leastSignificant = 0;
};

// What each thread has of its own.
struct ThreadState {
    DWORD lastError = 0;
    bool redirectionDisabled = false;  // WOW64 file-system redirection switched off
};

// A call, or an argument of one, that the layer does not simulate: the test that reaches it
// fails with this, naming both, instead of getting an error code Windows might have given.
class NotSimulated : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

class Machine {
public:
    Machine();
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // Folder on the host that holds one folder per drive letter ("C", "D", ...).
    std::string root;

    // Windows as the process sees it.
    bool windows64 = false;  // 64-bit Windows: a 32-bit process runs under WOW64
    bool process64 = false;  // with windows64: the process is a 64-bit one, not under WOW64
    std::u16string windowsDirectory = u"C:\\Windows";
    std::u16string systemDirectory = u"C:\\Windows\\system32";
    std::u16string currentDirectory = u"C:\\";
    std::u16string moduleFileName = u"C:\\Program Files\\Setup\\setup.exe";
    // The command line as GetCommandLineW gives it: the module file name in quotes, as a
    // program started by its full path sees it.
    std::u16string commandLine = u"\"" + moduleFileName + u"\"";
    DWORD versionMajor = 10, versionMinor = 0, versionBuild = 19045;
    // The system's ANSI code page: 1252, CODE_PAGE_UTF8 (65001) or CODE_PAGE_SHIFT_JIS (932).
    UINT ansiCodePage = CODE_PAGE_WINDOWS_1252;
    // What a successful Wow64DisableWow64FsRedirection returns: Windows promises only a
    // nonzero BOOL, so a caller must not take it for TRUE.
    BOOL redirectionDisableResult = TRUE;

    std::map<std::u16string, std::u16string, NoCaseLess> environment;
    std::map<std::u16string, Module, NoCaseLess> modules;
    std::vector<DWORD> sleeps;  // every Sleep, in milliseconds, in call order

    // The other areas.
    Account account;
    RegistryTree registry;
    ServiceTable services{registry};
    DeviceTree devices;
    InstallerSession session;
    ProcessHeap heap;
    ConsoleText console;
    LocalClock clock;
    Journal journal;

    // Moves the Windows installation (the Windows, system and WOW64 folders) to a folder,
    // such as "D:\\Windows".
    void InstallWindowsAt(const std::u16string& windowsFolder);
    std::u16string Wow64Directory() const { return windowsDirectory + u"\\SysWOW64"; }
    // A 32-bit process on 64-bit Windows: IsWow64Process says TRUE, file-system redirection
    // applies and device installation is refused.
    bool UnderWow64() const { return windows64 && !process64; }

    // Failure injection and the journal. Enter journals the call and says whether it must
    // fail, with which code. EnterInfallible is for a call that Windows gives no way to fail:
    // a failure injected into it is a mistake of the test, which then fails.
    void Fail(const std::string& api, DWORD code, int times = -1);
    void Heal(const std::string& api) { injections.erase(api); }
    int Calls(const std::string& api) const { return journal.Count(api); }
    bool Enter(const char* api, DWORD* code = nullptr);
    void EnterInfallible(const char* api);

    // A fault at one place of the journal: the call at `position` (counted from 0 over the
    // whole journal) fails with `code`, once.
    void FailAt(long position, DWORD code)
    {
        failPosition = position;
        failCode = code;
    }
    // The process is killed at the call at `position`: that call and every later one take no
    // effect. Each of them fails (with DEAD_PROCESS_CODE) as if injected, so the layer returns
    // before touching anything; a call Windows gives no way to fail does nothing that lasts.
    // What the process holds stays until EndProcess.
    void StopAt(long position) { stopPosition = position; }
    bool Dead() const { return dead; }
    static constexpr DWORD DEAD_PROCESS_CODE = 1067;  // ERROR_PROCESS_ABORTED
    // The process ends (normally or killed): its handles of every kind, heap blocks, local
    // blocks, descriptors, library references, installer records and threads' state go, as
    // Windows takes them back from a process that exits; a service marked for deletion goes
    // with the last handle. What lasts (files, registry, services, devices, the store)
    // stays. Fault positions are cleared; the journal goes on.
    void EndProcess();
    // Throws NotSimulated naming the call and the argument.
    [[noreturn]] static void Unsimulated(const char* api, const std::string& argument);

    // Modules: a test removes an export or makes a library fail to load.
    Module& AddModule(const std::u16string& name, bool resident = false);
    void RemoveExport(const std::u16string& module, const std::string& function);
    void FailLoad(const std::u16string& module, DWORD error = ERROR_MOD_NOT_FOUND);
    int References(const std::u16string& module) const;

    // Files, by Windows path (full or relative to the current directory). Folders are made
    // as needed. Read-only and locked files are the machine's own marks, since the host
    // runs as root and would ignore permissions.
    void WriteFile(const std::u16string& path, const std::string& bytes);
    std::string ReadFile(const std::u16string& path);
    bool Exists(const std::u16string& path);
    void MakeFolder(const std::u16string& path);
    void Remove(const std::u16string& path);
    std::vector<std::u16string> List(const std::u16string& folder);
    void SetReadOnly(const std::u16string& path, bool readOnly = true);
    bool IsReadOnly(const std::u16string& path);
    void Lock(const std::u16string& path, bool locked = true);
    bool IsLocked(const std::u16string& path);
    // A version resource for the file at a path (as the test's thread sees it), such as
    // SetFileVersion(path, 2, 1, 0, 7) for 2.1.0.7; files without one have no version.
    void SetFileVersion(const std::u16string& path, WORD major, WORD minor, WORD build, WORD revision);
    std::map<std::u16string, FileVersion> fileVersions;  // by upper-case full path

    // Volumes by drive letter ('C', 'D', ...); a drive that is not listed is a default volume.
    std::map<char16_t, Volume> volumes;
    Volume& VolumeOf(char16_t driveLetter);
    Volume& VolumeOfHostPath(const std::string& hostPath);
    // The 8.3 short name of the entry `name` in a host folder: empty when its volume makes
    // none or the name is a valid short name itself. A name gets its short name when first
    // seen (NameMade, called by whatever creates a file, or the first search that finds it):
    // the first six letters of its base, "~N" (N the first number free in the folder, so by
    // creation order), and the first three letters of its last extension, in upper case.
    std::u16string ShortNameOf(const std::string& hostFolder, const std::u16string& name);
    void NameMade(const std::string& hostPath);
    // The long name on disk that a short name stands for in a host folder; empty when none.
    std::string LongNameOf(const std::string& hostFolder, const std::u16string& shortName);

    // Sharing, as Windows checks it at each open of a file: an open whose read, write or delete
    // access an open handle or stream does not share, or whose sharing leaves out the access an
    // open one has, is a violation. Streams of the runtime are listed by their own address; file
    // handles are the "file" kernel objects.
    struct StreamShare {
        std::pair<uint64_t, uint64_t> file;  // host device and inode
        DWORD access;
        DWORD share;
    };
    std::map<const void*, StreamShare> streamShares;
    bool SharingViolation(const std::string& hostPath, DWORD access, DWORD share);

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
    void HandleOpened(const std::string& kind) { ++openHandles[kind]; }
    void HandleClosed(const std::string& kind) { --openHandles[kind]; }

    // Owners and links. An owner is a security identifier as text ("S-1-5-18"). A file the
    // process creates is owned by the process's user; any other file (one a test puts on
    // the machine) by Administrators until a test names its owner. The owner belongs to the
    // file, not to a name: every hard link of a file shows the same one.
    std::string processUser = SYSTEM_SID;  // the user of the process's token
    void SetOwner(const std::u16string& path, const std::string& sid);
    std::string Owner(const std::u16string& path);  // of the link itself, for a link
    // A symbolic link or junction is a reparse point that names its target; CreateFileW
    // follows it unless told to open the link itself. `target` need not exist.
    void MakeSymbolicLink(const std::u16string& link, const std::u16string& target, bool folder = false);
    void MakeJunction(const std::u16string& link, const std::u16string& folder);
    // One more name for an existing file.
    void MakeHardLink(const std::u16string& link, const std::u16string& existing);

    // Owners and links by host path (the entry itself: a link is not followed), for the layer.
    std::string OwnerOf(const std::string& hostPath);
    std::string OwnerOfOpenFile(int fd);  // of the file a host descriptor has open
    void SetOwnerOf(const std::string& hostPath, const std::string& sid);
    void SetOwnerOfOpenFile(int fd, const std::string& sid);
    bool IsFolderLink(const std::string& hostPath);

    // What the layer keeps for the handles it gives out: kernel objects, the C runtime's
    // descriptors, and LocalFree's blocks with their sizes.
    std::map<HANDLE, std::unique_ptr<KernelObject>> kernelObjects;
    std::map<int, Descriptor> descriptors;
    std::map<void*, size_t> localBlocks;
    int invalidCloses = 0;  // CloseHandle, _close or LocalFree given what is not open
    // Kernel objects: Add counts the handle open and gives it out; Find is null for a handle
    // that is not an open object of that kind; Close counts it closed and destroys it.
    HANDLE AddKernelObject(std::unique_ptr<KernelObject> object);
    template <typename T>
    T* FindKernelObject(HANDLE handle, const char* kind)
    {
        auto it = kernelObjects.find(handle);
        if (it == kernelObjects.end() || std::string(it->second->kind) != kind) return nullptr;
        return static_cast<T*>(it->second.get());
    }
    bool CloseKernelObject(HANDLE handle);
    // Blocks that LocalFree takes back.
    void* AllocateLocal(size_t bytes);
    // A new value for a handle that is a number rather than an object (registry keys,
    // service handles): never 0, never one given out before.
    uintptr_t NewHandleValue();

    // The calling thread's own state; a new thread starts with last error 0 and redirection on.
    ThreadState& Thread();
    bool RedirectionDisabled() { return Thread().redirectionDisabled; }

    // Windows paths.
    // FullPath: GetFullPathNameW's rules (current drive and directory, "." and "..", '/' as
    // '\', trailing dots and blanks of a name dropped). Empty: not a path this layer can use.
    std::u16string FullPath(const std::u16string& path) const;
    // The full path after the calling thread's WOW64 redirection.
    std::u16string Redirected(const std::u16string& fullPath);
    // Host path for a full Windows path after the calling thread's WOW64 redirection; each
    // existing component is matched without regard to case, through an index per folder, so
    // that a lookup costs a logarithmic time per component. Empty: no drive letter.
    std::string HostPath(const std::u16string& fullPath);
    // Host folders read whole so far (a folder's index built, a search or a listing made):
    // what a lookup costs beyond a logarithmic step per component.
    int folderScans = 0;

private:
    std::map<std::string, Injection> injections;
    long failPosition = -1;
    DWORD failCode = 0;
    long stopPosition = -1;
    bool dead = false;
    std::set<std::u16string> readOnly;  // upper-case full paths
    std::set<std::u16string> locked;
    // Sets or clears a mark (read-only, locked) of the file at a path.
    void Mark(std::set<std::u16string>& marks, const std::u16string& path, bool on);
    uintptr_t nextHandleValue = 0x1000;
    std::map<std::thread::id, ThreadState> threads;
    std::mutex threadsLock;

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

    // The names in each host folder (by device and inode), upper-case name to the name on
    // disk. An index holds every entry of its folder, and may hold names whose entry has
    // gone: each hit is checked on disk. Every name the layer creates is first looked up
    // here, and the lookup of a missing name adds it, so no entry is ever missing.
    std::map<std::pair<uint64_t, uint64_t>, std::unordered_map<std::u16string, std::string>> folderIndexes;
    std::unordered_map<std::string, std::pair<uint64_t, uint64_t>> folderKeys;  // host path to identity
    std::string Component(const std::string& folder, const std::u16string& name);
    // Short names per host folder (by device and inode): upper-case long name to short name.
    std::map<std::pair<uint64_t, uint64_t>, std::map<std::u16string, std::u16string>> shortNames;
    std::map<std::u16string, std::u16string>* ShortNamesIn(const std::string& hostFolder);
    std::string HostPathOf(const std::u16string& path);
};

// The bytes of the file at a host path; empty when it cannot be read.
std::string ReadHostFile(const std::string& hostPath);

// The machine of the running test; created at first use.
Machine& CurrentMachine();
// Replaces the machine with a new default one over a fresh, empty host folder.
Machine& ResetMachine();

}  // namespace host
