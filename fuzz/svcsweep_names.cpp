// Svcsweep with any service name.
//
// Input: a flags byte (1: the log file exists, so every step is logged and echoed; 2: the
// named service exists; 4: a key of that name exists with a subkey; 8: no name is passed),
// then the rest of the command line as UTF-16LE units up to the first zero unit. Svcsweep
// reads its name from the wide command line; a name that does not convert exactly to the
// ANSI code page must delete nothing, not even the service its best-fit text names.
//
// The machine holds services and keys beside the named one: look-alikes in case and
// spelling, keys with subkeys, keys outside Services. Oracles: no registry key is deleted
// but the named service's key (the name compared as Windows compares key names, ASCII
// letters without regard to case) and what lies below it; no service is deleted but the
// named one; a name that Svcsweep accepts loses its key and service; no handle is left; the
// exit code is 0.
#include <string>
#include <vector>

#include "registry.h"
#include "startup.h"
#include "harness.h"
#include "svcsweep.h"

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
    Keys(host::CurrentMachine().registry.localMachine, "", keys);
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
    std::u16string rest = input.Text(LONGEST_NAME);
    std::u16string line = u"C:\\Tools\\Svcsweep.exe";
    if (!(flags & NO_NAME)) line += u" " + rest;
    std::vector<std::u16string> arguments = host::SplitCommandLine(line);
    // The name as the program takes it: the exact ANSI text of the first argument, or the
    // default without one. A name without an exact ANSI text is refused; its best-fit text
    // (what a narrow main() would have got) names a service that must stay.
    std::string name = DefaultName;
    bool exact = true;
    if (arguments.size() > 1) {
        std::vector<char> ansi(arguments[1].size() * 2 + 1);
        BOOL usedDefault = FALSE;
        int written = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, arguments[1].c_str(), -1, ansi.data(),
                                          static_cast<int>(ansi.size()), nullptr, &usedDefault);
        exact = written > 0 && !usedDefault;
        name = exact ? std::string(ansi.data()) : host::BestFitAnsi(arguments[1]);
    }
    std::string servicesPrefix = std::string(Services) + "\\";

    // Neighbours that must stay.
    for (const char* other : {"androidusb", "androidusb2", "victim", "victim.old", "a", "Tcpip"}) {
        host::CurrentMachine().services.Add(other);
        host::CurrentMachine().registry.AddKey(servicesPrefix + other + "\\Enum");
    }
    host::CurrentMachine().registry.AddKey(servicesPrefix + "victim\\Parameters\\Deep");
    host::CurrentMachine().registry.AddKey("SYSTEM\\CurrentControlSet\\Control\\Class");
    host::CurrentMachine().registry.AddKey("SOFTWARE\\Tesmar\\Drvmate");
    bool nameFits = !name.empty() && name.find('\\') == std::string::npos && name.size() <= 225;
    if ((flags & SERVICE_EXISTS) && nameFits) host::CurrentMachine().services.Add(name);
    if ((flags & KEY_WITH_SUBKEY) && nameFits) host::CurrentMachine().registry.AddKey(servicesPrefix + name + "\\Sub");
    if (flags & LOG_EXISTS) m.WriteFile(u"C:\\Work\\__Svcsweep__LOG.log", "");

    std::set<std::string> keysBefore = AllKeys();
    std::vector<std::string> servicesBefore;
    for (const auto& service : host::CurrentMachine().services.services) servicesBefore.push_back(service.first);
    std::string namedKey = servicesPrefix + name;
    bool isKeyName = !name.empty() && name.find('\\') == std::string::npos;

    host::CurrentMachine().commandLine = line;
    std::vector<std::string> narrow;
    for (const auto& argument : arguments) narrow.push_back(host::BestFitAnsi(argument));
    std::vector<char*> argv;
    for (auto& text : narrow) argv.push_back(&text[0]);
    argv.push_back(nullptr);
    EXPECT_ORACLE(RunSvcsweep(static_cast<int>(narrow.size()), argv.data()) == 0, "the exit code");

    std::set<std::string> keysAfter = AllKeys();
    bool keyGone = false;
    for (const std::string& key : keysBefore) {
        if (keysAfter.count(key)) continue;
        // Only a single key name names a service's key: a path would name another key.
        bool named = exact && isKeyName && key.size() >= namedKey.size() &&
                     SameName(key.substr(0, namedKey.size()), namedKey) &&
                     (key.size() == namedKey.size() || key[namedKey.size()] == '\\');
        EXPECT_ORACLE(named, "deleted the key " + key + " for the name " + name);
        keyGone = keyGone || key.size() == namedKey.size();
    }
    for (const std::string& service : servicesBefore)
        if (!host::CurrentMachine().services.Has(service))
            EXPECT_ORACLE(exact && SameName(service, name), "deleted the service " + service);
    char reason[512];
    bool accepted = exact && !name.empty() && IsUsableServiceName(name.c_str(), reason, sizeof reason);
    bool keyWasThere = false;
    for (const std::string& key : keysBefore) keyWasThere = keyWasThere || SameName(key, namedKey);
    if (accepted && keyWasThere) EXPECT_ORACLE(keyGone, "the named service's key is left");
    for (const char* kind : {"scmanager", "service", "hkey", "stream"})
        EXPECT_ORACLE(m.OpenHandles(kind) == 0, std::string("open ") + kind + " handles");
    return 0;
}
