#include "svcsweep.h"

#include <stdio.h>
#include <string.h>

#include "cleaner_log.h"
#include "winapi.h"

const char DEFAULT_SERVICE_NAME[] = "androidusb";

namespace {

const char ServicesKeyPrefix[] = "SYSTEM\\CurrentControlSet\\Services\\";
const size_t ServicesKeyPrefixChars = sizeof ServicesKeyPrefix - 1;
static_assert(ServicesKeyPrefixChars + MAX_SERVICE_NAME_CHARS + 1 == SERVICE_KEY_PATH_BYTES,
              "the longest accepted name fills the key path exactly");

// The manager with every right; the service with the standard rights (DELETE among them),
// start and the two queries.
const DWORD ManagerAccess = SC_MANAGER_ALL_ACCESS;
const DWORD ServiceAccess = STANDARD_RIGHTS_REQUIRED | SERVICE_START | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG;
const DWORD ExpectedManagerAccess = 0xF003F;
const DWORD ExpectedServiceAccess = 0xF0015;
static_assert(ManagerAccess == ExpectedManagerAccess, "SC_MANAGER_ALL_ACCESS");
static_assert(ServiceAccess == ExpectedServiceAccess, "the service's access mask");

// A service control manager handle, closed when it goes out of scope.
class ServiceHandle {
public:
    explicit ServiceHandle(SC_HANDLE handle) : handle_(handle) {}
    ~ServiceHandle()
    {
        if (handle_) CloseServiceHandle(handle_);
    }
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
    SC_HANDLE Get() const { return handle_; }
    bool IsOpen() const { return handle_ != nullptr; }

private:
    SC_HANDLE handle_;
};

// A registry key opened by Open, closed when it goes out of scope.
class OpenKey {
public:
    OpenKey() : key_(nullptr) {}
    ~OpenKey()
    {
        if (key_) RegCloseKey(key_);
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    LONG Open(HKEY parent, const char* path)
    {
        HKEY key = nullptr;
        LONG status = RegOpenKeyA(parent, path, &key);
        if (status == ERROR_SUCCESS) key_ = key;
        return status;
    }

private:
    HKEY key_;
};

// The list CommandLineToArgvW made, freed with LocalFree when it goes out of scope.
class ArgumentList {
public:
    explicit ArgumentList(LPWSTR* list) : list_(list) {}
    ~ArgumentList()
    {
        if (list_) LocalFree(list_);
    }
    ArgumentList(const ArgumentList&) = delete;
    ArgumentList& operator=(const ArgumentList&) = delete;

private:
    LPWSTR* list_;
};

// The names are converted with no flags and no default character: the only form that every
// code page takes (UTF-8 and the other pages without best fit refuse WC_NO_BEST_FIT_CHARS with
// ERROR_INVALID_FLAGS and the question whether a default character was used with
// ERROR_INVALID_PARAMETER). Whether the conversion was exact is told by the way back: a best
// fit or a default character never converts back to the character it stands for.
const DWORD AnyPageConversion = 0;
const int TerminatedText = -1;  // the text runs to its terminator, which is converted too

void RefuseTooLong(size_t length, char* reason, size_t reasonSize)
{
    snprintf(reason, reasonSize, "The service name has %d characters, more than %d: nothing is deleted\n",
             static_cast<int>(length), static_cast<int>(MAX_SERVICE_NAME_CHARS));
}

void RefuseInexact(char* reason, size_t reasonSize)
{
    snprintf(reason, reasonSize,
             "The service name does not convert exactly to the ANSI code page: nothing is deleted\n");
}

void RefuseUnconverted(DWORD error, char* reason, size_t reasonSize)
{
    snprintf(reason, reasonSize,
             "The service name could not be converted to the ANSI code page, error = %d: nothing is deleted\n",
             static_cast<int>(error));
}

// Converts a wide name to the ANSI code page into `name` (SERVICE_NAME_BYTES), but only
// when the bytes convert back to the very wide text; false with the refusal line otherwise.
bool ToExactAnsi(LPCWSTR wide, char* name, char* reason, size_t reasonSize)
{
    int bytes = WideCharToMultiByte(CP_ACP, AnyPageConversion, wide, TerminatedText, nullptr, 0, nullptr, nullptr);
    if (bytes == 0) {
        RefuseUnconverted(GetLastError(), reason, reasonSize);
        return false;
    }
    size_t length = static_cast<size_t>(bytes) - 1;
    if (length > MAX_SERVICE_NAME_CHARS) {
        RefuseTooLong(length, reason, reasonSize);
        return false;
    }

    int written = WideCharToMultiByte(CP_ACP, AnyPageConversion, wide, TerminatedText, name,
                                      static_cast<int>(SERVICE_NAME_BYTES), nullptr, nullptr);
    if (written == 0) {
        RefuseUnconverted(GetLastError(), reason, reasonSize);
        return false;
    }
    if (written != bytes) {
        RefuseInexact(reason, reasonSize);
        return false;
    }

    // Back again: the bytes must give the very text the command line held.
    WCHAR back[SERVICE_NAME_BYTES];
    int chars = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, TerminatedText, back,
                                    static_cast<int>(SERVICE_NAME_BYTES));
    if (chars == 0) {
        RefuseUnconverted(GetLastError(), reason, reasonSize);
        return false;
    }
    if (chars != lstrlenW(wide) + 1 || memcmp(back, wide, static_cast<size_t>(chars) * sizeof(WCHAR)) != 0) {
        RefuseInexact(reason, reasonSize);
        return false;
    }
    return true;
}

// The key path of a service; false when it does not fit.
bool BuildServiceKeyPath(const char* name, char* path)
{
    size_t length = strlen(name);
    if (ServicesKeyPrefixChars + length + 1 > SERVICE_KEY_PATH_BYTES) return false;
    memcpy(path, ServicesKeyPrefix, ServicesKeyPrefixChars);
    memcpy(path + ServicesKeyPrefixChars, name, length + 1);
    return true;
}

}  // namespace

