// The service control manager and the registry over the simulated machine.
#include "advapi32.h"

#include <cstring>

#include "kernel32.h"
#include "machine.h"

namespace host {

namespace {

const char* const ServicesKey = "SYSTEM\\CurrentControlSet\\Services";
const uintptr_t FirstHandle = 0x1000;
const uintptr_t HandleStep = 4;

// What the manager and a service grant an account that is not an administrator.
const DWORD UserManagerRights =
    SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS | READ_CONTROL;
const DWORD UserServiceRights = SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_ENUMERATE_DEPENDENTS |
                                SERVICE_INTERROGATE | SERVICE_USER_DEFINED_CONTROL | READ_CONTROL;

struct ServiceHandle {
    bool manager;         // a handle of the manager, else of the service below
    DWORD access;         // the rights it was opened with
    std::string service;  // the service's name as the table holds it
};

struct State {
    Account account;
    RegistryTree registry;
    ServiceTable services;
    std::map<uintptr_t, ServiceHandle> serviceHandles;
    std::map<uintptr_t, std::vector<std::string>> keyHandles;  // the names of the key under HKLM
    uintptr_t nextHandle = FirstHandle;
};

State& Current()
{
    static State state;
    return state;
}

void Reset(Machine&)
{
    State& state = Current();
    state = State();
    state.registry.AddKey(ServicesKey);
    state.registry.AddKey("SOFTWARE");
}

const bool registered = (Machine::OnReset(Reset), true);

uintptr_t NewHandle()
{
    uintptr_t handle = Current().nextHandle;
    Current().nextHandle += HandleStep;
    return handle;
}

char Fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameName(const char* a, const char* b)
{
    for (; *a && *b; ++a, ++b)
        if (Fold(*a) != Fold(*b)) return false;
    return *a == *b;
}

// Splits a key path into its names. A path that starts with a backslash is not a relative
// key path; a trailing backslash is ignored.
LONG SplitKeyPath(LPCSTR path, std::vector<std::string>& names)
{
    if (!path) return ERROR_SUCCESS;
    if (path[0] == '\\') return ERROR_BAD_PATHNAME;
    std::string name;
    for (const char* c = path;; ++c) {
        if (*c == '\\' || *c == 0) {
            if (!name.empty()) names.push_back(name);
            name.clear();
            if (*c == 0) break;
        } else {
            name.push_back(*c);
        }
    }
    return ERROR_SUCCESS;
}

// The names under HKLM of an open key, or the status that says why the handle is no key.
LONG KeyNames(HKEY key, std::vector<std::string>& names)
{
    if (key == HKEY_LOCAL_MACHINE) {
        names.clear();
        return ERROR_SUCCESS;
    }
    auto it = Current().keyHandles.find(reinterpret_cast<uintptr_t>(key));
    if (it == Current().keyHandles.end()) return ERROR_INVALID_HANDLE;
    if (!Current().registry.Find(it->second)) return ERROR_KEY_DELETED;
    names = it->second;
    return ERROR_SUCCESS;
}

// The full names of `subKey` below `key`.
LONG TargetNames(HKEY key, LPCSTR subKey, std::vector<std::string>& names)
{
    LONG status = KeyNames(key, names);
    if (status != ERROR_SUCCESS) return status;
    return SplitKeyPath(subKey, names);
}

bool MayDelete(const RegistryKey& key) { return Current().account.administrator && !key.deleteDenied; }

// Deletes everything below a key, depth first, the way SHDeleteKey does: each key is opened
// for all access before its subkeys go, so a key that refuses deletion stops the walk there,
// and what was deleted before stays deleted.
LONG DeleteSubkeys(RegistryKey& key)
{
    if (!MayDelete(key)) return ERROR_ACCESS_DENIED;
    while (!key.subkeys.empty()) {
        auto child = key.subkeys.begin();
        LONG status = DeleteSubkeys(child->second);
        if (status != ERROR_SUCCESS) return status;
        key.subkeys.erase(child);
    }
    return ERROR_SUCCESS;
}

ServiceHandle* FindServiceHandle(SC_HANDLE handle)
{
    auto it = Current().serviceHandles.find(reinterpret_cast<uintptr_t>(handle));
    return it == Current().serviceHandles.end() ? nullptr : &it->second;
}

}  // namespace

bool NarrowNoCaseLess::operator()(const std::string& a, const std::string& b) const
{
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        char x = Fold(a[i]), y = Fold(b[i]);
        if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    }
    return a.size() < b.size();
}

Account& CallerAccount()
{
    (void)registered;
    return Current().account;
}

