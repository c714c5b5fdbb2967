// Scoped owners of the handles the installer's operations acquire: each releases its handle
// when it leaves scope, so that a handle is released on the path that acquired it.
#pragma once

#include "winapi.h"

// Loads a library of the system folder by its file name ("newdev.dll"), never a file of that
// name in the folders that the standard search visits first: the program's own folder (a
// download or removable-media folder, for the field runner), the current folder, PATH. With
// the LOAD_LIBRARY_SEARCH_* flags where the loader has them, else by the system folder's full
// path. Null with the loader's error when it cannot be loaded: under WOW64 with redirection
// off the system folder holds the native 64-bit files, and the load fails, as a load by plain
// name does there.
HMODULE LoadSystemLibrary(const WCHAR* name);

// A library of the system folder loaded by name for the length of one call.
class LibraryGuard {
public:
    explicit LibraryGuard(const WCHAR* name) : module_(LoadSystemLibrary(name)) {}
    ~LibraryGuard()
    {
        if (module_) FreeLibrary(module_);
    }
    LibraryGuard(const LibraryGuard&) = delete;
    LibraryGuard& operator=(const LibraryGuard&) = delete;

    bool Loaded() const { return module_ != nullptr; }
    // The named export, or null when the library is not loaded or lacks it.
    FARPROC Function(const char* name) const { return module_ ? GetProcAddress(module_, name) : nullptr; }

private:
    HMODULE module_;
};

// A file search started with FindFirstFileW.
class FindGuard {
public:
    explicit FindGuard(HANDLE find) : find_(find) {}
    ~FindGuard()
    {
        if (find_ != INVALID_HANDLE_VALUE) FindClose(find_);
    }
    FindGuard(const FindGuard&) = delete;
    FindGuard& operator=(const FindGuard&) = delete;

    bool Found() const { return find_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return find_; }

private:
    HANDLE find_;
};

// A device information set.
class DeviceSetGuard {
public:
    explicit DeviceSetGuard(HDEVINFO devices) : devices_(devices) {}
    ~DeviceSetGuard()
    {
        if (devices_ != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(devices_);
    }
    DeviceSetGuard(const DeviceSetGuard&) = delete;
    DeviceSetGuard& operator=(const DeviceSetGuard&) = delete;

    bool Built() const { return devices_ != INVALID_HANDLE_VALUE; }
    HDEVINFO Get() const { return devices_; }

private:
    HDEVINFO devices_;
};

// A kernel handle (a file, an access token), closed with CloseHandle unless it was given
// away: a handle that another owner takes over is released from the guard first.
class HandleGuard {
public:
    explicit HandleGuard(HANDLE handle) : handle_(handle) {}
    ~HandleGuard()
    {
        if (Valid()) CloseHandle(handle_);
    }
    HandleGuard(const HandleGuard&) = delete;
    HandleGuard& operator=(const HandleGuard&) = delete;

    bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }
    HANDLE Release()
    {
        HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle;
    }

private:
    HANDLE handle_;
};
