// The service control manager and the registry deletes that Svcsweep makes, and the access
// token and file owner that Drvmate's log checks.
#include <cstring>

#include "harness.h"
#include "winapi.h"

#include "setup.h"

namespace {

const std::string ServicesKey = "SYSTEM\\CurrentControlSet\\Services\\";
// The standard rights (DELETE among them), start and the two queries: Svcsweep's mask.
const DWORD ServiceAccess = STANDARD_RIGHTS_REQUIRED | SERVICE_START | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG;

std::string Uppercase(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

}  // namespace

CONFORMANCE_CASE(registry_deletes_of_a_service_key)
{
    const std::string key = ServicesKey + UniqueName("TesmarConformance");
    const std::string missing = ServicesKey + UniqueName("TesmarConformanceMissing");
    CHECK(MakeKey(key + "\\Enum\\Root"));

    HKEY opened = 0;
    CHECK_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, missing.c_str(), &opened), ERROR_FILE_NOT_FOUND);
    if (CHECK_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, Uppercase(key).c_str(), &opened), ERROR_SUCCESS))
        CHECK_EQ(RegCloseKey(opened), ERROR_SUCCESS);

    // A key with subkeys is refused; a missing one is not found.
    CHECK_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str()), ERROR_ACCESS_DENIED);
    CHECK(KeyIsThere(key + "\\Enum\\Root"));
    CHECK_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, missing.c_str()), ERROR_FILE_NOT_FOUND);

    // SHDeleteKeyA takes the key with everything below it.
    CHECK_EQ(SHDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str()), static_cast<DWORD>(ERROR_SUCCESS));
    CHECK(!KeyIsThere(key));
    CHECK_EQ(SHDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str()), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    // A key without subkeys goes with RegDeleteKeyA.
    CHECK(MakeKey(key));
    CHECK_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str()), ERROR_SUCCESS);
    CHECK(!KeyIsThere(key));
}

CONFORMANCE_CASE(service_marked_for_delete_goes_with_its_last_handle)
{
    const std::string name = UniqueName("TesmarConformance");
    if (!CHECK(AddService(name))) return;
    SC_HANDLE manager = OpenSCManagerA(0, 0, SC_MANAGER_ALL_ACCESS);
    if (!CHECK(manager != 0)) return;

    SetLastError(0);
    CHECK(OpenServiceA(manager, UniqueName("TesmarConformanceMissing").c_str(), ServiceAccess) == 0);
    CHECK_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);

    // Service names compare without regard to case.
    SC_HANDLE first = OpenServiceA(manager, name.c_str(), ServiceAccess);
    SC_HANDLE second = OpenServiceA(manager, Uppercase(name).c_str(), SERVICE_QUERY_STATUS);
    CHECK(first != 0);
    CHECK(second != 0);
    if (first) {
        CHECK(DeleteService(first));
        SetLastError(0);
        CHECK(!DeleteService(first));
        CHECK_EQ(GetLastError(), ERROR_SERVICE_MARKED_FOR_DELETE);
        CHECK(CloseServiceHandle(first));
    }
    if (second) CHECK(CloseServiceHandle(second));

    // With no handle left the service is gone, and its key with it.
    SetLastError(0);
    SC_HANDLE again = OpenServiceA(manager, name.c_str(), ServiceAccess);
    CHECK(again == 0);
    CHECK_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
    if (again) CloseServiceHandle(again);
    CHECK(!KeyIsThere(ServicesKey + name));
    CHECK(CloseServiceHandle(manager));
}

CONFORMANCE_CASE(token_user_and_owner_of_a_new_file)
{
    HANDLE token = 0;
    if (!CHECK(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))) return;
    // Too small a buffer says the size needed.
    BYTE small[4];
    DWORD needed = 0;
    SetLastError(0);
    CHECK(!GetTokenInformation(token, TokenUser, small, sizeof small, &needed));
    CHECK_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    CHECK(needed > sizeof small);
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } buffer;
    DWORD length = 0;
    CHECK(GetTokenInformation(token, TokenUser, &buffer, sizeof buffer, &length));
    CHECK(CloseHandle(token));

    // A file the process makes is owned by its user, or by Administrators for an administrator.
    HANDLE file = CreateFileW(InCase(W("owned.log")).c_str(), FILE_APPEND_DATA | READ_CONTROL, FILE_SHARE_READ, 0,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, 0);
    if (!CHECK(file != INVALID_HANDLE_VALUE)) return;
    // The owner comes back in a self-relative descriptor, and only whole: too small a buffer
    // gets nothing and the size needed.
    union {
        SECURITY_DESCRIPTOR_RELATIVE header;
        BYTE bytes[sizeof(SECURITY_DESCRIPTOR_RELATIVE) + SECURITY_MAX_SID_SIZE];
    } descriptor;
    std::memset(&descriptor, 0xCD, sizeof descriptor);
    needed = 0;
    SetLastError(0);
    CHECK(!GetKernelObjectSecurity(file, OWNER_SECURITY_INFORMATION, &descriptor, sizeof descriptor.header, &needed));
    CHECK_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    CHECK(needed > sizeof descriptor.header && needed <= sizeof descriptor);
    CHECK_EQ(descriptor.bytes[0], 0xCD);
    needed = 0;
    if (!CHECK(GetKernelObjectSecurity(file, OWNER_SECURITY_INFORMATION, &descriptor, sizeof descriptor, &needed))) {
        CloseHandle(file);
        return;
    }
    CHECK(descriptor.header.Control & SE_SELF_RELATIVE);
    PSID owner = 0;
    BOOL defaulted = TRUE;
    CHECK(GetSecurityDescriptorOwner(&descriptor, &owner, &defaulted));
    CHECK(!defaulted);
    if (CHECK(owner != 0))
        CHECK(EqualSid(owner, buffer.user.User.Sid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
              IsWellKnownSid(owner, WinLocalSystemSid));
    CHECK(CloseHandle(file));
}
