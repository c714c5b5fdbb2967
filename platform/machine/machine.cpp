#include "machine.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace host {

// ---------------------------------------------------------------------------------------
// The machine

namespace {

std::unique_ptr<Machine>& Slot()
{
    static std::unique_ptr<Machine> machine;
    return machine;
}

std::string MakeRoot()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/winhost.XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!mkdtemp(name.data())) throw std::runtime_error("cannot make the machine's folder");
    return std::string(name.data());
}

void RemoveTree(const std::string& path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        if (DIR* dir = opendir(path.c_str())) {
            while (dirent* e = readdir(dir)) {
                std::string name = e->d_name;
                if (name == "." || name == "..") continue;
                RemoveTree(path + "/" + name);
            }
            closedir(dir);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

void MakeHostFolders(const std::string& hostPath)
{
    std::string partial;
    std::stringstream in(hostPath);
    std::string part;
    while (std::getline(in, part, '/')) {
        if (part.empty()) {
            partial = "/";
            continue;
        }
        partial += (partial.empty() || partial.back() == '/' ? "" : "/") + part;
        mkdir(partial.c_str(), 0755);
    }
}

}  // namespace

Machine& CurrentMachine()
{
    if (!Slot()) ResetMachine();
    return *Slot();
}

Machine& ResetMachine()
{
    Slot().reset();
    Slot().reset(new Machine());
    return *Slot();
}

Machine::Machine()
{
    root = MakeRoot();
    MakeHostFolders(root + "/C");
    environment[u"TEMP"] = u"C:\\Temp";
    environment[u"SystemRoot"] = u"C:\\Windows";
    MakeFolder(u"C:\\Temp");
    MakeFolder(systemDirectory + u"\\drivers");
    MakeFolder(windowsDirectory + u"\\inf");

    // Resident in every process: kernel32.dll, and setupapi.dll, which Drvmate imports, so
    // that it is mapped before any of Drvmate's code runs. newdev.dll is mapped only by
    // LoadLibraryW. Null exports are the layer's own functions of those names.
    Module& kernel32 = AddModule(u"kernel32.dll", true);
    // Windows 10's kernel32: a test takes an export away to model an older Windows.
    for (const char* name :
         {"IsWow64Process", "Wow64DisableWow64FsRedirection", "Wow64RevertWow64FsRedirection",
          "GetFileInformationByHandleEx", "GetVolumeInformationByHandleW", "SetDefaultDllDirectories"})
        kernel32.exports[name] = nullptr;
    // setupapi.dll exports the configuration manager's calls too.
    Module& setupapi = AddModule(u"setupapi.dll", true);
    for (const char* name :
         {"SetupUninstallOEMInfW", "SetupDiGetClassDevsExW", "SetupDiGetClassDevsW", "SetupDiEnumDeviceInfo",
          "SetupDiDestroyDeviceInfoList", "SetupDiGetDeviceRegistryPropertyW", "SetupDiOpenDevRegKey",
          "SetupDiGetINFClassW", "SetupGetInfInformationW", "SetupQueryInfOriginalFileInformationW",
          "CM_Get_Device_ID_ExW", "CM_Get_DevNode_Status"})
        setupapi.exports[name] = nullptr;
    AddModule(u"newdev.dll").exports["UpdateDriverForPlugAndPlayDevicesW"] = nullptr;
    Module& version = AddModule(u"version.dll");
    for (const char* name : {"GetFileVersionInfoSizeW", "GetFileVersionInfoW", "VerQueryValueW"})
        version.exports[name] = nullptr;
}

Machine::~Machine()
{
    // What a test left open goes with the machine.
    kernelObjects.clear();
    for (auto& block : localBlocks) std::free(block.first);
    for (auto& record : fileRecords)
        if (record.second.pin >= 0) close(record.second.pin);
    if (!std::getenv("WINHOST_KEEP")) RemoveTree(root);
}

void Machine::InstallWindowsAt(const std::u16string& windowsFolder)
{
    windowsDirectory = windowsFolder;
    systemDirectory = windowsFolder + u"\\system32";
    environment[u"SystemRoot"] = windowsFolder;
    MakeFolder(systemDirectory + u"\\drivers");
    MakeFolder(windowsDirectory + u"\\inf");
    if (windows64) MakeFolder(Wow64Directory() + u"\\drivers");
}

// ---------------------------------------------------------------------------------------
// Calls: the journal, failures and what is not simulated

void Journal::Add(const char* api)
{
    auto it = counts.find(std::string_view(api));
    if (it == counts.end()) it = counts.emplace(api, 0).first;
    ++it->second;
    calls.push_back(&it->first);
}

int Journal::Count(const std::string& api) const
{
    auto it = counts.find(api);
    return it == counts.end() ? 0 : it->second;
}

std::vector<std::string> Journal::Names() const
{
    std::vector<std::string> names;
    for (const auto& entry : counts) names.push_back(entry.first);
    return names;
}

long Journal::Position(const std::string& api, int nth) const
{
    for (size_t i = 0; i < calls.size(); ++i)
        if (*calls[i] == api && nth-- == 0) return static_cast<long>(i);
    return -1;
}

void Machine::Fail(const std::string& api, DWORD code, int times) { injections[api] = Injection{code, times}; }

bool Machine::Enter(const char* api, DWORD* code)
{
    long position = journal.Size();
    journal.Add(api);
    if (stopPosition >= 0 && position >= stopPosition) dead = true;
    if (dead || position == failPosition) {
        if (code) *code = dead ? DEAD_PROCESS_CODE : failCode;
        return true;
    }
    if (injections.empty()) return false;
    auto it = injections.find(api);
    if (it == injections.end()) return false;
    if (code) *code = it->second.code;
    if (it->second.remaining > 0 && --it->second.remaining == 0) injections.erase(it);
    return true;
}

void Machine::EnterInfallible(const char* api)
{
    long position = journal.Size();
    journal.Add(api);
    if (stopPosition >= 0 && position >= stopPosition) dead = true;
    if (dead) return;
    if (injections.count(api))
        throw NotSimulated(std::string(api) + ": Windows gives this call no way to fail; a failure cannot be injected");
}

void Machine::EndProcess()
{
    // Service handles first: closing the last one on a service marked for deletion deletes it.
    for (auto& entry : services.handles) {
        if (entry.second.manager) continue;
        ServiceEntry* service = services.Find(entry.second.service);
        if (service && --service->openHandles == 0 && service->markedForDelete) services.Remove(service->name);
    }
    services.handles.clear();
    registry.openKeys.clear();
    kernelObjects.clear();
    descriptors.clear();
    for (auto& block : localBlocks) std::free(block.first);
    localBlocks.clear();
    for (auto& block : heap.blocks) std::free(const_cast<void*>(block.first));
    heap.blocks.clear();
    for (auto& module : modules) module.second.references = 0;
    session.records.clear();
    session.recordsClosed = session.recordsCreated;
    {
        std::lock_guard<std::mutex> hold(threadsLock);
        threads.clear();
    }
    openHandles.clear();
    failPosition = -1;
    stopPosition = -1;
    dead = false;
}

void Machine::Unsimulated(const char* api, const std::string& argument)
{
    throw NotSimulated(std::string(api) + ": not simulated: " + argument);
}

// ---------------------------------------------------------------------------------------
// Modules and handles

Module& Machine::AddModule(const std::u16string& name, bool resident)
{
    Module& module = modules[name];
    module.name = name;
    module.resident = resident;
    return module;
}

void Machine::RemoveExport(const std::u16string& module, const std::string& function)
{
    modules[module].exports.erase(function);
}

void Machine::FailLoad(const std::u16string& module, DWORD error)
{
    Module& m = modules[module];
    m.name = module;
    m.loadFails = true;
    m.loadError = error;
}

int Machine::References(const std::u16string& module) const
{
    auto it = modules.find(module);
    return it == modules.end() ? 0 : it->second.references;
}

int Machine::OpenHandles(const std::string& kind) const
{
    auto it = openHandles.find(kind);
    return it == openHandles.end() ? 0 : it->second;
}

FileObject::~FileObject()
{
    if (fd >= 0) close(fd);
}

HANDLE Machine::AddKernelObject(std::unique_ptr<KernelObject> object)
{
    HANDLE handle = object.get();
    HandleOpened(object->kind);
    kernelObjects[handle] = std::move(object);
    return handle;
}

bool Machine::CloseKernelObject(HANDLE handle)
{
    auto it = kernelObjects.find(handle);
    if (it == kernelObjects.end()) return false;
    HandleClosed(it->second->kind);
    kernelObjects.erase(it);
    return true;
}

void* Machine::AllocateLocal(size_t bytes)
{
    void* block = std::calloc(1, bytes ? bytes : 1);
    if (!block) throw std::bad_alloc();
    localBlocks[block] = bytes;
    HandleOpened("local");
    return block;
}

uintptr_t Machine::NewHandleValue()
{
    const uintptr_t HANDLE_STEP = 4;  // handle values are multiples of four, as Windows makes them
    uintptr_t value = nextHandleValue;
    nextHandleValue += HANDLE_STEP;
    return value;
}

ThreadState& Machine::Thread()
{
    std::lock_guard<std::mutex> hold(threadsLock);
    return threads[std::this_thread::get_id()];
}

// ---------------------------------------------------------------------------------------
// Files

std::string Machine::HostPathOf(const std::u16string& path)
{
    std::string hostPath = HostPath(Redirected(FullPath(path)));
    if (hostPath.empty()) throw std::runtime_error("not a drive path: " + U8(path));
    return hostPath;
}

void Machine::WriteFile(const std::u16string& path, const std::string& bytes)
{
    std::string hostPath = HostPathOf(path);
    MakeHostFolders(hostPath.substr(0, hostPath.rfind('/')));
    struct stat st;
    bool made = lstat(hostPath.c_str(), &st) != 0;
    std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (made) NameMade(hostPath);
}

std::string ReadHostFile(const std::string& hostPath)
{
    std::ifstream in(hostPath, std::ios::binary);
    if (!in) return std::string();
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string Machine::ReadFile(const std::u16string& path) { return ReadHostFile(HostPathOf(path)); }

bool Machine::Exists(const std::u16string& path)
{
    struct stat st;
    return stat(HostPathOf(path).c_str(), &st) == 0;
}

void Machine::MakeFolder(const std::u16string& path) { MakeHostFolders(HostPathOf(path)); }

void Machine::Remove(const std::u16string& path) { RemoveTree(HostPathOf(path)); }

std::vector<std::u16string> Machine::List(const std::u16string& folder)
{
    std::vector<std::u16string> names;
    ++folderScans;
    if (DIR* dir = opendir(HostPathOf(folder).c_str())) {
        while (dirent* e = readdir(dir)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(U16(name));
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end(), NoCaseLess());
    return names;
}

void Machine::Mark(std::set<std::u16string>& marks, const std::u16string& path, bool on)
{
    std::u16string key = Upper(Redirected(FullPath(path)));
    if (on)
        marks.insert(key);
    else
        marks.erase(key);
}

void Machine::SetFileVersion(const std::u16string& path, WORD major, WORD minor, WORD build, WORD revision)
{
    FileVersion& version = fileVersions[Upper(Redirected(FullPath(path)))];
    version.mostSignificant = (static_cast<DWORD>(major) << 16) | minor;
    version.leastSignificant = (static_cast<DWORD>(build) << 16) | revision;
}

void Machine::SetReadOnly(const std::u16string& path, bool on) { Mark(readOnly, path, on); }

bool Machine::IsReadOnly(const std::u16string& path) { return readOnly.count(Upper(Redirected(FullPath(path)))) != 0; }

void Machine::Lock(const std::u16string& path, bool on) { Mark(locked, path, on); }

bool Machine::IsLocked(const std::u16string& path) { return locked.count(Upper(Redirected(FullPath(path)))) != 0; }

// ---------------------------------------------------------------------------------------
// Sharing

namespace {

// The three kinds of access that sharing governs (winnt.h: FILE_READ_DATA and FILE_EXECUTE,
// FILE_WRITE_DATA and FILE_APPEND_DATA, DELETE), and the FILE_SHARE_ flag that admits each.
const DWORD READS = 0x0001 | 0x0020;
const DWORD WRITES = 0x0002 | 0x0004;
const DWORD DELETES = 0x00010000;
const DWORD SHARE_READ = 0x1, SHARE_WRITE = 0x2, SHARE_DELETE = 0x4;

// Whether one open's access is refused by the other's sharing.
bool Refused(DWORD access, DWORD share)
{
    return ((access & READS) && !(share & SHARE_READ)) || ((access & WRITES) && !(share & SHARE_WRITE)) ||
           ((access & DELETES) && !(share & SHARE_DELETE));
}

}  // namespace

bool Machine::SharingViolation(const std::string& hostPath, DWORD access, DWORD share)
{
    struct stat st;
    if (stat(hostPath.c_str(), &st) != 0) return false;
    auto file = std::make_pair(static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino));
    auto conflicts = [&](DWORD openAccess, DWORD openShare) {
        return Refused(access, openShare) || Refused(openAccess, share);
    };
    for (const auto& object : kernelObjects) {
        if (std::string(object.second->kind) != "file") continue;
        const auto* open = static_cast<const FileObject*>(object.second.get());
        struct stat other;
        if (open->linkItself || fstat(open->fd, &other) != 0) continue;
        if (std::make_pair(static_cast<uint64_t>(other.st_dev), static_cast<uint64_t>(other.st_ino)) != file) continue;
        if (conflicts(open->access, open->share)) return true;
    }
    for (const auto& stream : streamShares)
        if (stream.second.file == file && conflicts(stream.second.access, stream.second.share)) return true;
    return false;
}

// ---------------------------------------------------------------------------------------
// Volumes and short names

Volume& Machine::VolumeOf(char16_t driveLetter) { return volumes[Upper(std::u16string(1, driveLetter))[0]]; }

Volume& Machine::VolumeOfHostPath(const std::string& hostPath)
{
    // root + "/C/...": the drive's letter follows the root.
    char16_t letter = hostPath.size() > root.size() + 1 ? static_cast<char16_t>(hostPath[root.size() + 1]) : u'C';
    return VolumeOf(letter);
}

namespace {

// The characters a short name may hold besides letters and digits.
bool IsShortNameCharacter(char16_t c)
{
    if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9')) return true;
    return c < 0x80 && std::strchr("!#$%&'()-@^_`{}~", static_cast<char>(c)) != nullptr;
}

// A part of a valid short name: one to `most` characters a short name holds, in one case.
bool IsShortNamePart(const std::u16string& part, size_t most)
{
    if (part.size() > most) return false;
    bool upper = false, lower = false;
    for (char16_t c : part) {
        if (!IsShortNameCharacter(c)) return false;
        upper = upper || (c >= u'A' && c <= u'Z');
        lower = lower || (c >= u'a' && c <= u'z');
    }
    return !(upper && lower);
}

// Whether a name is a valid 8.3 name as it stands, so that no short name is made for it.
bool IsValidShortName(const std::u16string& name)
{
    const size_t BASE_CHARS = 8, EXTENSION_CHARS = 3;
    if (name == u"." || name == u"..") return true;
    size_t dot = name.find(u'.');
    if (dot == std::u16string::npos) return !name.empty() && IsShortNamePart(name, BASE_CHARS);
    if (dot == 0 || name.find(u'.', dot + 1) != std::u16string::npos || dot + 1 == name.size()) return false;
    return IsShortNamePart(name.substr(0, dot), BASE_CHARS) && IsShortNamePart(name.substr(dot + 1), EXTENSION_CHARS);
}

// The letters a part of a long name gives its short name: upper case, without blanks and
// dots, '_' for a character that a short name cannot hold.
std::u16string ShortNameLetters(const std::u16string& part)
{
    std::u16string letters;
    for (char16_t c : part) {
        if (c == u' ' || c == u'.') continue;
        letters.push_back(IsShortNameCharacter(c) ? Upper(std::u16string(1, c))[0] : u'_');
    }
    return letters;
}

// The short name of a long name with the number `n`: as much of the base as leaves room for
// "~n" in eight characters (six for ~1 to ~9), and three letters of the last extension.
std::u16string NumberedShortName(const std::u16string& name, int n)
{
    const size_t BASE_CHARS = 8, EXTENSION_CHARS = 3;
    size_t dot = name.rfind(u'.');
    bool hasExtension = dot != std::u16string::npos && dot > 0;
    std::u16string base = ShortNameLetters(hasExtension ? name.substr(0, dot) : name);
    std::u16string extension = hasExtension ? ShortNameLetters(name.substr(dot + 1)).substr(0, EXTENSION_CHARS) : u"";
    std::u16string tail = u"~" + U16(std::to_string(n));
    std::u16string shortName = base.substr(0, BASE_CHARS - tail.size()) + tail;
    if (!extension.empty()) shortName += u"." + extension;
    return shortName;
}

bool EntryIsThere(const std::string& hostPath)
{
    struct stat st;
    return lstat(hostPath.c_str(), &st) == 0;
}

}  // namespace

std::map<std::u16string, std::u16string>* Machine::ShortNamesIn(const std::string& hostFolder)
{
    struct stat st;
    if (stat(hostFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return nullptr;
    return &shortNames[std::make_pair(static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino))];
}

std::u16string Machine::ShortNameOf(const std::string& hostFolder, const std::u16string& name)
{
    if (!VolumeOfHostPath(hostFolder).shortNames || IsValidShortName(name)) return std::u16string();
    auto* names = ShortNamesIn(hostFolder);
    if (!names) return std::u16string();
    std::u16string key = Upper(name);
    auto known = names->find(key);
    if (known != names->end()) return known->second;
    // The first number whose short name no file of the folder has, by either of its names.
    std::set<std::u16string> taken;
    for (auto it = names->begin(); it != names->end();) {
        if (!EntryIsThere(hostFolder + "/" + Component(hostFolder, it->first))) {
            it = names->erase(it);  // gone: its short name is free again
            continue;
        }
        taken.insert(Upper(it->second));
        ++it;
    }
    for (int n = 1;; ++n) {
        std::u16string candidate = NumberedShortName(name, n);
        if (taken.count(candidate) || EntryIsThere(hostFolder + "/" + Component(hostFolder, candidate))) continue;
        (*names)[key] = candidate;
        return candidate;
    }
}

void Machine::NameMade(const std::string& hostPath)
{
    size_t slash = hostPath.rfind('/');
    ShortNameOf(hostPath.substr(0, slash), U16(hostPath.substr(slash + 1)));
}

std::string Machine::LongNameOf(const std::string& hostFolder, const std::u16string& shortName)
{
    if (!VolumeOfHostPath(hostFolder).shortNames) return std::string();
    auto* names = ShortNamesIn(hostFolder);
    if (!names) return std::string();
    std::u16string wanted = Upper(shortName);
    for (const auto& entry : *names) {
        if (entry.second != wanted) continue;
        // The index gives the long name as it is on disk.
        auto key = folderKeys.find(hostFolder);
        if (key == folderKeys.end()) return std::string();
        auto index = folderIndexes.find(key->second);
        if (index == folderIndexes.end()) return std::string();
        auto onDisk = index->second.find(entry.first);
        if (onDisk != index->second.end() && EntryIsThere(hostFolder + "/" + onDisk->second)) return onDisk->second;
    }
    return std::string();
}

// ---------------------------------------------------------------------------------------
// Owners and links

namespace {

std::pair<uint64_t, uint64_t> FileKey(const struct stat& st)
{
    return std::make_pair(static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino));
}

}  // namespace

Machine::FileRecord* Machine::RecordAt(const std::string& hostPath, bool create)
{
    struct stat st;
    if (lstat(hostPath.c_str(), &st) != 0) return nullptr;
    auto it = fileRecords.find(FileKey(st));
    if (it != fileRecords.end()) return &it->second;
    if (!create) return nullptr;
    FileRecord& record = fileRecords[FileKey(st)];
    record.pin = open(hostPath.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    return &record;
}

Machine::FileRecord* Machine::RecordOf(int fd, bool create)
{
    struct stat st;
    if (fstat(fd, &st) != 0) return nullptr;
    auto it = fileRecords.find(FileKey(st));
    if (it != fileRecords.end()) return &it->second;
    if (!create) return nullptr;
    FileRecord& record = fileRecords[FileKey(st)];
    record.pin = dup(fd);
    return &record;
}

std::string Machine::OwnerOf(const std::string& hostPath)
{
    const FileRecord* record = RecordAt(hostPath, false);
    return record && !record->owner.empty() ? record->owner : ADMINISTRATORS_SID;
}

std::string Machine::OwnerOfOpenFile(int fd)
{
    const FileRecord* record = RecordOf(fd, false);
    return record && !record->owner.empty() ? record->owner : ADMINISTRATORS_SID;
}

void Machine::SetOwnerOf(const std::string& hostPath, const std::string& sid)
{
    if (FileRecord* record = RecordAt(hostPath, true)) record->owner = sid;
}

void Machine::SetOwnerOfOpenFile(int fd, const std::string& sid)
{
    if (FileRecord* record = RecordOf(fd, true)) record->owner = sid;
}

bool Machine::IsFolderLink(const std::string& hostPath)
{
    struct stat st;
    if (lstat(hostPath.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
    const FileRecord* record = RecordAt(hostPath, false);
    if (record) return record->folderLink;
    return stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void Machine::SetOwner(const std::u16string& path, const std::string& sid)
{
    if (SidBytes(sid).empty()) throw std::runtime_error("not a security identifier: " + sid);
    FileRecord* record = RecordAt(HostPathOf(path), true);
    if (!record) throw std::runtime_error("no file to own: " + U8(path));
    record->owner = sid;
}

std::string Machine::Owner(const std::u16string& path) { return OwnerOf(HostPathOf(path)); }

void Machine::MakeSymbolicLink(const std::u16string& link, const std::u16string& target, bool folder)
{
    std::string linkPath = HostPathOf(link);
    MakeHostFolders(linkPath.substr(0, linkPath.rfind('/')));
    if (symlink(HostPathOf(target).c_str(), linkPath.c_str()) != 0)
        throw std::runtime_error("cannot make the link " + U8(link));
    RecordAt(linkPath, true)->folderLink = folder;
}

void Machine::MakeJunction(const std::u16string& link, const std::u16string& folder)
{
    // Windows resolves a junction and a folder's symbolic link alike; both are folder
    // reparse points.
    MakeSymbolicLink(link, folder, true);
}

void Machine::MakeHardLink(const std::u16string& link, const std::u16string& existing)
{
    std::string linkPath = HostPathOf(link);
    if (::link(HostPathOf(existing).c_str(), linkPath.c_str()) != 0)
        throw std::runtime_error("cannot make the hard link " + U8(link));
}

// ---------------------------------------------------------------------------------------
// Paths

namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }
bool IsDriveLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

}  // namespace

std::u16string Machine::FullPath(const std::u16string& path) const
{
    const Machine& m = *this;
    if (path.empty()) return std::u16string();
    std::u16string drive;  // "C:"
    std::u16string rest;
    if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == u':') {
        drive = path.substr(0, 2);
        drive[0] = Upper(drive.substr(0, 1))[0];
        rest = path.substr(2);
        if (rest.empty() || !IsSeparator(rest[0])) {
            // Drive-relative: against the current directory when it is on that drive.
            if (Upper(m.currentDirectory.substr(0, 2)) == drive)
                rest = m.currentDirectory.substr(2) + u"\\" + rest;
            else
                rest = u"\\" + rest;
        }
    } else if (IsSeparator(path[0])) {
        if (path.size() > 1 && IsSeparator(path[1])) return std::u16string();  // UNC: not here
        drive = m.currentDirectory.substr(0, 2);
        rest = path;
    } else {
        drive = m.currentDirectory.substr(0, 2);
        rest = m.currentDirectory.substr(2) + u"\\" + path;
    }
    bool trailing = IsSeparator(rest.back());
    std::vector<std::u16string> parts;
    std::u16string part;
    auto flush = [&]() {
        if (part == u"..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != u".") {
            while (!part.empty() && (part.back() == u'.' || part.back() == u' ')) part.pop_back();
            if (!part.empty()) parts.push_back(part);
        }
        part.clear();
    };
    for (char16_t c : rest) {
        if (IsSeparator(c))
            flush();
        else
            part.push_back(c);
    }
    flush();
    std::u16string full = drive + u"\\";
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) full += u"\\";
        full += parts[i];
    }
    if (trailing && !parts.empty()) full += u"\\";
    return full;
}

std::u16string Machine::Redirected(const std::u16string& fullPath)
{
    const Machine& m = *this;
    if (!UnderWow64() || RedirectionDisabled()) return fullPath;
    std::u16string upper = Upper(fullPath);
    std::u16string system = Upper(m.systemDirectory);
    if (upper.compare(0, system.size(), system) != 0) return fullPath;
    if (upper.size() > system.size() && upper[system.size()] != u'\\') return fullPath;
    // Folders that WOW64 leaves alone.
    static const char16_t* const exempt[] = {u"\\CATROOT",      u"\\CATROOT2", u"\\DRIVERSTORE",
                                             u"\\DRIVERS\\ETC", u"\\LOGFILES", u"\\SPOOL"};
    std::u16string tail = upper.substr(system.size());
    for (const char16_t* e : exempt) {
        std::u16string x(e);
        if (tail.compare(0, x.size(), x) == 0 && (tail.size() == x.size() || tail[x.size()] == u'\\')) return fullPath;
    }
    return m.Wow64Directory() + fullPath.substr(system.size());
}

std::string Machine::Component(const std::string& folder, const std::u16string& name)
{
    struct stat st;
    // The folder's identity, asked of the host once per folder path: a folder that goes and
    // comes back under the same path keeps its index, which stays right since every name
    // made in it is looked up here first and every hit is checked on disk.
    auto known = folderKeys.find(folder);
    if (known == folderKeys.end()) {
        if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return U8(name);
        auto identity = std::make_pair(static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino));
        known = folderKeys.emplace(folder, identity).first;
    }
    const auto& key = known->second;
    auto found = folderIndexes.find(key);
    if (found == folderIndexes.end()) {
        auto& names = folderIndexes[key];
        ++folderScans;
        if (DIR* dir = opendir(folder.c_str())) {
            while (dirent* e = readdir(dir)) {
                std::string entry = e->d_name;
                if (entry != "." && entry != "..") names.emplace(Upper(U16(entry)), entry);
            }
            closedir(dir);
        }
        found = folderIndexes.find(key);
    }
    auto& names = found->second;
    std::u16string upper = Upper(name);
    auto it = names.find(upper);
    if (it != names.end()) {
        if (lstat((folder + "/" + it->second).c_str(), &st) == 0) return it->second;
        names.erase(it);  // gone since
    }
    // A short name stands for its long one.
    std::string longName = LongNameOf(folder, name);
    if (!longName.empty()) return longName;
    // Not there: whoever asked may be about to create it under this name.
    std::string given = U8(name);
    names.emplace(upper, given);
    return given;
}

std::string Machine::HostPath(const std::u16string& fullPath)
{
    if (fullPath.size() < 3 || !IsDriveLetter(fullPath[0]) || fullPath[1] != u':') return std::string();
    std::string hostPath = root + "/" + U8(Upper(fullPath.substr(0, 1)));
    std::u16string part;
    auto flush = [&]() {
        if (part.empty()) return;
        hostPath += "/" + Component(hostPath, part);
        part.clear();
    };
    for (size_t i = 3; i < fullPath.size(); ++i) {
        if (fullPath[i] == u'\\')
            flush();
        else
            part.push_back(fullPath[i]);
    }
    flush();
    return hostPath;
}

}  // namespace host
