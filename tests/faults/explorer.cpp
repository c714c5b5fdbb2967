// The fault explorer. For each scenario, a clean run journals the platform calls; then, for
// every call i of that journal, fresh runs of the same scenario make call i fail (with each
// documented error of the table) or kill the process at call i. After every run the
// invariants are checked; after every failed or killed run a clean run of the same export
// follows, and the machine must then be where a clean run from the start leaves it.
//
//   fault_explorer             the whole matrix
//   fault_explorer --sample    the scenarios ./test.sh walks, and the reproducers
//   fault_explorer NAME...     the scenarios of these names
//
// Prints "[ OK ] scenario ..." or "[FAIL] scenario ..." with its violations, and ends with
// "N scenarios, N failure points, N stop points, N violations".
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <regex>
#include <set>
#include <sstream>

#include "decode.h"
#include "exports.h"
#include "faults.h"
#include "log.h"
#include "svcsweep.h"
#include "wintext.h"

namespace faults {
namespace {
int Explore(int argc, char* argv[]);
}
}  // namespace faults

// Allocation stacks cost most of a walk's time under AddressSanitizer; a report that needs
// them is read again with ASAN_OPTIONS=malloc_context_size=30, which takes precedence.
extern "C" const char* __asan_default_options() { return "malloc_context_size=0"; }

