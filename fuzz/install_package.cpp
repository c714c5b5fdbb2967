// The install (InstallPackage) with any package folder and any files found in it.
//
// Input: a flags byte (1: 64-bit Windows; 2: no folder is passed, the package lies next to
// the program, whose name follows the folder; 4: a present device of the class; 8: the
// folder is passed without its trailing backslash), a byte giving 1 to 4 folder names, the
// names and the program's name (each as Input::Name reads it), then the package's entries (see Plant: suffix ".inf",
// companion ".SYS").
//
// Oracles: from the drivers folders only entries named like a "*.SYS" entry of the package
// folder (the folder passed, cut behind its last backslash, or the program's folder) are
// deleted; from the store only "oem*.inf" files of a class that an INF of the package
// folder has, and their ".PNF" companions; nothing else is deleted; nothing but the staged
// copy in the store and the log is created; no handle, library or block is left.
//
// Two findings of this target are mended and kept in fuzz/repro/install_package/: a passed
// folder of exactly 255 characters holding ".inf" (the append of "*.SYS" wrote past the
// 260-character pattern buffer), and a program path of 260 characters or more (its truncated
// name was taken for a folder).
#include <cstdlib>
#include <string>
#include <vector>

#include "devices.h"
#include "harness.h"
#include "installer.h"

