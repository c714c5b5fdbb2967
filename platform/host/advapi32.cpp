// The service control manager and the registry over the simulated machine.
#include "advapi32.h"

#include <cstring>

#include "kernel32.h"
#include "layer.h"

namespace host {

namespace {

// What the manager and a service grant an account that is not an administrator.
const DWORD UserManagerRights =
    SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS | READ_CONTROL;
const DWORD UserServiceRights = SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_ENUMERATE_DEPENDENTS |
                                SERVICE_INTERROGATE | SERVICE_USER_DEFINED_CONTROL | READ_CONTROL;

typedef ServiceTable::Handle ServiceHandle;

// The names under HKLM of an open key, or the status that says why the handle is no key.
LONG KeyNames(HKEY key, std::vector<std::string>& names)
{
    if (key == HKEY_LOCAL_MACHINE) {
        names.clear();
        return ERROR_SUCCESS;
    }
    RegistryTree& registry = CurrentMachine().registry;
    auto it = registry.openKeys.find(reinterpret_cast<uintptr_t>(key));
    if (it == registry.openKeys.end()) return ERROR_INVALID_HANDLE;
    if (!registry.Find(it->second)) return ERROR_KEY_DELETED;
    names = it->second;
    return ERROR_SUCCESS;
}

// The full names of `subKey` below `key`.
LONG TargetNames(HKEY key, LPCSTR subKey, std::vector<std::string>& names)
{
    LONG status = KeyNames(key, names);
    if (status != ERROR_SUCCESS) return status;
    return SplitKeyPath(subKey, names) ? ERROR_SUCCESS : ERROR_BAD_PATHNAME;
}

bool MayDelete(const RegistryKey& key) { return CurrentMachine().account.administrator && !key.deleteDenied; }

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
    auto& handles = CurrentMachine().services.handles;
    auto it = handles.find(reinterpret_cast<uintptr_t>(handle));
    return it == handles.end() ? nullptr : &it->second;
}

}  // namespace

}  // namespace host

using host::CurrentMachine;

// ---------------------------------------------------------------------------------------
// Service control manager

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName, DWORD desiredAccess)
{
    LAYER_ENTER(nullptr);
    if (machineName && *machineName) return host::WithLastError(RPC_S_SERVER_UNAVAILABLE, nullptr);
    if (databaseName && !host::SameNarrowName(databaseName, SERVICES_ACTIVE_DATABASEA))
        return host::WithLastError(ERROR_DATABASE_DOES_NOT_EXIST, nullptr);
    if (!CurrentMachine().account.administrator && (desiredAccess & ~host::UserManagerRights))
        return host::WithLastError(ERROR_ACCESS_DENIED, nullptr);
    uintptr_t handle = CurrentMachine().NewHandleValue();
    CurrentMachine().services.handles[handle] = host::ServiceHandle{true, desiredAccess, std::string()};
    host::CurrentMachine().HandleOpened("scmanager");
    return reinterpret_cast<SC_HANDLE>(handle);
}

SC_HANDLE WINAPI OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD desiredAccess)
{
    LAYER_ENTER(nullptr);
    host::ServiceHandle* parent = host::FindServiceHandle(manager);
    if (!parent || !parent->manager) return host::WithLastError(ERROR_INVALID_HANDLE, nullptr);
    if (!(parent->access & SC_MANAGER_CONNECT)) return host::WithLastError(ERROR_ACCESS_DENIED, nullptr);
    if (!serviceName || !*serviceName || std::strlen(serviceName) > MAX_SERVICE_NAME_LENGTH)
        return host::WithLastError(ERROR_INVALID_NAME, nullptr);
    host::ServiceEntry* service = CurrentMachine().services.Find(serviceName);
    if (!service) return host::WithLastError(ERROR_SERVICE_DOES_NOT_EXIST, nullptr);
    if (!CurrentMachine().account.administrator && (desiredAccess & ~host::UserServiceRights))
        return host::WithLastError(ERROR_ACCESS_DENIED, nullptr);
    uintptr_t handle = CurrentMachine().NewHandleValue();
    CurrentMachine().services.handles[handle] = host::ServiceHandle{false, desiredAccess, service->name};
    ++service->openHandles;
    host::CurrentMachine().HandleOpened("service");
    return reinterpret_cast<SC_HANDLE>(handle);
}