namespace faults {
namespace {

const std::u16string DriverFolder = u"C:\\Program Files\\Tesmar\\drivers\\";
const std::u16string InstallerLogPath = u"C:\\Temp\\drvmate.log";
const std::u16string CleanerLogPath = u"C:\\Work\\__Svcsweep__LOG.log";
const std::string PackageClassText = "{f72fe0d4-cbcb-407d-8814-9ed673d0dd6b}";
const GUID PackageClass = {0xF72FE0D4, 0xCBCB, 0x407d, {0x88, 0x14, 0x9E, 0xD6, 0x73, 0xD0, 0xDD, 0x6B}};
const GUID OtherClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const std::string OtherClassText = "{4d36e978-e325-11ce-bfc1-08002be10318}";
const char* const ServiceName = "androidusb";
const char* const Program = "C:\\Tools\\Svcsweep.exe";
const std::string Binary = "tesmar.sys";

std::string Upper(std::string text)
{
    for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string InfOfClass(const std::string& guidText, const std::string& name)
{
    return "; " + name + " driver package\r\n[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=" + name +
           "\r\nClassGUID=" + guidText + "\r\nProvider=Tesmar\r\n\r\n[Manufacturer]\r\nTesmar=Models\r\n";
}

std::u16string HardwareId(int n) { return u"USB\\VID_1D6B&PID_7E5" + host::U16(std::to_string(n)); }

// ---------------------------------------------------------------------------------------
// Setting a scenario's machine up and running its export

MSIHANDLE SetUp(const Scenario& s)
{
    host::Machine& m = host::ResetMachine();
    ForgetLogPath();
    if (s.road == Road::Svcsweep) {
        m.MakeFolder(u"C:\\Work");
        m.currentDirectory = u"C:\\Work";
        m.commandLine = host::U16(Program);
        m.WriteFile(CleanerLogPath, "");
        // A neighbour that must stay as it is.
        m.services.Add("othersvc");
        m.registry.SetValue(host::ServiceKeyPath("othersvc"), "Start", "3");
        switch (s.service) {
        case ServiceCase::Absent: break;
        case ServiceCase::Present: m.services.Add(ServiceName); break;
        case ServiceCase::MarkedForDeletion: {
            host::ServiceEntry& service = m.services.Add(ServiceName);
            service.markedForDelete = true;
            service.openHandles = 1;  // another process still holds it
            break;
        }
        case ServiceCase::WithSubkeys:
            m.services.Add(ServiceName);
            m.registry.SetValue(host::ServiceKeyPath(ServiceName) + "\\Enum", "Count", "1");
            m.registry.SetValue(host::ServiceKeyPath(ServiceName) + "\\Parameters\\Wdf", "KmdfLibraryVersion", "1.9");
            break;
        }
        return 0;
    }

    const Content& c = s.content;
    // The package, next to the field runner too, so that a null session finds it.
    m.moduleFileName = DriverFolder + u"drvrun.exe";
    m.WriteFile(DriverFolder + u"tesmar.inf", InfOfClass(PackageClassText, "TesmarUsb"));
    m.WriteFile(DriverFolder + host::U16(Binary), "new driver");
    m.WriteFile(DriverFolder + u"drvrun.exe", "MZ");
    for (int i = 0; i < c.storeOfClass; ++i) {
        std::u16string name = u"C:\\Windows\\inf\\oem" + host::U16(std::to_string(3 + i));
        m.WriteFile(name + u".inf", InfOfClass(PackageClassText, "TesmarOld" + std::to_string(i)));
        m.WriteFile(name + u".PNF", "pnf " + std::to_string(i));
    }
    if (c.storeOther) {
        m.WriteFile(u"C:\\Windows\\inf\\oem9.inf", InfOfClass(OtherClassText, "Ports"));
        m.WriteFile(u"C:\\Windows\\inf\\oem9.PNF", "ports pnf");
    }
    m.WriteFile(u"C:\\Windows\\system32\\drivers\\other.sys", "another driver");
    if (c.binaries >= 1) m.WriteFile(u"C:\\Windows\\system32\\drivers\\" + host::U16(Binary), "old driver");
    if (s.arch != Arch::X86) {
        m.MakeFolder(u"C:\\Windows\\SysWOW64\\drivers");
        m.WriteFile(u"C:\\Windows\\SysWOW64\\drivers\\other.sys", "another 32-bit driver");
        if (c.binaries >= 2) m.WriteFile(u"C:\\Windows\\SysWOW64\\drivers\\" + host::U16(Binary), "old 32-bit driver");
    }
    m.windows64 = s.arch != Arch::X86;
    m.process64 = s.arch == Arch::X64;

    m.devices.Add(OtherClass).HardwareIds({u"ACPI\\PNP0501"});
    for (int i = 0; i < c.devices; ++i) {
        host::Device& device = m.devices.Add(PackageClass).HardwareIds({HardwareId(i), u"USB\\Class_FF"});
        if (c.rebootDevice && i == (c.devices > 1 ? 1 : 0)) {
            device.RemovalNeeds(DI_NEEDREBOOT);
            m.devices.UpdateOf(HardwareId(i)).NeedsReboot();
        }
    }
    if (c.phantom) {
        m.devices.Add(PackageClass).Present(false).HardwareIds({HardwareId(9)});
        m.devices.Add(OtherClass).Present(false).HardwareIds({u"ACPI\\PNP0400"});
    }
    return m.session.Open();
}

void SetAnswers(const Scenario& s)
{
    host::Machine& m = host::CurrentMachine();
    m.session.answers.clear();
    switch (s.answer) {
    case Answer::Retry: m.session.answers = {IDRETRY, IDRETRY}; break;  // then 0: no interface left
    case Answer::Abort: m.session.answers = {IDABORT}; break;
    case Answer::Ignore: m.session.answers = {IDIGNORE}; break;
    case Answer::None: break;
    }
}

// One process: the library freshly loaded, the export called. Returns the export's result;
// an exception out of the layer or the product is a violation, in `escaped`.
long RunExport(const Scenario& s, MSIHANDLE session, std::string* escaped)
{
    ForgetLogPath();
    SetAnswers(s);
    try {
        switch (s.road) {
        case Road::Install: return InstallDeviceDriver(s.session ? session : 0);
        case Road::Uninstall: return UninstallDeviceDriver(s.session ? session : 0);
        case Road::Upgrade: return UpgradeDeviceDriver(0);
        case Road::Svcsweep: {
            std::string program = Program;
            char* argv[] = {&program[0], nullptr};
            return RunSvcsweep(1, argv);
        }
        }
    } catch (const std::exception& e) {
        *escaped = e.what();
    } catch (...) {
        *escaped = "an exception of unknown type";
    }
    return -1;
}

// ---------------------------------------------------------------------------------------
// The machine's lasting state

struct DeviceState {
    GUID classGuid;
    std::string text;       // everything of it but its driver
    std::string driverInf;  // the store INF it runs on
};

struct LastingState {
    std::map<std::string, std::string> files;  // host path below the root (folders end with '/') to bytes
    std::map<std::string, std::string> registry;
    std::map<std::string, std::string> services;
    std::vector<DeviceState> devices;
};

void ReadTree(const std::string& host, const std::string& relative, std::map<std::string, std::string>& files)
{
    DIR* dir = opendir(host.c_str());
    if (!dir) return;
    while (dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        std::string path = host + "/" + name, rel = relative + name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            files[rel + "/"] = "";
            ReadTree(path, rel + "/", files);
        } else {
            files[rel] = host::ReadHostFile(path);
        }
    }
    closedir(dir);
}

void ReadKeys(const host::RegistryKey& key, const std::string& path, std::map<std::string, std::string>& out)
{
    out[path + "\\"] = key.deleteDenied ? "delete denied" : "";
    for (const auto& value : key.values) out[path + "\\:" + value.first] = value.second;
    for (const auto& sub : key.subkeys) ReadKeys(sub.second, path.empty() ? sub.first : path + "\\" + sub.first, out);
}

LastingState Snapshot()
{
    host::Machine& m = host::CurrentMachine();
    LastingState state;
    ReadTree(m.root, "", state.files);
    ReadKeys(m.registry.localMachine, "", state.registry);
    for (const auto& service : m.services.services)
        state.services[service.first] =
            std::string(service.second.markedForDelete ? "marked " : "") + std::to_string(service.second.openHandles);
    for (const host::Device& device : m.devices.devices) {
        std::ostringstream text;
        text << device.instanceId.size() << host::U8(device.instanceId) << (device.present ? " present" : " phantom")
             << (device.removed ? " removed" : "");
        for (const auto& property : device.properties)
            text << " [" << property.first << ":" << property.second.type << ":" << property.second.bytes << "]";
        state.devices.push_back({device.classGuid, text.str(), host::U8(device.driverInf)});
    }
    return state;
}

bool IsLogFile(const std::string& path)
{
    std::string p = Upper(path);
    return p == "C/TEMP/DRVMATE.LOG" || p == "C/WORK/__SVCSWEEP__LOG.LOG";
}

// "C/WINDOWS/INF/OEM3" for a store INF or PNF, else empty.
std::string StoreStem(const std::string& path)
{
    std::string p = Upper(path);
    const std::string folder = "C/WINDOWS/INF/OEM";
    if (p.size() < folder.size() + 5 || p.compare(0, folder.size(), folder) != 0) return "";
    std::string extension = p.substr(p.size() - 4);
    if (extension != ".INF" && extension != ".PNF") return "";
    std::string number = p.substr(folder.size(), p.size() - 4 - folder.size());
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return "";
    return p.substr(0, p.size() - 4);
}

bool IsPackageClassInf(const std::string& bytes)
{
    return Upper(bytes).find(Upper(PackageClassText)) != std::string::npos;
}

// The store stems of the package's class in either state.
std::set<std::string> ClassStems(const LastingState& a, const LastingState& b)
{
    std::set<std::string> stems;
    for (const LastingState* state : {&a, &b})
        for (const auto& file : state->files) {
            std::string p = Upper(file.first);
            if (p.size() > 4 && p.compare(p.size() - 4, 4, ".INF") == 0 && !StoreStem(p).empty() &&
                IsPackageClassInf(file.second))
                stems.insert(StoreStem(p));
        }
    return stems;
}

bool IsOwnGround(const std::string& path, const std::set<std::string>& classStems)
{
    if (IsLogFile(path)) return true;
    std::string stem = StoreStem(path);
    if (!stem.empty()) return classStems.count(stem) != 0;
    std::string p = Upper(path);
    return p == "C/WINDOWS/SYSTEM32/DRIVERS/" + Upper(Binary) || p == "C/WINDOWS/SYSWOW64/DRIVERS/" + Upper(Binary);
}

std::string ServiceKeyPrefix() { return Upper(host::ServiceKeyPath(ServiceName)); }

// What changed outside the run's own ground, or empty.
std::string TouchedElsewhere(const LastingState& before, const LastingState& after)
{
    std::set<std::string> stems = ClassStems(before, after);
    std::set<std::string> paths;
    for (const auto& f : before.files) paths.insert(f.first);
    for (const auto& f : after.files) paths.insert(f.first);
    for (const std::string& path : paths) {
        if (IsOwnGround(path, stems)) continue;
        auto a = before.files.find(path), b = after.files.find(path);
        if (a == before.files.end()) return "file created: " + path;
        if (b == after.files.end()) return "file deleted: " + path;
        if (a->second != b->second) return "file changed: " + path;
    }
    std::set<std::string> keys;
    for (const auto& k : before.registry) keys.insert(k.first);
    for (const auto& k : after.registry) keys.insert(k.first);
    for (const std::string& key : keys) {
        std::string k = Upper(key);
        if (k.compare(0, ServiceKeyPrefix().size(), ServiceKeyPrefix()) == 0 &&
            (k.size() == ServiceKeyPrefix().size() || k[ServiceKeyPrefix().size()] == '\\'))
            continue;
        auto a = before.registry.find(key), b = after.registry.find(key);
        if (a == before.registry.end() || b == after.registry.end() || a->second != b->second)
            return "registry changed: " + key;
    }
    for (const auto& service : before.services)
        if (Upper(service.first) != Upper(ServiceName) &&
            (!after.services.count(service.first) || after.services.at(service.first) != service.second))
            return "service changed: " + service.first;
    for (const auto& service : after.services)
        if (Upper(service.first) != Upper(ServiceName) && !before.services.count(service.first))
            return "service created: " + service.first;
    if (before.devices.size() != after.devices.size()) return "devices added or dropped";
    for (size_t i = 0; i < before.devices.size(); ++i) {
        if (IsEqualGUID(before.devices[i].classGuid, PackageClass)) continue;
        if (before.devices[i].text != after.devices[i].text ||
            before.devices[i].driverInf != after.devices[i].driverInf)
            return "device of another class changed: " + before.devices[i].text;
    }
    return "";
}

// The state with the store's own names taken out: a package is its INF's bytes and its
// companion's, and a device's driver is the bytes of the INF it runs on. Logs are left out.
std::multiset<std::string> Normalized(const LastingState& state)
{
    std::multiset<std::string> out;
    std::map<std::string, std::string> infBytes;
    for (const auto& file : state.files) {
        std::string stem = StoreStem(file.first);
        if (!stem.empty() && Upper(file.first).back() == 'F' &&
            Upper(file.first).rfind(".INF") == file.first.size() - 4)
            infBytes[stem] = file.second;
    }
    for (const auto& file : state.files) {
        if (IsLogFile(file.first)) continue;
        std::string stem = StoreStem(file.first);
        if (stem.empty()) {
            out.insert("file " + file.first + " = " + file.second);
        } else if (Upper(file.first).rfind(".INF") == file.first.size() - 4) {
            auto pnf = std::find_if(state.files.begin(), state.files.end(), [&](const auto& f) {
                return StoreStem(f.first) == stem && Upper(f.first).rfind(".PNF") == f.first.size() - 4;
            });
            out.insert("store package " + file.second + " with companion " +
                       (pnf == state.files.end() ? std::string("(none)") : pnf->second));
        } else if (!infBytes.count(stem)) {
            out.insert("store companion without its INF: " + file.second);
        }
    }
    for (const auto& key : state.registry) out.insert("key " + key.first + " = " + key.second);
    for (const auto& service : state.services) out.insert("service " + service.first + " " + service.second);
    for (size_t i = 0; i < state.devices.size(); ++i) {
        const DeviceState& d = state.devices[i];
        std::string driver = "(none)";
        if (!d.driverInf.empty()) {
            std::string stem = "C/WINDOWS/INF/" + Upper(d.driverInf.substr(0, d.driverInf.rfind('.')));
            driver = infBytes.count(stem) ? infBytes[stem] : "(missing " + d.driverInf + ")";
        }
        out.insert("device " + std::to_string(i) + " " + d.text + " on " + driver);
    }
    return out;
}

std::string Difference(const std::multiset<std::string>& expected, const std::multiset<std::string>& found)
{
    std::vector<std::string> missing, extra;
    std::set_difference(expected.begin(), expected.end(), found.begin(), found.end(), std::back_inserter(missing));
    std::set_difference(found.begin(), found.end(), expected.begin(), expected.end(), std::back_inserter(extra));
    if (missing.empty() && extra.empty()) return "";
    auto shorten = [](std::string text) {
        for (char& c : text)
            if (c == '\r' || c == '\n') c = ' ';
        return text.size() > 160 ? text.substr(0, 160) + "..." : text;
    };
    std::string text;
    if (!missing.empty())
        text += "missing: " + shorten(missing[0]) +
                (missing.size() > 1 ? " (+" + std::to_string(missing.size() - 1) + ")" : "");
    if (!extra.empty())
        text += std::string(text.empty() ? "" : "; ") + "unexpected: " + shorten(extra[0]) +
                (extra.size() > 1 ? " (+" + std::to_string(extra.size() - 1) + ")" : "");
    return text;
}

// ---------------------------------------------------------------------------------------
// Logs

size_t LogSize(Road road)
{
    host::Machine& m = host::CurrentMachine();
    std::u16string path = road == Road::Svcsweep ? CleanerLogPath : InstallerLogPath;
    return m.Exists(path) ? m.ReadFile(path).size() : 0;
}

// The lines written since `offset`, or a problem with the bytes.
std::vector<std::string> LogLinesFrom(Road road, size_t offset, std::string* problem)
{
    host::Machine& m = host::CurrentMachine();
    std::u16string path = road == Road::Svcsweep ? CleanerLogPath : InstallerLogPath;
    std::string bytes = m.Exists(path) ? m.ReadFile(path) : "";
    bytes = bytes.size() > offset ? bytes.substr(offset) : "";
    std::string text;
    if (road == Road::Svcsweep) {
        for (size_t i = 0; i < bytes.size(); ++i)
            if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')) text.push_back(bytes[i]);
    } else {
        DecodedLog log = DecodeInstallerLog(bytes);
        if (!log.problems.empty()) *problem = "the log's bytes: " + log.problems[0];
        text = log.text;
    }
    std::vector<std::string> lines;
    std::string line;
    for (char c : text) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line.push_back(c);
        }
    }
    if (!line.empty()) {
        if (problem->empty()) *problem = "the log's last line has no line end: \"" + line + "\"";
        lines.push_back(line);
    }
    return lines;
}