namespace {

const size_t MOST_ENTRIES = 10;
const size_t LONGEST_NAME = 260;
const size_t MOST_FOLDER_NAMES = 4;
enum Flags { WINDOWS_64 = 1, NO_FOLDER = 2, DEVICE_PRESENT = 4, NO_TRAILING_BACKSLASH = 8 };

const std::u16string InfSuffix = u".inf";
const std::u16string SysSuffix = u".SYS";
const std::u16string StorePrefix = u"oem";
const std::u16string Companion = u".PNF";

std::u16string StemOf(const std::u16string& name) { return name.substr(0, name.rfind(u'.')); }

// The class of an INF that this target wrote, if any.
bool ClassOf(const std::string& bytes, GUID* classGuid)
{
    for (const GUID& candidate : {DeviceClass, OtherClass})
        if (bytes == InfOfClass(candidate)) {
            *classGuid = candidate;
            return true;
        }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input input(data, size);
    host::Machine& m = FreshMachine();
    uint8_t flags = input.Byte();
    size_t folderNames = 1 + input.Byte() % MOST_FOLDER_NAMES;
    std::u16string folder = u"C:\\";
    std::u16string parent = folder;
    for (size_t i = 0; i < folderNames; ++i) {
        std::u16string name = FileName(input.Name(LONGEST_NAME));
        parent = folder;
        folder += (name.empty() ? u"p" : name) + u"\\";
    }
    std::u16string program = FileName(input.Name(LONGEST_NAME));
    if (program.empty()) program = u"setup.exe";

    m.windows64 = (flags & WINDOWS_64) != 0;
    if (m.windows64) m.MakeFolder(m.Wow64Directory() + u"\\drivers");
    try {
        m.MakeFolder(folder);
    } catch (...) {
        return 0;
    }
    if (!m.Exists(folder)) return 0;  // longer than the host's file system takes
    std::vector<PlantedEntry> entries = Plant(input, folder, MOST_ENTRIES, u"", InfSuffix, SysSuffix);

    // The folder above holds a package of its own, which must not be taken for this one.
    if (parent != folder) {
        m.WriteFile(parent + u"parent.inf", InfOfClass(DeviceClass));
        m.WriteFile(parent + u"parent.SYS", "SYS");
    }
    // The store, and copies of the binaries in the drivers folders and beside them.
    std::u16string store = m.windowsDirectory + u"\\inf\\";
    m.WriteFile(store + u"oem5.inf", InfOfClass(DeviceClass));
    m.WriteFile(store + u"oem5.PNF", "PNF");
    m.WriteFile(store + u"oem6.inf", InfOfClass(OtherClass));
    std::vector<std::u16string> driversFolders = {m.systemDirectory + u"\\drivers\\"};
    if (m.windows64) driversFolders.push_back(m.Wow64Directory() + u"\\drivers\\");
    for (const std::u16string& drivers : driversFolders) {
        for (const PlantedEntry& entry : entries)
            if (MatchesAround(entry.name, u"", SysSuffix)) m.WriteFile(drivers + entry.name, "SYS");
        m.WriteFile(drivers + u"parent.SYS", "SYS");
        m.WriteFile(drivers + u"keep.SYS", "SYS");
    }
    m.WriteFile(m.systemDirectory + u"\\keep.SYS", "SYS");
    if (flags & DEVICE_PRESENT)
        host::CurrentMachine().devices.Add(DeviceClass).HardwareIds({u"USB\\VID_1234&PID_0001"});

    std::u16string passed = folder;
    if (flags & NO_TRAILING_BACKSLASH) passed.pop_back();
    if (flags & NO_FOLDER) m.moduleFileName = folder + program;

    // What the install may take: the package folder's binaries' names and its INFs' classes.
    std::u16string packageFolder = (flags & NO_FOLDER) ? folder : passed.substr(0, passed.rfind(u'\\') + 1);
    std::vector<std::string> sysNames;
    std::vector<GUID> classes;
    for (const std::u16string& name : m.List(packageFolder)) {
        if (MatchesAround(name, u"", SysSuffix)) sysNames.push_back(host::U8(name));
        GUID classGuid;
        if (MatchesAround(name, u"", InfSuffix) && ClassOf(m.ReadFile(packageFolder + name), &classGuid))
            classes.push_back(classGuid);
    }
    std::string storeEntry = EntryOf(store);
    std::vector<std::string> driversEntries;
    for (const std::u16string& drivers : driversFolders) driversEntries.push_back(EntryOf(drivers));
    std::string logEntry = EntryOf(u"C:\\Temp") + "/drvmate.log";
    std::vector<std::string> storeMayGo;
    for (const std::u16string& name : m.List(store)) {
        GUID classGuid;
        if (!MatchesAround(name, StorePrefix, InfSuffix) || !ClassOf(m.ReadFile(store + name), &classGuid)) continue;
        for (const GUID& packageClass : classes)
            if (IsEqualGUID(packageClass, classGuid)) {
                storeMayGo.push_back(host::U8(name));
                storeMayGo.push_back(host::U8(StemOf(name) + Companion));
            }
    }
    std::set<std::string> before = MachineEntries();

    DeviceDriverInstaller installer;
    installer.InstallPackage(W("{F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}"),
                             (flags & NO_FOLDER) ? nullptr : passed.c_str());

    std::set<std::string> after = MachineEntries();
    for (const std::string& entry : after)
        EXPECT_ORACLE(before.count(entry) || entry == logEntry || FolderOf(entry) == storeEntry,
                      "the install made " + entry);
    for (const std::string& entry : before) {
        if (after.count(entry)) continue;
        bool allowed = false;
        for (const std::string& drivers : driversEntries)
            if (IsWithin(entry, drivers) && entry != drivers) {
                std::string top = entry;
                while (FolderOf(top) != drivers) top = FolderOf(top);
                for (const std::string& name : sysNames) allowed = allowed || SameName(NameOf(top), name);
                EXPECT_ORACLE(allowed, "deleted from a drivers folder but not named by the package: " + entry);
            }
        if (IsWithin(entry, storeEntry) && entry != storeEntry) {
            std::string top = entry;
            while (FolderOf(top) != storeEntry) top = FolderOf(top);
            for (const std::string& name : storeMayGo) allowed = allowed || SameName(NameOf(top), name);
            EXPECT_ORACLE(allowed, "deleted from the store but not of the package's class: " + entry);
        }
        EXPECT_ORACLE(allowed, "deleted outside the store and the drivers folders: " + entry);
    }
    ExpectNothingHeld("InstallPackage");
    return 0;
}
