// The store sweep (DeleteDriverPackages) over any files in the driver store.
//
// Input: a flags byte (1: 64-bit Windows; 2: the class comes from an INF path, else from a
// GUID text; 4: the GUID text is read from the input instead of the device class's; 8:
// Windows lives in a folder named from the input), the GUID text (a UTF-16LE text that ends
// at a zero unit), the Windows folder's name (Input::Name), then the store's entries (see Plant:
// prefix "oem", suffix ".inf", companion ".PNF").
//
// Oracles: nothing outside the store folder is deleted or created (but the log); in the
// store, only "oem*.inf" files of the class and their ".PNF" companions go; every such INF
// whose path fits in 259 characters goes; the result is 0 unless the class is unknown or the
// Windows folder leaves no room for the store's search pattern; no handle, library or block
// is left.
#include <string>
#include <vector>

#include "harness.h"
#include "installer.h"
#include "ole32.h"

namespace {

const size_t MOST_ENTRIES = 12;
const size_t LONGEST_FOLDER_NAME = 260;
const size_t LONGEST_GUID_TEXT = 60;
enum Flags { WINDOWS_64 = 1, CLASS_FROM_INF = 2, FUZZED_GUID_TEXT = 4, WINDOWS_ELSEWHERE = 8 };

const WCHAR PackageInf[] = W("C:\\Program Files\\Tesmar\\drivers\\tesmar.inf");
const std::u16string StorePrefix = u"oem";
const std::u16string StoreSuffix = u".inf";
const std::u16string Companion = u".PNF";

std::u16string StemOf(const std::u16string& name) { return name.substr(0, name.rfind(u'.')); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input input(data, size);
    host::Machine& m = FreshMachine();
    uint8_t flags = input.Byte();
    std::u16string guidText = input.Text(LONGEST_GUID_TEXT);
    std::u16string windowsName = FileName(input.Name(LONGEST_FOLDER_NAME));
    m.windows64 = (flags & WINDOWS_64) != 0;
    if ((flags & WINDOWS_ELSEWHERE) && !windowsName.empty()) {
        try {
            m.InstallWindowsAt(u"C:\\" + windowsName);
        } catch (...) {
            return 0;
        }
    }
    if (m.windows64) m.MakeFolder(m.Wow64Directory() + u"\\drivers");
    // What must stay: look-alikes outside the store, and the package's own INF.
    m.WriteFile(m.systemDirectory + u"\\oem1.inf", InfOfClass(DeviceClass));
    m.WriteFile(m.windowsDirectory + u"\\oem1.PNF", "PNF");
    m.WriteFile(m.windowsDirectory + u"\\inf\\sub\\oem2.inf", InfOfClass(DeviceClass));
    m.WriteFile(PackageInf, InfOfClass(DeviceClass));

    std::u16string store = m.windowsDirectory + u"\\inf\\";
    std::vector<PlantedEntry> entries = Plant(input, store, MOST_ENTRIES, StorePrefix, StoreSuffix, Companion);

    // The class that the sweep removes.
    GUID sweptClass = DeviceClass;
    bool classKnown = true;
    const WCHAR* text = PackageInf;
    if (!(flags & CLASS_FROM_INF)) {
        if (!(flags & FUZZED_GUID_TEXT)) guidText = u"{F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}";
        classKnown = host::ParseGuid(guidText.c_str(), &sweptClass);
        text = guidText.c_str();
    }

    std::string storeEntry = EntryOf(store);
    std::string logEntry = EntryOf(u"C:\\Temp") + "/drvmate.log";
    std::vector<std::string> mustGo, mayGo;
    for (const PlantedEntry& entry : entries) {
        if (!MatchesAround(entry.name, StorePrefix, StoreSuffix)) continue;
        bool ofClass = (entry.what == Planted::DEVICE_CLASS_INF && IsEqualGUID(sweptClass, DeviceClass)) ||
                       (entry.what == Planted::OTHER_CLASS_INF && IsEqualGUID(sweptClass, OtherClass));
        if (!classKnown || !ofClass) continue;
        mayGo.push_back(host::U8(entry.name));
        mayGo.push_back(host::U8(StemOf(entry.name) + Companion));
        if ((store + entry.name).size() < static_cast<size_t>(MAX_PATH)) mustGo.push_back(host::U8(entry.name));
    }
    std::set<std::string> before = MachineEntries();

    DeviceDriverInstaller installer;
    int result = installer.DeleteDriverPackages(text, (flags & CLASS_FROM_INF) ? 1 : 0);
    // The store's search pattern (Windows folder, "\\inf\\", "oem*.inf") must fit in 259
    // characters; a Windows folder too long for it fails the sweep before any search.
    bool patternFits =
        m.windowsDirectory.size() + std::u16string(u"\\inf\\oem*.inf").size() < static_cast<size_t>(MAX_PATH);
    EXPECT_ORACLE(result == (classKnown && patternFits ? 0 : 2), "the sweep's result");

    std::set<std::string> after = MachineEntries();
    for (const std::string& entry : after)
        EXPECT_ORACLE(before.count(entry) || entry == logEntry, "the sweep made " + entry);
    for (const std::string& entry : before) {
        if (after.count(entry)) continue;
        // A companion that was a folder goes with what it held.
        std::string top = entry;
        while (FolderOf(top) != storeEntry && !FolderOf(top).empty()) top = FolderOf(top);
        EXPECT_ORACLE(FolderOf(top) == storeEntry, "deleted outside the store: " + entry);
        bool allowed = false;
        for (const std::string& name : mayGo) allowed = allowed || SameName(NameOf(top), name);
        EXPECT_ORACLE(allowed, "deleted from the store but not of the class: " + entry);
    }
    for (const std::string& name : mustGo)
        EXPECT_ORACLE(!after.count(storeEntry + "/" + name), "a store INF of the class is left: " + name);
    ExpectNothingHeld("DeleteDriverPackages");
    return 0;
}