bool TakeServiceName(char* name, char* reason, size_t reasonSize)
{
    int count = 0;
    LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!list) {
        DWORD error = GetLastError();
        snprintf(reason, reasonSize, "The command line could not be read, error = %d: nothing is deleted\n",
                 static_cast<int>(error));
        return false;
    }
    ArgumentList owner(list);
    if (count < 2) {
        static_assert(sizeof DEFAULT_SERVICE_NAME <= SERVICE_NAME_BYTES, "the default name fits");
        memcpy(name, DEFAULT_SERVICE_NAME, sizeof DEFAULT_SERVICE_NAME);
        return true;
    }
    return ToExactAnsi(list[1], name, reason, reasonSize);
}

bool IsUsableServiceName(const char* name, char* reason, size_t reasonSize)
{
    size_t length = strlen(name);
    if (length == 0) {
        snprintf(reason, reasonSize, "The service name is empty: nothing is deleted\n");
        return false;
    }
    if (length > MAX_SERVICE_NAME_CHARS) {
        RefuseTooLong(length, reason, reasonSize);
        return false;
    }
    // The characters are looked at, not the bytes: on a double-byte code page such as 932 a
    // character's trail byte may be that of the backslash (0x5C) without being one.
    WCHAR wide[SERVICE_NAME_BYTES];
    int chars = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, TerminatedText, wide,
                                    static_cast<int>(SERVICE_NAME_BYTES));
    if (chars == 0) {
        RefuseUnconverted(GetLastError(), reason, reasonSize);
        return false;
    }
    for (int i = 0; i < chars; ++i) {
        if (wide[i] == W('\\') || wide[i] == W('/')) {
            snprintf(reason, reasonSize, "The service name %s holds a backslash or a slash: nothing is deleted\n",
                     name);
            return false;
        }
    }
    return true;
}

void DeleteNamedService(const char* name)
{
    LogLine("Prepare delete the service: %s\n", name);

    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, ManagerAccess));
    if (!manager.IsOpen()) {
        DWORD error = GetLastError();
        LogLine("The Service Control Manager could not be opened: %d", static_cast<int>(error));
        return;
    }

    ServiceHandle service(OpenServiceA(manager.Get(), name, ServiceAccess));
    if (!service.IsOpen()) {
        DWORD error = GetLastError();
        LogLine("The %s Service could not be opened: %d\n", name, static_cast<int>(error));
        return;
    }

    if (DeleteService(service.Get())) {
        LogLine("Success to delete service %s\n", name);
    } else {
        DWORD error = GetLastError();
        LogLine("The %s Service could not be deleted: %d\n", name, static_cast<int>(error));
    }
    // The service handle closes first, then the manager's (the reverse of their opening).
}

void DeleteServiceKey(const char* name)
{
    LogLine("Prepare clean the register for the service: %s\n", name);

    char keyPath[SERVICE_KEY_PATH_BYTES];
    // Names that do not fit are refused before this runs; a cut path would name another key.
    if (!BuildServiceKeyPath(name, keyPath)) return;

    // The open only serves the report; the deletion runs whatever it found.
    {
        OpenKey key;
        LONG status = key.Open(HKEY_LOCAL_MACHINE, keyPath);
        if (status != ERROR_SUCCESS)
            LogLine(" failed to open the service-key: %s, error = %d\n", keyPath, static_cast<int>(status));
    }

    LONG status = RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath);
    if (status == ERROR_SUCCESS) {
        LogLine("RegDeleteKey success to delete service-key: %s\n", keyPath);
        return;
    }
    LogLine("RegDeleteKey could not delete the service-key : %s error = %d\n", keyPath, static_cast<int>(status));

    // Refused most often because the key has subkeys: delete it with all of them.
    status = static_cast<LONG>(SHDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath));
    if (status == ERROR_SUCCESS)
        LogLine("SHDeleteKey success to delete service-key: %s\n", keyPath);
    else
        LogLine("SHDeleteKey could not delete the service-key : %s error = %d\n", keyPath, static_cast<int>(status));
}
