// The cases' set-up on the host layer: the simulated machine, changed through its own test
// interface. This is the only file of the cases that knows the machine.
#include "setup.h"

#include "devices.h"
#include "harness.h"
#include "machine.h"

namespace {

const char16_t CasesFolder[] = u"C:\\conformance\\";

host::Machine& M() { return host::CurrentMachine(); }

}  // namespace

void StartCase()
{
    host::Machine& m = host::ResetMachine();
    // The machine that the 64-bit host program stands for: 64-bit Windows that runs it as a
    // 64-bit process, as the x64 Windows build of the cases runs.
    m.windows64 = true;
    m.process64 = sizeof(void*) == 8;
    m.MakeFolder(m.Wow64Directory() + u"\\drivers");
    m.MakeFolder(CaseFolder());
}

void FinishCase() {}

Text CaseFolder()
{
    std::string name = CaseName();
    return CasesFolder + Text(name.begin(), name.end());
}

Text InCase(const Text& name) { return CaseFolder() + u"\\" + name; }

bool MakeFolder(const Text& path)
{
    M().MakeFolder(path);
    return true;
}

bool PutFile(const Text& path, const std::string& bytes)
{
    M().WriteFile(path, bytes);
    return true;
}

std::string FileBytes(const Text& path) { return M().ReadFile(path); }

bool IsThere(const Text& path) { return M().Exists(path); }

bool RemoveFile(const Text& path)
{
    M().Remove(path);
    return true;
}

bool MakeReadOnly(const Text& path)
{
    M().SetReadOnly(path);
    return true;
}

bool SetCurrentFolder(const Text& path)
{
    M().currentDirectory = path;
    return true;
}

bool SetVariable(const Text& name, const Text& value)
{
    M().environment[name] = value;
    return true;
}

void RemoveAfterCase(const Text&) {}  // the next case starts on a new machine

Text ProgramPath() { return M().moduleFileName; }

std::string UniqueName(const char* stem) { return stem; }

bool AddDevice(const GUID& classGuid, const Text& hardwareId)
{
    M().devices.Add(classGuid).HardwareIds({hardwareId});
    return true;
}

bool MakeKey(const std::string& path)
{
    M().registry.AddKey(path);
    return true;
}

bool KeyIsThere(const std::string& path) { return M().registry.HasKey(path); }

Text VersionedFile()
{
    Text path = InCase(W("versioned.dll"));
    PutFile(path, "MZ");
    M().SetFileVersion(path, 10, 0, 19041, 1);
    return path;
}

bool SetTextValue(const std::string& path, const std::string& name, const std::string& text)
{
    M().registry.SetValue(path, name, text);
    return true;
}

bool AddService(const std::string& name)
{
    M().services.Add(name);
    return true;
}

bool On64BitWindows() { return M().windows64; }

bool VolumeMakesShortNames()
{
    M().VolumeOf(CaseFolder()[0]).shortNames = true;
    return true;
}