LogReading ReadLog(const Scenario& s, const std::vector<std::string>& lines, bool mayEndEarly)
{
    if (s.road == Road::Svcsweep) return ReadCleanerLog(ServiceName, lines, mayEndEarly);
    return ReadInstallerLog(s.road, s.session, lines, mayEndEarly);
}

// Where a clean run of each road leaves the machine: after an install the package staged
// once, no other store package of the class, every present device of the class on it; after
// an uninstall no store package of the class, no binary of the package in the drivers
// folders, no present device of the class; phantoms of the class marked for reinstall
// either way; after Svcsweep neither the service nor its key. Where Windows refuses a
// 32-bit process the devices (WOW64), they keep their place and driver; a device whose
// removal waits for a reboot stays until then; a service another process holds open goes
// when that process lets it go, and only its key goes now. Empty when all of it holds.
std::string RoadEndUnmet(const Scenario& s, const LastingState& end)
{
    if (s.road == Road::Svcsweep) {
        for (const auto& key : end.registry)
            if (Upper(key.first).rfind(ServiceKeyPrefix(), 0) == 0) return "the service's key stays";
        bool held = s.service == ServiceCase::MarkedForDeletion;
        for (const auto& service : end.services)
            if (Upper(service.first) == Upper(ServiceName) && !held) return "the service stays";
        return "";
    }
    bool uninstall = s.road == Road::Uninstall && s.answer != Answer::Abort;
    std::vector<std::string> classInfs;
    std::string staged;
    for (const auto& file : end.files) {
        std::string stem = StoreStem(file.first);
        if (stem.empty() || Upper(file.first).rfind(".INF") != file.first.size() - 4) continue;
        if (IsPackageClassInf(file.second)) {
            classInfs.push_back(file.first);
            if (file.second.find("TesmarUsb") != std::string::npos) staged = stem;
        }
    }
    if (uninstall) {
        if (!classInfs.empty()) return "a store package of the class stays: " + classInfs[0];
        for (const auto& file : end.files) {
            std::string p = Upper(file.first);
            if (p == "C/WINDOWS/SYSTEM32/DRIVERS/" + Upper(Binary) ||
                p == "C/WINDOWS/SYSWOW64/DRIVERS/" + Upper(Binary))
                return "a binary of the package stays: " + file.first;
        }
    } else if (s.road != Road::Uninstall) {
        if (classInfs.size() != 1 || staged.empty())
            return std::to_string(classInfs.size()) + " store packages of the class, the package " +
                   (staged.empty() ? "not staged" : "staged");
    }
    host::Machine& m = host::CurrentMachine();
    for (size_t i = 0; i < m.devices.devices.size(); ++i) {
        const host::Device& device = m.devices.devices[i];
        if (!IsEqualGUID(device.classGuid, PackageClass)) continue;
        if (!device.present) {
            if (!(device.Flags() & CONFIGFLAG_REINSTALL)) return "a phantom of the class is not marked for reinstall";
            continue;
        }
        if (device.removed || s.arch == Arch::Wow64) continue;
        bool waits = device.removalFlags != 0 && device.removalsAsked > 0;
        if (uninstall && !waits) return "a present device of the class stays: " + host::U8(device.instanceId);
        if (s.road != Road::Uninstall && Upper("C/WINDOWS/INF/" + host::U8(device.driverInf)) != staged + ".INF")
            return "a present device of the class is not on the package: " + host::U8(device.instanceId);
    }
    return "";
}