RegistryTree& Registry()
{
    (void)registered;
    return Current().registry;
}

ServiceTable& Services()
{
    (void)registered;
    return Current().services;
}

std::string ServiceKeyPath(const std::string& name) { return std::string(ServicesKey) + "\\" + name; }

// ---------------------------------------------------------------------------------------
// The registry's test interface

RegistryKey& RegistryTree::AddKey(const std::string& path)
{
    std::vector<std::string> names;
    SplitKeyPath(path.c_str(), names);
    RegistryKey* key = &localMachine;
    for (const auto& name : names) key = &key->subkeys[name];
    return *key;
}

void RegistryTree::SetValue(const std::string& path, const std::string& name, const std::string& data)
{
    AddKey(path).values[name] = data;
}

bool RegistryTree::HasKey(const std::string& path) const
{
    std::vector<std::string> names;
    if (SplitKeyPath(path.c_str(), names) != ERROR_SUCCESS) return false;
    return const_cast<RegistryTree*>(this)->Find(names) != nullptr;
}

std::vector<std::string> RegistryTree::Subkeys(const std::string& path) const
{
    std::vector<std::string> names, subkeys;
    SplitKeyPath(path.c_str(), names);
    if (const RegistryKey* key = const_cast<RegistryTree*>(this)->Find(names))
        for (const auto& entry : key->subkeys) subkeys.push_back(entry.first);
    return subkeys;
}

RegistryKey* RegistryTree::Find(const std::vector<std::string>& names)
{
    RegistryKey* key = &localMachine;
    for (const auto& name : names) {
        auto it = key->subkeys.find(name);
        if (it == key->subkeys.end()) return nullptr;
        key = &it->second;
    }
    return key;
}

bool RegistryTree::RemoveTree(const std::vector<std::string>& names)
{
    if (names.empty()) return false;
    RegistryKey* parent = Find(std::vector<std::string>(names.begin(), names.end() - 1));
    return parent && parent->subkeys.erase(names.back()) != 0;
}

// ---------------------------------------------------------------------------------------
// The service table's test interface

ServiceEntry& ServiceTable::Add(const std::string& name)
{
    ServiceEntry& entry = services[name];
    entry.name = name;
    Registry().SetValue(ServiceKeyPath(name), "ImagePath", "system32\\drivers\\" + name + ".sys");
    return entry;
}

ServiceEntry* ServiceTable::Find(const std::string& name)
{
    auto it = services.find(name);
    return it == services.end() ? nullptr : &it->second;
}

void ServiceTable::Remove(const std::string& name)
{
    std::vector<std::string> names;
    SplitKeyPath(ServiceKeyPath(name).c_str(), names);
    Registry().RemoveTree(names);
    services.erase(name);
}

}  // namespace host

using host::Current;
using host::CurrentMachine;

// ---------------------------------------------------------------------------------------
// Service control manager

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName, DWORD desiredAccess)
{
    DWORD code;
    if (CurrentMachine().Enter("OpenSCManagerA", &code)) { SetLastError(code); return nullptr; }
    if (machineName && *machineName) { SetLastError(RPC_S_SERVER_UNAVAILABLE); return nullptr; }
    if (databaseName && !host::SameName(databaseName, SERVICES_ACTIVE_DATABASEA)) {
        SetLastError(ERROR_DATABASE_DOES_NOT_EXIST);
        return nullptr;
    }
    if (!Current().account.administrator && (desiredAccess & ~host::UserManagerRights)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    uintptr_t handle = host::NewHandle();
    Current().serviceHandles[handle] = host::ServiceHandle{true, desiredAccess, std::string()};
    host::HandleOpened("scmanager");
    return reinterpret_cast<SC_HANDLE>(handle);
}

SC_HANDLE WINAPI OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD desiredAccess)
{
    DWORD code;
    if (CurrentMachine().Enter("OpenServiceA", &code)) { SetLastError(code); return nullptr; }
    host::ServiceHandle* parent = host::FindServiceHandle(manager);
    if (!parent || !parent->manager) { SetLastError(ERROR_INVALID_HANDLE); return nullptr; }
    if (!(parent->access & SC_MANAGER_CONNECT)) { SetLastError(ERROR_ACCESS_DENIED); return nullptr; }
    if (!serviceName || !*serviceName || std::strlen(serviceName) > MAX_SERVICE_NAME_LENGTH) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    host::ServiceEntry* service = host::Services().Find(serviceName);
    if (!service) { SetLastError(ERROR_SERVICE_DOES_NOT_EXIST); return nullptr; }
    if (!Current().account.administrator && (desiredAccess & ~host::UserServiceRights)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    uintptr_t handle = host::NewHandle();
    Current().serviceHandles[handle] = host::ServiceHandle{false, desiredAccess, service->name};
    ++service->openHandles;
    host::HandleOpened("service");
    return reinterpret_cast<SC_HANDLE>(handle);
}

BOOL WINAPI DeleteService(SC_HANDLE service)
{
    DWORD code;
    if (CurrentMachine().Enter("DeleteService", &code)) { SetLastError(code); return FALSE; }
    host::ServiceHandle* handle = host::FindServiceHandle(service);
    if (!handle || handle->manager) { SetLastError(ERROR_INVALID_HANDLE); return FALSE; }
    if (!(handle->access & DELETE)) { SetLastError(ERROR_ACCESS_DENIED); return FALSE; }
    host::ServiceEntry* entry = host::Services().Find(handle->service);
    if (entry->markedForDelete) { SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE); return FALSE; }
    entry->markedForDelete = true;
    return TRUE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE handle)
{
    DWORD code;
    if (CurrentMachine().Enter("CloseServiceHandle", &code)) { SetLastError(code); return FALSE; }
    auto it = Current().serviceHandles.find(reinterpret_cast<uintptr_t>(handle));
    if (it == Current().serviceHandles.end()) { SetLastError(ERROR_INVALID_HANDLE); return FALSE; }
    host::ServiceHandle closed = it->second;
    Current().serviceHandles.erase(it);
    host::HandleClosed(closed.manager ? "scmanager" : "service");
    if (!closed.manager) {
        host::ServiceEntry* entry = host::Services().Find(closed.service);
        // A service marked for deletion goes with the last handle open on it.
        if (--entry->openHandles == 0 && entry->markedForDelete) host::Services().Remove(closed.service);
    }
    return TRUE;
}

