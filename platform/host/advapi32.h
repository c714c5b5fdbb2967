// Service control manager and registry calls (advapi32.dll) and shlwapi's SHDeleteKeyA.
//
// The registry holds keys under HKEY_LOCAL_MACHINE, each with values and subkeys; the
// service control manager holds services by name. Both compare names without regard to
// case, as Windows does. Deleting a service marks it; it goes, together with its key and
// everything below the key, when the last handle to it is closed.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "types.h"

struct SC_HANDLE__ { int unused; };
typedef SC_HANDLE__* SC_HANDLE;
typedef LONG LSTATUS;

#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))

// Standard access rights (winnt.h).
#define DELETE 0x00010000L
#define READ_CONTROL 0x00020000L
#define WRITE_DAC 0x00040000L
#define WRITE_OWNER 0x00080000L
#define STANDARD_RIGHTS_REQUIRED 0x000F0000L

// Service control manager access rights (winsvc.h).
#define SC_MANAGER_CONNECT 0x0001
#define SC_MANAGER_CREATE_SERVICE 0x0002
#define SC_MANAGER_ENUMERATE_SERVICE 0x0004
#define SC_MANAGER_LOCK 0x0008
#define SC_MANAGER_QUERY_LOCK_STATUS 0x0010
#define SC_MANAGER_MODIFY_BOOT_CONFIG 0x0020
#define SC_MANAGER_ALL_ACCESS 0xF003F

#define SERVICE_QUERY_CONFIG 0x0001
#define SERVICE_CHANGE_CONFIG 0x0002
#define SERVICE_QUERY_STATUS 0x0004
#define SERVICE_ENUMERATE_DEPENDENTS 0x0008
#define SERVICE_START 0x0010
#define SERVICE_STOP 0x0020
#define SERVICE_PAUSE_CONTINUE 0x0040
#define SERVICE_INTERROGATE 0x0080
#define SERVICE_USER_DEFINED_CONTROL 0x0100
#define SERVICE_ALL_ACCESS 0xF01FF

#define SERVICES_ACTIVE_DATABASEA "ServicesActive"
#define MAX_SERVICE_NAME_LENGTH 256

#define ERROR_BAD_PATHNAME 161L
#define ERROR_KEY_DELETED 1018L
#define ERROR_SERVICE_DOES_NOT_EXIST 1060L
#define ERROR_DATABASE_DOES_NOT_EXIST 1065L
#define ERROR_SERVICE_MARKED_FOR_DELETE 1072L
#define RPC_S_SERVER_UNAVAILABLE 1722L

// Service control manager: GetLastError tells why a call failed.
SC_HANDLE WINAPI OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName, DWORD desiredAccess);
SC_HANDLE WINAPI OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD desiredAccess);
BOOL WINAPI DeleteService(SC_HANDLE service);
BOOL WINAPI CloseServiceHandle(SC_HANDLE handle);

// Registry: each call returns its status; GetLastError is left alone.
LONG WINAPI RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result);
LONG WINAPI RegCloseKey(HKEY key);
LONG WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey);
// shlwapi: deletes a key with every subkey below it.
DWORD WINAPI SHDeleteKeyA(HKEY key, LPCSTR subKey);

namespace host {

// Case-insensitive order of narrow Windows names (ASCII letters fold).
struct NarrowNoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const;
};

// The account the process runs as. An administrator gets every right on the service
// control manager, the services and the keys under HKEY_LOCAL_MACHINE; anybody else gets
// the rights Windows gives users: connect and query, read keys, delete nothing.
struct Account {
    bool administrator = true;
};
Account& CallerAccount();

struct RegistryKey {
    std::map<std::string, RegistryKey, NarrowNoCaseLess> subkeys;
    std::map<std::string, std::string, NarrowNoCaseLess> values;
    bool deleteDenied = false;  // its security refuses DELETE even to administrators
};

class RegistryTree {
public:
    // Paths are relative to HKEY_LOCAL_MACHINE, such as "SYSTEM\\CurrentControlSet\\Services\\x".
    // AddKey makes every missing key on the way and returns the last.
    RegistryKey& AddKey(const std::string& path);
    void SetValue(const std::string& path, const std::string& name, const std::string& data);
    bool HasKey(const std::string& path) const;
    std::vector<std::string> Subkeys(const std::string& path) const;
    void DenyDelete(const std::string& path) { AddKey(path).deleteDenied = true; }

    // The key at the path's names, or null. The layer's own lookups.
    RegistryKey* Find(const std::vector<std::string>& names);
    // Removes the key at the names with everything below it; false when it is not there.
    bool RemoveTree(const std::vector<std::string>& names);

    RegistryKey localMachine;
};

// The registry of the current machine, reset with it: an empty
// "SYSTEM\\CurrentControlSet\\Services" and "SOFTWARE".
RegistryTree& Registry();

struct ServiceEntry {
    std::string name;
    bool markedForDelete = false;
    int openHandles = 0;  // handles open on it, those of other processes that a test adds included
};

class ServiceTable {
public:
    // A service as CreateService makes it: with its key "SYSTEM\\CurrentControlSet\\Services\\<name>".
    ServiceEntry& Add(const std::string& name);
    ServiceEntry* Find(const std::string& name);
    bool Has(const std::string& name) { return Find(name) != nullptr; }
    // Takes the service out of the table and its key out of the registry.
    void Remove(const std::string& name);

    std::map<std::string, ServiceEntry, NarrowNoCaseLess> services;
};

// The services of the current machine, reset with it: none.
ServiceTable& Services();

// The key path under HKEY_LOCAL_MACHINE that holds a service's configuration.
std::string ServiceKeyPath(const std::string& name);

}  // namespace host