bool AllowedResult(const Scenario& s, long result)
{
    switch (s.road) {
    case Road::Install: return s.session ? (result == 0 || result == 1603) : (result >= 0 && result <= 2);
    case Road::Uninstall:
        return s.session ? (result == 0 || result == 1641 || result == 2) : (result >= 0 && result <= 2);
    case Road::Upgrade: return result == 0;
    case Road::Svcsweep: return result == 0;
    }
    return false;
}

// ---------------------------------------------------------------------------------------
// The walk

struct Point {
    Point(std::string kind, std::string api = "", int occurrence = 0, long position = -1, DWORD code = 0,
          std::string codeName = "")
        : kind(kind), api(api), occurrence(occurrence), position(position), code(code), codeName(codeName)
    {}
    std::string kind;  // "clean", "fail" or "stop"
    std::string api;
    int occurrence;
    long position;
    DWORD code;
    std::string codeName;
    std::string Describe() const
    {
        if (kind == "clean") return "clean run";
        return kind + " at call " + std::to_string(position) + " (" + api + " #" + std::to_string(occurrence) +
               (kind == "fail" ? ", " + codeName : "") + ")";
    }
};

struct Violation {
    std::string scenario;
    Point point;
    std::string check;
    std::string detail;
};

struct Totals {
    int scenarios = 0, failurePoints = 0, stopPoints = 0, violations = 0, accepted = 0;
};

