// Svcsweep with any service name.
//
// Input: a flags byte (1: the log file exists, so every step is logged and echoed; 2: the
// named service exists; 4: a key of that name exists with a subkey; 8: no name is passed),
// then the name's bytes up to the first zero byte.
//
// The machine holds services and keys beside the named one: look-alikes in case and
// spelling, keys with subkeys, keys outside Services. Oracles: no registry key is deleted
// but the named service's key (the name compared as Windows compares key names, ASCII
// letters without regard to case) and what lies below it; no service is deleted but the
// named one; a name that Svcsweep accepts loses its key and service; no handle is left; the
// exit code is 0.
#include <string>
#include <vector>

#include "advapi32.h"
#include "harness.h"
#include "svcsweep.h"

int SvcsweepMain(int argc, char* argv[]);

namespace {

const size_t LONGEST_NAME = 300;
enum Flags { LOG_EXISTS = 1, SERVICE_EXISTS = 2, KEY_WITH_SUBKEY = 4, NO_NAME = 8 };
const char Services[] = "SYSTEM\\CurrentControlSet\\Services";
const char DefaultName[] = "androidusb";

void Keys(const host::RegistryKey& key, const std::string& path, std::set<std::string>& keys)
{
    for (const auto& sub : key.subkeys) {
        std::string child = path.empty() ? sub.first : path + "\\" + sub.first;
        keys.insert(child);
        Keys(sub.second, child, keys);
    }
}

std::set<std::string> AllKeys()
{
    std::set<std::string> keys;
    Keys(host::Registry().localMachine, "", keys);
    return keys;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input input(data, size);
    host::Machine& m = FreshMachine();
    m.MakeFolder(u"C:\\Work");
    m.currentDirectory = u"C:\\Work";
    uint8_t flags = input.Byte();
    std::string name;
    while (!input.AtEnd() && name.size() < LONGEST_NAME) {
        char c = static_cast<char>(input.Byte());
        if (c == 0) break;
        name.push_back(c);
    }
    if (flags & NO_NAME) name = DefaultName;
    std::string servicesPrefix = std::string(Services) + "\\";

    // Neighbours that must stay.
    for (const char* other : {"androidusb", "androidusb2", "victim", "victim.old", "a", "Tcpip"}) {
        host::Services().Add(other);
        host::Registry().AddKey(servicesPrefix + other + "\\Enum");
    }
    host::Registry().AddKey(servicesPrefix + "victim\\Parameters\\Deep");
    host::Registry().AddKey("SYSTEM\\CurrentControlSet\\Control\\Class");
    host::Registry().AddKey("SOFTWARE\\Tesmar\\Drvmate");
    bool nameFits = !name.empty() && name.find('\\') == std::string::npos && name.size() <= 225;
    if ((flags & SERVICE_EXISTS) && nameFits) host::Services().Add(name);
    if ((flags & KEY_WITH_SUBKEY) && nameFits) host::Registry().AddKey(servicesPrefix + name + "\\Sub");
    if (flags & LOG_EXISTS) m.WriteFile(u"C:\\Work\\__Svcsweep__LOG.log", "");

    std::set<std::string> keysBefore = AllKeys();
    std::vector<std::string> servicesBefore;
    for (const auto& service : host::Services().services) servicesBefore.push_back(service.first);
    std::string namedKey = servicesPrefix + name;
    bool isKeyName = !name.empty() && name.find('\\') == std::string::npos;

    std::string program = "C:\\Tools\\Svcsweep.exe";
    std::vector<char*> argv = {&program[0]};
    if (!(flags & NO_NAME)) argv.push_back(&name[0]);
    argv.push_back(nullptr);
    EXPECT_ORACLE(SvcsweepMain(static_cast<int>(argv.size() - 1), argv.data()) == 0, "the exit code");

    std::set<std::string> keysAfter = AllKeys();
    bool keyGone = false;
    for (const std::string& key : keysBefore) {
        if (keysAfter.count(key)) continue;
        // Only a single key name names a service's key: a path would name another key.
        bool named = isKeyName && key.size() >= namedKey.size() && SameName(key.substr(0, namedKey.size()), namedKey) &&
                     (key.size() == namedKey.size() || key[namedKey.size()] == '\\');
        EXPECT_ORACLE(named, "deleted the key " + key + " for the name " + name);
        keyGone = keyGone || key.size() == namedKey.size();
    }
    for (const std::string& service : servicesBefore)
        if (!host::Services().Has(service)) EXPECT_ORACLE(SameName(service, name), "deleted the service " + service);
    char reason[512];
    bool accepted = !name.empty() && IsUsableServiceName(name.c_str(), reason, sizeof reason);
    bool keyWasThere = false;
    for (const std::string& key : keysBefore) keyWasThere = keyWasThere || SameName(key, namedKey);
    if (accepted && keyWasThere) EXPECT_ORACLE(keyGone, "the named service's key is left");
    for (const char* kind : {"scmanager", "service", "hkey", "stream"})
        EXPECT_ORACLE(m.OpenHandles(kind) == 0, std::string("open ") + kind + " handles");
    return 0;
}
