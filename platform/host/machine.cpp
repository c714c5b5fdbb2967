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
#include <memory>
#include <sstream>
#include <stdexcept>

#include "kernel32.h"

namespace host {

// ---------------------------------------------------------------------------------------
// Text

std::u16string U16(const std::string& text)
{
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        uint32_t cp;
        size_t extra;
        if (c < 0x80) { cp = c; extra = 0; }
        else if ((c >> 5) == 6) { cp = c & 0x1F; extra = 1; }
        else if ((c >> 4) == 14) { cp = c & 0x0F; extra = 2; }
        else { cp = c & 0x07; extra = 3; }
        ++i;
        for (size_t k = 0; k < extra && i < text.size(); ++k, ++i)
            cp = (cp << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string U8(const std::u16string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::string U8(const WCHAR* text) { return text ? U8(std::u16string(text)) : std::string(); }

std::u16string Upper(const std::u16string& text)
{
    std::u16string out(text);
    for (auto& c : out)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    return out;
}

bool NoCaseLess::operator()(const std::u16string& a, const std::u16string& b) const
{
    return Upper(a) < Upper(b);
}

// ---------------------------------------------------------------------------------------
// The machine

namespace {

std::unique_ptr<Machine>& Slot()
{
    static std::unique_ptr<Machine> machine;
    return machine;
}

std::vector<std::function<void(Machine&)>>& ResetHooks()
{
    static std::vector<std::function<void(Machine&)>> hooks;
    return hooks;
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

struct RootRemover {
    std::vector<std::string> roots;
    ~RootRemover()
    {
        if (std::getenv("WINHOST_KEEP")) return;
        for (auto& r : roots) RemoveTree(r);
    }
};

RootRemover& Roots()
{
    static RootRemover remover;
    return remover;
}

void MakeHostFolders(const std::string& hostPath)
{
    std::string partial;
    std::stringstream in(hostPath);
    std::string part;
    while (std::getline(in, part, '/')) {
        if (part.empty()) { partial = "/"; continue; }
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
    if (Slot()) {
        if (!std::getenv("WINHOST_KEEP")) RemoveTree(Slot()->root);
    }
    Slot().reset(new Machine());
    Machine& m = *Slot();
    m.root = MakeRoot();
    Roots().roots.push_back(m.root);
    MakeHostFolders(m.root + "/C");
    m.environment[u"TEMP"] = u"C:\\Temp";
    m.environment[u"SystemRoot"] = u"C:\\Windows";
    m.MakeFolder(u"C:\\Temp");
    m.MakeFolder(m.systemDirectory + u"\\drivers");
    m.MakeFolder(m.windowsDirectory + u"\\inf");

    Module& kernel32 = m.AddModule(u"kernel32.dll", true);
    kernel32.exports["IsWow64Process"] = reinterpret_cast<FARPROC>(&IsWow64Process);
    kernel32.exports["Wow64DisableWow64FsRedirection"] =
        reinterpret_cast<FARPROC>(&Wow64DisableWow64FsRedirection);
    kernel32.exports["Wow64RevertWow64FsRedirection"] =
        reinterpret_cast<FARPROC>(&Wow64RevertWow64FsRedirection);

    for (auto& hook : ResetHooks()) hook(m);
    return m;
}

void Machine::OnReset(std::function<void(Machine&)> reset)
{
    ResetHooks().push_back(std::move(reset));
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

void Machine::Fail(const std::string& api, DWORD code, int times)
{
    injections[api] = Injection{code, times};
}

int Machine::Calls(const std::string& api) const
{
    auto it = calls.find(api);
    return it == calls.end() ? 0 : it->second;
}

bool Machine::Enter(const std::string& api, DWORD* code)
{
    ++calls[api];
    auto it = injections.find(api);
    if (it == injections.end()) return false;
    if (code) *code = it->second.code;
    if (it->second.remaining > 0 && --it->second.remaining == 0) injections.erase(it);
    return true;
}

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

void HandleOpened(const std::string& kind) { ++CurrentMachine().openHandles[kind]; }
void HandleClosed(const std::string& kind) { --CurrentMachine().openHandles[kind]; }

FileObject::~FileObject()
{
    if (fd >= 0) close(fd);
}

HANDLE AddKernelObject(std::unique_ptr<KernelObject> object)
{
    HANDLE handle = object.get();
    HandleOpened(object->kind);
    CurrentMachine().kernelObjects[handle] = std::move(object);
    return handle;
}

bool CloseKernelObject(HANDLE handle)
{
    auto& objects = CurrentMachine().kernelObjects;
    auto it = objects.find(handle);
    if (it == objects.end()) return false;
    HandleClosed(it->second->kind);
    objects.erase(it);
    return true;
}

void* AllocateLocal(size_t bytes)
{
    void* block = std::calloc(1, bytes ? bytes : 1);
    if (!block) throw std::bad_alloc();
    CurrentMachine().localBlocks[block] = bytes;
    HandleOpened("local");
    return block;
}

Machine::~Machine()
{
    // What a test left open goes with the machine.
    for (auto& block : localBlocks) std::free(block.first);
    for (auto& record : fileRecords)
        if (record.second.pin >= 0) close(record.second.pin);
}

// ---------------------------------------------------------------------------------------
// Files

namespace {

std::string HostPathOf(const Machine& m, const std::u16string& path)
{
    std::u16string full = Redirected(FullPath(path));
    std::string hostPath = HostPath(full);
    if (hostPath.empty()) throw std::runtime_error("not a drive path: " + U8(path));
    (void)m;
    return hostPath;
}

}  // namespace

void Machine::WriteFile(const std::u16string& path, const std::string& bytes)
{
    std::string hostPath = HostPathOf(*this, path);
    MakeHostFolders(hostPath.substr(0, hostPath.rfind('/')));
    std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Machine::ReadFile(const std::u16string& path) const
{
    std::ifstream in(HostPathOf(*this, path), std::ios::binary);
    if (!in) return std::string();
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

bool Machine::Exists(const std::u16string& path) const
{
    struct stat st;
    return stat(HostPathOf(*this, path).c_str(), &st) == 0;
}

void Machine::MakeFolder(const std::u16string& path) { MakeHostFolders(HostPathOf(*this, path)); }

void Machine::Remove(const std::u16string& path) { RemoveTree(HostPathOf(*this, path)); }

std::vector<std::u16string> Machine::List(const std::u16string& folder) const
{
    std::vector<std::u16string> names;
    if (DIR* dir = opendir(HostPathOf(*this, folder).c_str())) {
        while (dirent* e = readdir(dir)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(U16(name));
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end(), NoCaseLess());
    return names;
}

void Machine::SetReadOnly(const std::u16string& path, bool on)
{
    std::u16string key = Upper(Redirected(FullPath(path)));
    if (on) readOnly.insert(key); else readOnly.erase(key);
}

bool Machine::IsReadOnly(const std::u16string& path) const
{
    return readOnly.count(Upper(Redirected(FullPath(path)))) != 0;
}

void Machine::Lock(const std::u16string& path, bool on)
{
    std::u16string key = Upper(Redirected(FullPath(path)));
    if (on) locked.insert(key); else locked.erase(key);
}

bool Machine::IsLocked(const std::u16string& path) const
{
    return locked.count(Upper(Redirected(FullPath(path)))) != 0;
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

std::string OwnerOf(const std::string& hostPath)
{
    const Machine::FileRecord* record = CurrentMachine().RecordAt(hostPath, false);
    return record && !record->owner.empty() ? record->owner : ADMINISTRATORS_SID;
}

std::string OwnerOfOpenFile(int fd)
{
    const Machine::FileRecord* record = CurrentMachine().RecordOf(fd, false);
    return record && !record->owner.empty() ? record->owner : ADMINISTRATORS_SID;
}

void SetOwnerOf(const std::string& hostPath, const std::string& sid)
{
    if (Machine::FileRecord* record = CurrentMachine().RecordAt(hostPath, true)) record->owner = sid;
}

void SetOwnerOfOpenFile(int fd, const std::string& sid)
{
    if (Machine::FileRecord* record = CurrentMachine().RecordOf(fd, true)) record->owner = sid;
}

bool IsFolderLink(const std::string& hostPath)
{
    struct stat st;
    if (lstat(hostPath.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
    const Machine::FileRecord* record = CurrentMachine().RecordAt(hostPath, false);
    if (record) return record->folderLink;
    return stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void Machine::SetOwner(const std::u16string& path, const std::string& sid)
{
    if (SidBytes(sid).empty()) throw std::runtime_error("not a security identifier: " + sid);
    FileRecord* record = RecordAt(HostPathOf(*this, path), true);
    if (!record) throw std::runtime_error("no file to own: " + U8(path));
    record->owner = sid;
}

std::string Machine::Owner(const std::u16string& path) const { return OwnerOf(HostPathOf(*this, path)); }

void Machine::MakeSymbolicLink(const std::u16string& link, const std::u16string& target, bool folder)
{
    std::string linkPath = HostPathOf(*this, link);
    MakeHostFolders(linkPath.substr(0, linkPath.rfind('/')));
    if (symlink(HostPathOf(*this, target).c_str(), linkPath.c_str()) != 0)
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
    std::string linkPath = HostPathOf(*this, link);
    if (::link(HostPathOf(*this, existing).c_str(), linkPath.c_str()) != 0)
        throw std::runtime_error("cannot make the hard link " + U8(link));
}

// ---------------------------------------------------------------------------------------
// Security identifiers

namespace {

const BYTE SID_REVISION_1 = 1;
const size_t SID_HEADER_BYTES = 8;  // revision, count, six bytes of authority
const size_t MAX_SUB_AUTHORITIES = 15;

}  // namespace

std::vector<BYTE> SidBytes(const std::string& text)
{
    // "S-1-<authority>-<sub>-<sub>..."
    if (text.compare(0, 4, "S-1-") != 0) return {};
    std::vector<uint64_t> parts;
    std::stringstream in(text.substr(4));
    std::string part;
    while (std::getline(in, part, '-')) {
        if (part.empty() || part.find_first_not_of("0123456789") != std::string::npos || part.size() > 12)
            return {};
        parts.push_back(std::stoull(part));
    }
    if (parts.empty() || parts.size() - 1 > MAX_SUB_AUTHORITIES) return {};
    std::vector<BYTE> sid(SID_HEADER_BYTES + 4 * (parts.size() - 1));
    sid[0] = SID_REVISION_1;
    sid[1] = static_cast<BYTE>(parts.size() - 1);
    for (int i = 0; i < 6; ++i) sid[2 + i] = static_cast<BYTE>(parts[0] >> (8 * (5 - i)));  // big-endian
    for (size_t i = 1; i < parts.size(); ++i) {
        if (parts[i] > 0xFFFFFFFFu) return {};
        uint32_t value = static_cast<uint32_t>(parts[i]);
        std::memcpy(&sid[SID_HEADER_BYTES + 4 * (i - 1)], &value, 4);  // little-endian, as on x86
    }
    return sid;
}

size_t SidLength(const void* sid)
{
    if (!sid) return 0;
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    if (bytes[0] != SID_REVISION_1 || bytes[1] > MAX_SUB_AUTHORITIES) return 0;
    return SID_HEADER_BYTES + 4 * bytes[1];
}

std::string SidText(const void* sid)
{
    size_t length = SidLength(sid);
    if (!length) return std::string();
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    uint64_t authority = 0;
    for (int i = 0; i < 6; ++i) authority = (authority << 8) | bytes[2 + i];
    std::string text = "S-1-" + std::to_string(authority);
    for (size_t i = 0; i < bytes[1]; ++i) {
        uint32_t value;
        std::memcpy(&value, bytes + SID_HEADER_BYTES + 4 * i, 4);
        text += "-" + std::to_string(value);
    }
    return text;
}

// ---------------------------------------------------------------------------------------
// Paths

namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }
bool IsDriveLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

}  // namespace

std::u16string FullPath(const std::u16string& path)
{
    const Machine& m = CurrentMachine();
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
        if (IsSeparator(c)) flush(); else part.push_back(c);
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

bool Machine::RedirectionDisabled() const
{
    extern bool ThreadRedirectionDisabled();
    return ThreadRedirectionDisabled();
}

std::u16string Redirected(const std::u16string& fullPath)
{
    const Machine& m = CurrentMachine();
    if (!m.UnderWow64() || m.RedirectionDisabled()) return fullPath;
    std::u16string upper = Upper(fullPath);
    std::u16string system = Upper(m.systemDirectory);
    if (upper.compare(0, system.size(), system) != 0) return fullPath;
    if (upper.size() > system.size() && upper[system.size()] != u'\\') return fullPath;
    // Folders that WOW64 leaves alone.
    static const char16_t* const exempt[] = {u"\\CATROOT", u"\\CATROOT2", u"\\DRIVERSTORE",
                                             u"\\DRIVERS\\ETC", u"\\LOGFILES", u"\\SPOOL"};
    std::u16string tail = upper.substr(system.size());
    for (const char16_t* e : exempt) {
        std::u16string x(e);
        if (tail.compare(0, x.size(), x) == 0 && (tail.size() == x.size() || tail[x.size()] == u'\\'))
            return fullPath;
    }
    return m.Wow64Directory() + fullPath.substr(system.size());
}

std::string HostPath(const std::u16string& fullPath)
{
    const Machine& m = CurrentMachine();
    if (fullPath.size() < 3 || !IsDriveLetter(fullPath[0]) || fullPath[1] != u':') return std::string();
    std::string hostPath = m.root + "/" + U8(Upper(fullPath.substr(0, 1)));
    std::u16string part;
    auto flush = [&]() {
        if (part.empty()) return;
        std::string name = U8(part);
        std::string match = name;
        if (DIR* dir = opendir(hostPath.c_str())) {
            std::u16string want = Upper(part);
            while (dirent* e = readdir(dir)) {
                if (Upper(U16(e->d_name)) == want) { match = e->d_name; break; }
            }
            closedir(dir);
        }
        hostPath += "/" + match;
        part.clear();
    };
    for (size_t i = 3; i < fullPath.size(); ++i) {
        if (fullPath[i] == u'\\') flush(); else part.push_back(fullPath[i]);
    }
    flush();
    return hostPath;
}

}  // namespace host