std::set<const AcceptedOutcome*> usedOutcomes;

class Walk {
public:
    Walk(const Scenario& s, std::ostream& out) : s(s), out(out) {}

    // The clean run of the scenario: its journal, log, result and end state are the reference.
    bool Reference()
    {
        MSIHANDLE session = SetUp(s);
        before = Snapshot();
        long start = host::CurrentMachine().journal.Size();
        std::string escaped;
        Point clean("clean");
        cleanResult = RunExport(s, session, &escaped);
        if (!escaped.empty()) Report(clean, "no exception", escaped);
        host::Machine& m = host::CurrentMachine();
        for (long i = start; i < m.journal.Size(); ++i) calls.push_back(m.journal.At(i));
        std::string problem;
        cleanLog = LogLinesFrom(s.road, 0, &problem);
        CheckRun(clean, cleanResult, cleanLog, problem, false);
        CheckBalance(clean);
        m.EndProcess();
        LastingState end = Snapshot();
        std::string touched = TouchedElsewhere(before, end);
        if (!touched.empty()) Report(clean, "nothing outside the run's ground", touched);
        std::string unmet = RoadEndUnmet(s, end);
        if (!unmet.empty()) Report(clean, "a clean run ends where its road leads", unmet);
        cleanEnd = Normalized(end);
        if (s.answer == Answer::Abort) {
            // Where a failure keeps the prompt from being shown, the removal goes on as with
            // Ignore: the end of that road is the other end an Abort scenario may reach.
            Scenario ignore = s;
            ignore.answer = Answer::Ignore;
            MSIHANDLE other = SetUp(ignore);
            std::string ignored;
            RunExport(ignore, other, &ignored);
            host::CurrentMachine().EndProcess();
            ignoreEnd = Normalized(Snapshot());
        }
        return escaped.empty();
    }

    void FailureAt(long i, const DocumentedError& error, int occurrence)
    {
        Point p("fail", calls[static_cast<size_t>(i)], occurrence, i, error.code, error.name);
        MSIHANDLE session = SetUp(s);
        host::Machine& m = host::CurrentMachine();
        LastingState start = Snapshot();
        m.FailAt(m.journal.Size() + i, error.code);
        std::string escaped;
        long result = RunExport(s, session, &escaped);
        if (!escaped.empty()) return Report(p, "no exception", escaped);
        std::string problem;
        std::vector<std::string> lines = LogLinesFrom(s.road, 0, &problem);
        if (IsLogCall(s.road, p.api)) {
            // A log that cannot be written drops the message and nothing else.
            if (!OneLineDropped(lines)) Report(p, "a failed log write drops one line", Excerpt(lines));
            if (result != cleanResult)
                Report(p, "a failed log write changes no result",
                       std::to_string(result) + " instead of " + std::to_string(cleanResult));
        } else {
            CheckRun(p, result, lines, problem, false);
        }
        std::string owed = LineOwed(p.api, p.code);
        // The walk that marks phantoms logs nothing of its enumeration.
        if (p.api == "SetupDiEnumDeviceInfo" && WalkOf(i) == "SetupDiGetClassDevsW") owed.clear();
        if (!owed.empty() && !IsLogCall(s.road, p.api)) {
            std::regex line(owed);
            bool found = std::any_of(lines.begin(), lines.end(),
                                     [&](const std::string& l) { return std::regex_match(l, line); });
            if (!found) Report(p, "a failed call leaves its line", "no line /" + owed + "/");
        }
        if (!IsLogCall(s.road, p.api)) CheckClaims(p, lines, start);
        CheckBalance(p);
        if (m.RedirectionDisabled() && p.api != "Wow64RevertWow64FsRedirection")
            Report(p, "redirection restored", "the thread returns with WOW64 redirection off");
        m.EndProcess();
        if (s.road == Road::Svcsweep && !IsLogCall(s.road, p.api)) CheckCleanerClaims(p, lines);
        std::string touched = TouchedElsewhere(start, Snapshot());
        if (!touched.empty()) Report(p, "nothing outside the run's ground", touched);
        Repair(p);
    }

    void StopAt(long i, int occurrence)
    {
        Point p("stop", calls[static_cast<size_t>(i)], occurrence, i);
        MSIHANDLE session = SetUp(s);
        host::Machine& m = host::CurrentMachine();
        LastingState start = Snapshot();
        m.StopAt(m.journal.Size() + i);
        std::string escaped;
        RunExport(s, session, &escaped);
        if (!escaped.empty()) return Report(p, "no exception", escaped);
        std::string problem;
        std::vector<std::string> lines = LogLinesFrom(s.road, 0, &problem);
        if (!problem.empty()) Report(p, "the log's bytes", problem);
        LogReading reading = ReadLog(s, lines, true);
        if (!reading.problem.empty()) Report(p, "the log of a killed run is the start of a sound log", reading.problem);
        m.EndProcess();
        std::string touched = TouchedElsewhere(start, Snapshot());
        if (!touched.empty()) Report(p, "nothing outside the run's ground", touched);
        Repair(p);
    }