// ---------------------------------------------------------------------------------------
// Registry

LONG WINAPI RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result)
{
    DWORD code;
    if (CurrentMachine().Enter("RegOpenKeyA", &code)) return static_cast<LONG>(code);
    if (!result) return ERROR_INVALID_PARAMETER;
    std::vector<std::string> names;
    LONG status = host::TargetNames(key, subKey, names);
    if (status != ERROR_SUCCESS) return status;
    // Without a subkey the call hands back the key it was given.
    if (!subKey || !*subKey) {
        *result = key;
        return ERROR_SUCCESS;
    }
    if (!Current().registry.Find(names)) return ERROR_FILE_NOT_FOUND;
    uintptr_t handle = host::NewHandle();
    Current().keyHandles[handle] = names;
    host::HandleOpened("hkey");
    *result = reinterpret_cast<HKEY>(handle);
    return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY key)
{
    DWORD code;
    if (CurrentMachine().Enter("RegCloseKey", &code)) return static_cast<LONG>(code);
    if (key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;  // predefined: never closed
    if (Current().keyHandles.erase(reinterpret_cast<uintptr_t>(key)) == 0) return ERROR_INVALID_HANDLE;
    host::HandleClosed("hkey");
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey)
{
    DWORD code;
    if (CurrentMachine().Enter("RegDeleteKeyA", &code)) return static_cast<LONG>(code);
    if (!subKey) return ERROR_INVALID_PARAMETER;
    std::vector<std::string> names;
    LONG status = host::TargetNames(key, subKey, names);
    if (status != ERROR_SUCCESS) return status;
    if (names.empty()) return ERROR_ACCESS_DENIED;  // HKEY_LOCAL_MACHINE itself
    host::RegistryKey* target = Current().registry.Find(names);
    if (!target) return ERROR_FILE_NOT_FOUND;
    // Windows refuses a key that still has subkeys, with the same status as a key whose
    // security forbids its deletion.
    if (!host::MayDelete(*target) || !target->subkeys.empty()) return ERROR_ACCESS_DENIED;
    Current().registry.RemoveTree(names);
    return ERROR_SUCCESS;
}

DWORD WINAPI SHDeleteKeyA(HKEY key, LPCSTR subKey)
{
    DWORD code;
    if (CurrentMachine().Enter("SHDeleteKeyA", &code)) return code;
    std::vector<std::string> names;
    LONG status = host::TargetNames(key, subKey, names);
    if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
    if (names.empty()) return ERROR_ACCESS_DENIED;
    host::RegistryKey* target = Current().registry.Find(names);
    if (!target) return ERROR_FILE_NOT_FOUND;
    status = host::DeleteSubkeys(*target);
    if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
    Current().registry.RemoveTree(names);
    return ERROR_SUCCESS;
}
