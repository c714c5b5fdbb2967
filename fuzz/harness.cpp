#include "harness.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "heap.h"
#include "log.h"

namespace {

const size_t LONGEST_NAME_CHARS = 255;
const size_t LONGEST_HOST_NAME_BYTES = 255;
const WCHAR FIRST_PRINTABLE = 0x20;

bool IsReserved(WCHAR c)
{
    if (c < FIRST_PRINTABLE) return true;
    for (const char* r = "\\/:*?\"<>|"; *r; ++r)
        if (c == static_cast<WCHAR>(*r)) return true;
    return false;
}

void Walk(const std::string& hostPath, const std::string& entry, std::set<std::string>& entries)
{
    DIR* dir = opendir(hostPath.c_str());
    if (!dir) return;
    while (dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        std::string child = entry.empty() ? name : entry + "/" + name;
        entries.insert(child);
        struct stat st;
        if (lstat((hostPath + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            Walk(hostPath + "/" + name, child, entries);
    }
    closedir(dir);
}

char Fold(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string GuidText(const GUID& g)
{
    char text[64];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

}  // namespace

uint8_t Input::Byte() { return used_ < size_ ? data_[used_++] : 0; }

WCHAR Input::Unit()
{
    WCHAR low = Byte();
    return static_cast<WCHAR>(low | (Byte() << 8));
}

std::u16string Input::Text(size_t limit)
{
    std::u16string text;
    while (!AtEnd() && text.size() < limit) {
        WCHAR c = Unit();
        if (c == 0) break;
        text.push_back(c);
    }
    return text;
}

std::u16string Input::Name(size_t limit)
{
    size_t count = Byte();
    if (count == 0) return Text(limit);
    WCHAR unit = Unit();
    // Like a text, a name ends at a zero unit.
    return unit ? std::u16string(count < limit ? count : limit, unit) : std::u16string();
}

std::string Input::Bytes(size_t limit)
{
    size_t length = Byte();
    length |= static_cast<size_t>(Byte()) << 8;
    if (length > limit) length = limit;
    std::string bytes;
    while (!AtEnd() && bytes.size() < length) bytes.push_back(static_cast<char>(Byte()));
    return bytes;
}

void Broken(const std::string& what)
{
    std::fprintf(stderr, "oracle broken: %s\n", what.c_str());
    std::abort();
}

std::u16string FileName(const std::u16string& text)
{
    std::u16string name;
    for (WCHAR c : text)
        if (!IsReserved(c)) name.push_back(c);
    if (name.size() > LONGEST_NAME_CHARS) name.resize(LONGEST_NAME_CHARS);
    while (!name.empty() && host::U8(name).size() > LONGEST_HOST_NAME_BYTES) name.pop_back();
    while (!name.empty() && (name.back() == u'.' || name.back() == u' ')) name.pop_back();
    return name;
}

std::set<std::string> MachineEntries()
{
    std::set<std::string> entries;
    Walk(host::CurrentMachine().root, "", entries);
    return entries;
}

std::string EntryOf(const std::u16string& windowsPath)
{
    host::Machine& machine = host::CurrentMachine();
    std::string hostPath = machine.HostPath(machine.FullPath(windowsPath));
    const std::string& root = host::CurrentMachine().root;
    if (hostPath.compare(0, root.size() + 1, root + "/") != 0) return std::string();
    return hostPath.substr(root.size() + 1);
}

bool IsFolderEntry(const std::string& entry)
{
    struct stat st;
    return stat((host::CurrentMachine().root + "/" + entry).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsWithin(const std::string& entry, const std::string& folder)
{
    return entry == folder || (entry.size() > folder.size() && entry.compare(0, folder.size(), folder) == 0 &&
                               entry[folder.size()] == '/');
}

std::string NameOf(const std::string& entry)
{
    size_t slash = entry.rfind('/');
    return slash == std::string::npos ? entry : entry.substr(slash + 1);
}

std::string FolderOf(const std::string& entry)
{
    size_t slash = entry.rfind('/');
    return slash == std::string::npos ? std::string() : entry.substr(0, slash);
}

bool SameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Fold(a[i]) != Fold(b[i])) return false;
    return true;
}

const GUID DeviceClass = {0xF72FE0D4, 0xCBCB, 0x407D, {0x88, 0x14, 0x9E, 0xD6, 0x73, 0xD0, 0xDD, 0x6B}};
const GUID OtherClass = {0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

std::string InfOfClass(const GUID& classGuid)
{
    return "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Fuzz\r\nClassGUID=" + GuidText(classGuid) + "\r\n";
}

host::Machine& FreshMachine()
{
    host::Machine& m = host::ResetMachine();
    ForgetLogPath();
    return m;
}

void ExpectNothingHeld(const char* after)
{
    host::Machine& m = host::CurrentMachine();
    std::string where = std::string("after ") + after;
    for (const auto& kind : m.openHandles) EXPECT_ORACLE(kind.second == 0, where + ": open " + kind.first + " handles");
    for (const auto& module : m.modules)
        EXPECT_ORACLE(module.second.references == 0, where + ": " + host::U8(module.first) + " still loaded");
    EXPECT_ORACLE(host::CurrentMachine().heap.LiveBlocks() == 0, where + ": heap blocks not released");
    EXPECT_ORACLE(host::CurrentMachine().heap.badFrees == 0, where + ": a heap block released that was not live");
}

bool MatchesAround(const std::u16string& name, const std::u16string& prefix, const std::u16string& suffix)
{
    if (name.size() < prefix.size() + suffix.size()) return false;
    std::u16string upper = host::Upper(name);
    return upper.compare(0, prefix.size(), host::Upper(prefix)) == 0 &&
           upper.compare(upper.size() - suffix.size(), suffix.size(), host::Upper(suffix)) == 0;
}

std::vector<PlantedEntry> Plant(Input& input, const std::u16string& folder, size_t most, const std::u16string& prefix,
                                const std::u16string& suffix, const std::u16string& companion)
{
    const size_t LONGEST_NAME_INPUT = 300;
    enum Kind { WHAT = 3, PREFIX = 4, SUFFIX = 8, COMPANION = 16 };
    host::Machine& m = host::CurrentMachine();
    std::vector<PlantedEntry> planted;
    std::set<std::u16string> taken;
    for (const std::u16string& name : m.List(folder)) taken.insert(host::Upper(name));
    auto plantOne = [&](const std::u16string& name, Planted what) {
        if (name.empty() || name == u"." || name == u".." || taken.count(host::Upper(name))) return;
        std::u16string path = folder + name;
        try {
            switch (what) {
            case Planted::DEVICE_CLASS_INF: m.WriteFile(path, InfOfClass(DeviceClass)); break;
            case Planted::OTHER_CLASS_INF: m.WriteFile(path, InfOfClass(OtherClass)); break;
            case Planted::OTHER_FILE: m.WriteFile(path, "not an INF"); break;
            case Planted::FOLDER: m.MakeFolder(path); break;
            }
        } catch (...) {
            return;  // not a path this machine can hold
        }
        if (!m.Exists(path)) return;
        taken.insert(host::Upper(name));
        planted.push_back(PlantedEntry{name, what});
    };
    while (!input.AtEnd() && planted.size() < most) {
        uint8_t kind = input.Byte();
        std::u16string text = input.Name(LONGEST_NAME_INPUT);
        Planted what = static_cast<Planted>(kind & WHAT);
        std::u16string stem = ((kind & PREFIX) ? prefix : u"") + text;
        plantOne(FileName(stem + ((kind & SUFFIX) ? suffix : u"")), what);
        if (kind & COMPANION) plantOne(FileName(stem + companion), Planted::OTHER_FILE);
    }
    return planted;
}