    const std::vector<std::string>& Calls() const { return calls; }
    // The call that built the device set an enumeration at `i` walks.
    std::string WalkOf(long i) const
    {
        while (--i >= 0)
            if (calls[static_cast<size_t>(i)].rfind("SetupDiGetClassDevs", 0) == 0)
                return calls[static_cast<size_t>(i)];
        return "";
    }
    std::vector<Violation> violations;
    int accepted = 0;

private:
    // The next run repairs: a clean run of the same export ends where a clean run from the
    // start ends.
    void Repair(const Point& p)
    {
        host::Machine& m = host::CurrentMachine();
        size_t offset = LogSize(s.road);
        LastingState start = Snapshot();
        // The repair of a state already repaired once runs alike: its findings are the same.
        std::string key = Key(start);
        auto known = repaired.find(key);
        if (known != repaired.end()) {
            for (const auto& finding : known->second) Report(p, finding.first, finding.second);
            return;
        }
        findings = &repaired[key];
        MSIHANDLE session = m.session.sessions.empty() ? 0 : m.session.sessions.front();
        std::string escaped;
        long result = RunExport(s, session, &escaped);
        if (!escaped.empty()) {
            Report(p, "no exception in the repair", escaped);
            findings = nullptr;
            return;
        }
        std::string problem;
        std::vector<std::string> lines = LogLinesFrom(s.road, offset, &problem);
        if (!problem.empty()) Report(p, "the repair's log bytes", problem);
        LogReading reading = ReadLog(s, lines, false);
        if (!reading.problem.empty()) Report(p, "the repair's log follows the grammar", reading.problem);
        if (!AllowedResult(s, result)) Report(p, "the repair's result is defined", std::to_string(result));
        CheckBalance(p, "the repair gives back what it took");
        m.EndProcess();
        LastingState end = Snapshot();
        std::string touched = TouchedElsewhere(start, end);
        if (!touched.empty()) Report(p, "the repair touches nothing outside its ground", touched);
        std::multiset<std::string> found = Normalized(end);
        std::string difference = Difference(cleanEnd, found);
        if (!difference.empty() && s.answer == Answer::Abort && found == ignoreEnd)
            Report(p, "the removal went on as answered Ignore", difference);
        else if (!difference.empty())
            Report(p, "the next run repairs", difference);
        findings = nullptr;
    }

    void CheckRun(const Point& p, long result, const std::vector<std::string>& lines, const std::string& problem,
                  bool mayEndEarly)
    {
        if (!problem.empty()) Report(p, "the log's bytes", problem);
        if (!AllowedResult(s, result)) Report(p, "the result is defined for the road", std::to_string(result));
        LogReading reading = ReadLog(s, lines, mayEndEarly);
        if (!reading.problem.empty()) {
            Report(p, "the log follows the grammar", reading.problem);
        } else if (reading.result != result) {
            Report(p, "the result is the one the log's road gives",
                   std::to_string(result) + " returned, " + std::to_string(reading.result) + " by the log");
        }
    }

