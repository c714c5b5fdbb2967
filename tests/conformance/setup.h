// What the cases set up without testing it: folders and files with given bytes, the current
// directory, environment variables, devices, registry keys and services. One implementation
// works on the host layer's simulated machine (setup_host.cpp), the other with real Win32
// calls (setup_windows.cpp).
//
// Each case starts with a fresh place of its own: on the host a fresh machine, on Windows
// an empty folder; whatever a case made through these calls (keys, services, devices,
// variables, files) is taken away after it.
#pragma once

#include <string>

#include "winapi.h"

typedef std::basic_string<WCHAR> Text;

// The full path of the case's own folder, empty and without a trailing backslash.
Text CaseFolder();
// CaseFolder() with "\\" and a name.
Text InCase(const Text& name);

bool MakeFolder(const Text& path);
bool PutFile(const Text& path, const std::string& bytes);
std::string FileBytes(const Text& path);
bool IsThere(const Text& path);
bool RemoveFile(const Text& path);
bool MakeReadOnly(const Text& path);
bool SetCurrentFolder(const Text& path);
bool SetVariable(const Text& name, const Text& value);
// A file that a call under test made outside the case's folder (in the Windows directory's
// inf folder, say), removed after the case.
void RemoveAfterCase(const Text& path);
// The full path of the running program's executable.
Text ProgramPath();

// A name that no other run on this machine uses at the same time: the stem and this
// process's number on Windows, the stem on the host.
std::string UniqueName(const char* stem);

// A present, root-enumerated device of a class with one hardware ID.
bool AddDevice(const GUID& classGuid, const Text& hardwareId);

// A key under HKEY_LOCAL_MACHINE, with every key on the way.
bool MakeKey(const std::string& path);
bool KeyIsThere(const std::string& path);
// A text value (REG_SZ) of a key made with MakeKey.
bool SetTextValue(const std::string& path, const std::string& name, const std::string& text);
// A kernel-driver service by that name, with its key under
// "SYSTEM\\CurrentControlSet\\Services".
bool AddService(const std::string& name);

// A file that carries a version resource: the system folder's kernel32.dll on Windows, a file
// of the case's folder given the version 10.0.19041.1 on the host.
Text VersionedFile();

// Whether the case's folder is on a volume that makes 8.3 short names: on the host the
// simulated drive is given them; on Windows a file with a long name is made to see.
bool VolumeMakesShortNames();

// Whether this build runs on 64-bit Windows, whether as a 64-bit process or under WOW64.
bool On64BitWindows();
