// The registry under HKEY_LOCAL_MACHINE, the service control manager's services, and the
// account the process runs as.
//
// Both compare names without regard to case, as Windows does. Deleting a service marks it;
// it goes, together with its key and everything below the key, when the last handle to it is
// closed.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "types.h"

namespace host {

// Case-insensitive order of narrow Windows names (ASCII letters fold).
struct NarrowNoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const;
};
bool SameNarrowName(const char* a, const char* b);

// The account the process runs as. An administrator gets every right on the service
// control manager, the services and the keys under HKEY_LOCAL_MACHINE; anybody else gets
// the rights Windows gives users: connect and query, read keys, delete nothing.
struct Account {
    bool administrator = true;
};

struct RegistryKey {
    std::map<std::string, RegistryKey, NarrowNoCaseLess> subkeys;
    std::map<std::string, std::string, NarrowNoCaseLess> values;
    bool deleteDenied = false;  // its security refuses DELETE even to administrators
};

// "SYSTEM\\CurrentControlSet\\Services": the key that holds one key per service.
extern const char* const SERVICES_KEY;

class RegistryTree {
public:
    // An empty "SYSTEM\\CurrentControlSet\\Services" and "SOFTWARE".
    RegistryTree();

    // Paths are relative to HKEY_LOCAL_MACHINE, such as "SYSTEM\\CurrentControlSet\\Services\\x".
    // AddKey makes every missing key on the way and returns the last.
    RegistryKey& AddKey(const std::string& path);
    void SetValue(const std::string& path, const std::string& name, const std::string& data);
    bool HasKey(const std::string& path) const;
    std::vector<std::string> Subkeys(const std::string& path) const;
    void DenyDelete(const std::string& path) { AddKey(path).deleteDenied = true; }

    // The key at the path's names, or null.
    RegistryKey* Find(const std::vector<std::string>& names);
    const RegistryKey* Find(const std::vector<std::string>& names) const;
    // Removes the key at the names with everything below it; false when it is not there.
    bool RemoveTree(const std::vector<std::string>& names);

    RegistryKey localMachine;
    // Keys the process has open, by handle value: the names of each below HKEY_LOCAL_MACHINE.
    std::map<uintptr_t, std::vector<std::string>> openKeys;
};

// Splits a key path into its names. A path that starts with a backslash is not a relative
// key path (false); a trailing backslash is ignored.
bool SplitKeyPath(const char* path, std::vector<std::string>& names);

// The key path under HKEY_LOCAL_MACHINE that holds a service's configuration.
std::string ServiceKeyPath(const std::string& name);

struct ServiceEntry {
    std::string name;
    bool markedForDelete = false;
    int openHandles = 0;  // handles open on it, those of other processes that a test adds included
};

class ServiceTable {
public:
    explicit ServiceTable(RegistryTree& registry) : registry(registry) {}
    ServiceTable(const ServiceTable&) = delete;
    ServiceTable& operator=(const ServiceTable&) = delete;

    // A service as CreateService makes it: with its key "SYSTEM\\CurrentControlSet\\Services\\<name>".
    ServiceEntry& Add(const std::string& name);
    ServiceEntry* Find(const std::string& name);
    bool Has(const std::string& name) { return Find(name) != nullptr; }
    // Takes the service out of the table and its key out of the registry.
    void Remove(const std::string& name);

    std::map<std::string, ServiceEntry, NarrowNoCaseLess> services;

    // Handles the process has open on the manager or on a service, by handle value.
    struct Handle {
        bool manager;         // a handle of the manager, else of the service below
        DWORD access;         // the rights it was opened with
        std::string service;  // the service's name as the table holds it
    };
    std::map<uintptr_t, Handle> handles;

private:
    RegistryTree& registry;
};

}  // namespace host