BOOL WINAPI DeleteService(SC_HANDLE service)
{
    LAYER_ENTER(FALSE);
    host::ServiceHandle* handle = host::FindServiceHandle(service);
    if (!handle || handle->manager) return host::WithLastError(ERROR_INVALID_HANDLE, FALSE);
    if (!(handle->access & DELETE)) return host::WithLastError(ERROR_ACCESS_DENIED, FALSE);
    host::ServiceEntry* entry = CurrentMachine().services.Find(handle->service);
    if (entry->markedForDelete) return host::WithLastError(ERROR_SERVICE_MARKED_FOR_DELETE, FALSE);
    entry->markedForDelete = true;
    return TRUE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE handle)
{
    LAYER_ENTER(FALSE);
    auto& handles = CurrentMachine().services.handles;
    auto it = handles.find(reinterpret_cast<uintptr_t>(handle));
    if (it == handles.end()) return host::WithLastError(ERROR_INVALID_HANDLE, FALSE);
    host::ServiceHandle closed = it->second;
    handles.erase(it);
    host::CurrentMachine().HandleClosed(closed.manager ? "scmanager" : "service");
    if (!closed.manager) {
        host::ServiceEntry* entry = CurrentMachine().services.Find(closed.service);
        // A service marked for deletion goes with the last handle open on it.
        if (--entry->openHandles == 0 && entry->markedForDelete) CurrentMachine().services.Remove(closed.service);
    }
    return TRUE;
}

// ---------------------------------------------------------------------------------------
// Registry

LONG WINAPI RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result)
{
    LAYER_ENTER_STATUS(LONG);
    if (!result) return ERROR_INVALID_PARAMETER;
    std::vector<std::string> names;
    LONG status = host::TargetNames(key, subKey, names);
    if (status != ERROR_SUCCESS) return status;
    // Without a subkey the call hands back the key it was given.
    if (!subKey || !*subKey) {
        *result = key;
        return ERROR_SUCCESS;
    }
    if (!CurrentMachine().registry.Find(names)) return ERROR_FILE_NOT_FOUND;
    uintptr_t handle = CurrentMachine().NewHandleValue();
    CurrentMachine().registry.openKeys[handle] = names;
    host::CurrentMachine().HandleOpened("hkey");
    *result = reinterpret_cast<HKEY>(handle);
    return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY key)
{
    LAYER_ENTER_STATUS(LONG);
    if (key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;  // predefined: never closed
    if (CurrentMachine().registry.openKeys.erase(reinterpret_cast<uintptr_t>(key)) == 0) return ERROR_INVALID_HANDLE;
    host::CurrentMachine().HandleClosed("hkey");
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey)
{
    LAYER_ENTER_STATUS(LONG);
    if (!subKey) return ERROR_INVALID_PARAMETER;
    std::vector<std::string> names;
    LONG status = host::TargetNames(key, subKey, names);
    if (status != ERROR_SUCCESS) return status;
    if (names.empty()) return ERROR_ACCESS_DENIED;  // HKEY_LOCAL_MACHINE itself
    host::RegistryKey* target = CurrentMachine().registry.Find(names);
    if (!target) return ERROR_FILE_NOT_FOUND;
    // Windows refuses a key that still has subkeys, with the same status as a key whose
    // security forbids its deletion.
    if (!host::MayDelete(*target) || !target->subkeys.empty()) return ERROR_ACCESS_DENIED;
    CurrentMachine().registry.RemoveTree(names);
    return ERROR_SUCCESS;
}

DWORD WINAPI SHDeleteKeyA(HKEY key, LPCSTR subKey)
{
    LAYER_ENTER_STATUS(DWORD);
    std::vector<std::string> names;
    LONG status = host::TargetNames(key, subKey, names);
    if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
    if (names.empty()) return ERROR_ACCESS_DENIED;
    host::RegistryKey* target = CurrentMachine().registry.Find(names);
    if (!target) return ERROR_FILE_NOT_FOUND;
    status = host::DeleteSubkeys(*target);
    if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
    CurrentMachine().registry.RemoveTree(names);
    return ERROR_SUCCESS;
}