    // Lines that claim what a run did, held against what the machine saw.
    void CheckClaims(const Point& p, const std::vector<std::string>& lines, const LastingState& start)
    {
        if (s.road == Road::Svcsweep) return;
        host::Machine& m = host::CurrentMachine();
        // The platform itself said the enumeration was over: the sweep cannot know better.
        bool enumerationCut = (p.api == "FindNextFileW" && p.code == ERROR_NO_MORE_FILES);
        int storeInfs = 0;
        for (const auto& file : start.files)
            if (!StoreStem(file.first).empty() && Upper(file.first).rfind(".INF") == file.first.size() - 4) ++storeInfs;
        // The first sweep of the run sees the store as the run found it.
        int infLines = -1;
        bool firstSweep = true;
        for (const std::string& line : lines) {
            if (line.rfind("search oeminf: ", 0) == 0 && firstSweep) infLines = 0;
            if (infLines >= 0 && line.rfind("infFile: oem", 0) == 0) ++infLines;
            if (line.rfind("DeleteDriverPackage error: ", 0) == 0) {
                infLines = -1;
                firstSweep = false;
            }
            if (line == "DeleteDriverPackage finish" && infLines >= 0) {
                if (!enumerationCut && infLines != storeInfs)
                    Report(p, "\"finish\" only for a sweep that saw the whole store",
                           std::to_string(infLines) + " of " + std::to_string(storeInfs) + " store INFs seen");
                infLines = -1;
                firstSweep = false;
            }
            // In a 32-bit process on 64-bit Windows the paths a line names depend on redirection.
            static const std::regex deleted("delete (wow64 )?driver file (.*): 0");
            std::smatch match;
            if (s.arch != Arch::Wow64 && std::regex_match(line, match, deleted) && m.Exists(host::U16(match[2])))
                Report(p, "a deletion logged as done was done", line);
        }
        // Each "ok" update was made.
        std::map<std::string, int> okLines, updates;
        static const std::regex ok("update \\(.*\\) ok: (.*)\\([01]\\)");
        for (const std::string& line : lines) {
            std::smatch match;
            if (std::regex_match(line, match, ok)) ++okLines[match[1]];
        }
        for (const host::UpdateCall& call : m.devices.updates) ++updates[host::U8(call.hardwareId)];
        for (const auto& claimed : okLines)
            if (updates[claimed.first] < claimed.second) Report(p, "an update logged as ok was made", claimed.first);
        // A device logged as removed without an error line before it went through the class
        // installer.
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].rfind("remove device: ", 0) != 0 || (i > 0 && lines[i - 1].rfind("remove error: ", 0) == 0))
                continue;
            std::u16string id = host::U16(lines[i].substr(15));
            for (const host::Device& device : m.devices.devices)
                if (device.instanceId == id && device.removalsAsked == 0)
                    Report(p, "a removal logged as done was done", lines[i]);
        }
    }

    // Svcsweep's success lines, held against the service table and the registry once the
    // process has ended (a service marked for deletion goes with its last handle).
    void CheckCleanerClaims(const Point& p, const std::vector<std::string>& lines)
    {
        host::Machine& m = host::CurrentMachine();
        auto logged = [&](const std::string& text) {
            return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
                return line.size() >= text.size() && line.compare(line.size() - text.size(), text.size(), text) == 0;
            });
        };
        host::ServiceEntry* service = m.services.Find(ServiceName);
        if (logged(std::string("Success to delete service ") + ServiceName) && service && !service->markedForDelete)
            Report(p, "a deletion logged as done was done", "the service is neither gone nor marked for deletion");
        std::string key = host::ServiceKeyPath(ServiceName);
        if ((logged("RegDeleteKey success to delete service-key: " + key) ||
             logged("SHDeleteKey success to delete service-key: " + key)) &&
            m.registry.HasKey(key))
            Report(p, "a deletion logged as done was done", "the service's key stays");
    }

    void CheckBalance(const Point& p, const std::string& check = "a failed run gives back what it took")
    {
        host::Machine& m = host::CurrentMachine();
        if (p.kind == "stop") return;
        bool handleKept = p.kind == "fail" && ReleaseKeepsOnFailure(p.api) && check.find("repair") == std::string::npos;
        std::string left;
        if (!handleKept)
            for (const auto& kind : m.openHandles)
                if (kind.second != 0) left += "\"" + kind.first + "\" handles: " + std::to_string(kind.second) + "; ";
        for (const auto& module : m.modules)
            if (module.second.references != 0) left += host::U8(module.first) + " left loaded; ";
        if (m.heap.LiveBlocks() != 0) left += std::to_string(m.heap.LiveBlocks()) + " heap blocks; ";
        if (m.heap.badFrees != 0) left += "a heap block freed that was not live; ";
        if (m.session.badCloses != 0) left += "an installer handle closed that was not open; ";
        if (m.session.OpenRecords() != 0) left += "installer records left open; ";
        if (m.invalidCloses != 0 && !handleKept) left += "a handle closed that was not open; ";
        if (!left.empty()) Report(p, check, left);
    }

    // The log is the clean run's log with at most one line missing.
    bool OneLineDropped(const std::vector<std::string>& lines) const
    {
        if (lines == cleanLog) return true;
        if (lines.size() + 1 != cleanLog.size()) return false;
        size_t i = 0;
        while (i < lines.size() && lines[i] == cleanLog[i]) ++i;
        return std::equal(lines.begin() + static_cast<long>(i), lines.end(),
                          cleanLog.begin() + static_cast<long>(i) + 1);
    }
    static std::string Excerpt(const std::vector<std::string>& lines)
    {
        return std::to_string(lines.size()) + " lines" + (lines.empty() ? "" : ", the last \"" + lines.back() + "\"");
    }

    void Report(const Point& p, const std::string& check, const std::string& detail)
    {
        if (findings) findings->emplace_back(check, detail);
        for (const AcceptedOutcome& outcome : AcceptedOutcomes)
            if (std::regex_match(s.name, std::regex(outcome.scenarios)) && p.kind == outcome.kind &&
                p.api == outcome.api && (outcome.occurrence < 0 || p.occurrence == outcome.occurrence) &&
                check == outcome.check) {
                usedOutcomes.insert(&outcome);
                ++accepted;
                return;
            }
        violations.push_back({s.name, p, check, detail});
    }

    const Scenario& s;
    std::ostream& out;
    std::vector<std::string> calls;
    std::vector<std::string> cleanLog;
    long cleanResult = -1;
    LastingState before;
    std::multiset<std::string> cleanEnd;
    std::multiset<std::string> ignoreEnd;
    // The findings of the repair of each lasting state met so far.
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> repaired;
    std::vector<std::pair<std::string, std::string>>* findings = nullptr;

    // The lasting state as one text, logs left out.
    static std::string Key(const LastingState& state)
    {
        std::string key;
        for (const auto& file : state.files)
            if (!IsLogFile(file.first)) key += file.first + '\0' + file.second + '\0';
        for (const auto& k : state.registry) key += k.first + '\0' + k.second + '\0';
        for (const auto& service : state.services) key += service.first + '\0' + service.second + '\0';
        for (const DeviceState& device : state.devices) key += device.text + '\0' + device.driverInf + '\0';
        return key;
    }
};

// Walks one scenario whole; prints its line and its violations.
void WalkScenario(const Scenario& s, Totals& totals, std::ostream& out, int shown)
{
    auto begun = std::chrono::steady_clock::now();
    Walk walk(s, out);
    int failures = 0, stops = 0;
    if (walk.Reference()) {
        std::vector<std::string> calls = walk.Calls();
        std::map<std::string, int> seen;
        for (size_t i = 0; i < calls.size(); ++i) {
            int occurrence = seen[calls[i]]++;
            for (const DocumentedError& error : DocumentedErrors(calls[i])) {
                walk.FailureAt(static_cast<long>(i), error, occurrence);
                ++failures;
            }
            walk.StopAt(static_cast<long>(i), occurrence);
            ++stops;
        }
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
    ++totals.scenarios;
    totals.failurePoints += failures;
    totals.stopPoints += stops;
    totals.violations += static_cast<int>(walk.violations.size());
    totals.accepted += walk.accepted;
    char timing[32];
    snprintf(timing, sizeof timing, "%.1f s", seconds);
    out << (walk.violations.empty() ? "[ OK ] " : "[FAIL] ") << s.name << ": " << walk.Calls().size() << " calls, "
        << failures << " failure points, " << stops << " stop points, " << walk.violations.size() << " violations"
        << (walk.accepted ? ", " + std::to_string(walk.accepted) + " accepted" : "") << " (" << timing << ")\n";
    int n = 0;
    for (const Violation& v : walk.violations) {
        if (n++ == shown) {
            out << "    ... " << walk.violations.size() - static_cast<size_t>(shown) << " more\n";
            break;
        }
        out << "    " << v.point.Describe() << ": " << v.check << ": " << v.detail << "\n";
    }
    out.flush();
}

// Runs one reproducer: its scenario, the point it names; passes when no violation shows.
void RunReproducer(const Reproducer& r, const std::vector<Scenario>& matrix, Totals& totals, std::ostream& out)
{
    auto it = std::find_if(matrix.begin(), matrix.end(), [&](const Scenario& s) { return s.name == r.scenario; });
    std::string name = std::string("reproducer ") + r.scenario + " " + r.api + " #" + std::to_string(r.occurrence) +
                       (r.code ? " fails" : " stops");
    if (it == matrix.end()) {
        out << "[FAIL] " << name << ": no such scenario\n";
        ++totals.violations;
        return;
    }
    Walk walk(*it, out);
    walk.Reference();
    long position = -1;
    int seen = 0;
    int occurrence = 0;
    for (size_t i = 0; i < walk.Calls().size(); ++i)
        if (walk.Calls()[i] == r.api) {
            // -1: the last call of that name.
            if (r.occurrence < 0 || seen == r.occurrence) {
                position = static_cast<long>(i);
                occurrence = seen;
            }
            ++seen;
        }
    if (position < 0) {
        out << "[FAIL] " << name << ": the clean run makes no such call\n";
        ++totals.violations;
        return;
    }
    if (r.code)
        walk.FailureAt(position, DocumentedError{r.code, "the reproducer's code"}, occurrence);
    else
        walk.StopAt(position, occurrence);
    totals.violations += static_cast<int>(walk.violations.size());
    out << (walk.violations.empty() ? "[ OK ] " : "[FAIL] ") << name << " (" << r.finding << ")\n";
    for (const Violation& v : walk.violations) out << "    " << v.check << ": " << v.detail << "\n";
}

}  // namespace
}  // namespace faults

int main(int argc, char* argv[])
{
    using namespace faults;
    // Each point sets a machine up in a fresh folder and takes it down again: in memory where
    // the host has a memory file system, unless TMPDIR says otherwise.
    std::string scratch;
    struct stat shm;
    if (!std::getenv("TMPDIR") && stat("/dev/shm", &shm) == 0 && S_ISDIR(shm.st_mode)) {
        char pattern[] = "/dev/shm/fault_explorer.XXXXXX";
        if (mkdtemp(pattern)) {
            scratch = pattern;
            setenv("TMPDIR", pattern, 1);
        }
    }
    int exitCode = Explore(argc, argv);
    if (!scratch.empty()) {
        // The last machine's folder goes now, before its parent; the one left is set up in /tmp.
        unsetenv("TMPDIR");
        host::ResetMachine();
        rmdir(scratch.c_str());
    }
    return exitCode;
}

namespace faults {
namespace {

int Explore(int argc, char* argv[])
{
    std::vector<Scenario> matrix = Matrix();
    std::vector<std::string> names;
    bool sample = false, whole = true;
    int shown = 8;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--sample") {
            sample = true;
            names = Sample();
            whole = false;
        } else if (a == "--list") {
            for (const Scenario& s : matrix) std::cout << s.name << "\n";
            return 0;
        } else if (a.rfind("--show=", 0) == 0) {
            shown = std::stoi(a.substr(7));
        } else {
            names.push_back(a);
            whole = false;
        }
    }
    Totals totals;
    std::set<std::string> walked;
    for (const Scenario& s : matrix) {
        if (!whole && std::find(names.begin(), names.end(), s.name) == names.end()) continue;
        WalkScenario(s, totals, std::cout, shown);
        walked.insert(s.name);
    }
    for (const std::string& name : names)
        if (!walked.count(name) && !sample) {
            std::cout << "[FAIL] " << name << ": no such scenario\n";
            ++totals.violations;
        }
    if (sample)
        for (const Reproducer& r : Reproducers) RunReproducer(r, matrix, totals, std::cout);
    // An accepted outcome that no run of its scenario met is a stale entry.
    for (const AcceptedOutcome& outcome : AcceptedOutcomes) {
        bool scenarioWalked = std::any_of(walked.begin(), walked.end(), [&](const std::string& name) {
            return std::regex_match(name, std::regex(outcome.scenarios));
        });
        if (scenarioWalked && !usedOutcomes.count(&outcome)) {
            std::cout << "[FAIL] accepted outcome not met: " << outcome.scenarios << " " << outcome.kind << " "
                      << outcome.api << " #" << outcome.occurrence << ": " << outcome.check << "\n";
            ++totals.violations;
        }
    }
    std::cout << totals.scenarios << " scenarios, " << totals.failurePoints << " failure points, " << totals.stopPoints
              << " stop points, " << totals.violations << " violations\n";
    return totals.violations == 0 ? 0 : 1;
}

}  // namespace
}  // namespace faults
