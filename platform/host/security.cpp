// advapi32's tokens, SIDs and file security over the simulated machine.
#include "security.h"

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "kernel32.h"
#include "layer.h"

namespace host {
namespace {

// The process's access token: the user it was opened for and the rights granted on it.
struct TokenObject : KernelObject {
    TokenObject() : KernelObject("token") {}
    DWORD access = 0;
    std::string user;
};

// A self-relative SECURITY_DESCRIPTOR (winnt.h): the header, then the parts at offsets.
struct SelfRelativeDescriptor {
    BYTE Revision;
    BYTE Sbz1;
    WORD Control;
    DWORD OffsetOwner;
    DWORD OffsetGroup;
    DWORD OffsetSacl;
    DWORD OffsetDacl;
};
const BYTE SECURITY_DESCRIPTOR_REVISION_1 = 1;
const WORD SE_SELF_RELATIVE = 0x8000;

const char* WellKnownSidText(WELL_KNOWN_SID_TYPE type)
{
    switch (type) {
    case WinLocalSystemSid: return "S-1-5-18";
    case WinLocalServiceSid: return "S-1-5-19";
    case WinNetworkServiceSid: return "S-1-5-20";
    case WinBuiltinDomainSid: return "S-1-5-32";
    case WinBuiltinAdministratorsSid: return "S-1-5-32-544";
    case WinBuiltinUsersSid: return "S-1-5-32-545";
    }
    Machine::Unsimulated("IsWellKnownSid", "SID type " + std::to_string(static_cast<int>(type)));
}

}  // namespace
}  // namespace host

using host::CurrentMachine;

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD desiredAccess, PHANDLE token)
{
    DWORD code;
    if (CurrentMachine().Enter("OpenProcessToken", &code)) return host::WithLastError(code, FALSE);
    if (process != GetCurrentProcess())
        host::Machine::Unsimulated("OpenProcessToken", "a process other than the current one");
    if (!token) return host::WithLastError(ERROR_INVALID_PARAMETER, FALSE);
    auto object = std::make_unique<host::TokenObject>();
    object->access = desiredAccess;
    object->user = CurrentMachine().processUser;
    *token = host::CurrentMachine().AddKernelObject(std::move(object));
    return TRUE;
}

BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass, LPVOID information,
                                DWORD length, PDWORD returnLength)
{
    DWORD code;
    if (CurrentMachine().Enter("GetTokenInformation", &code)) return host::WithLastError(code, FALSE);
    auto* object = host::CurrentMachine().FindKernelObject<host::TokenObject>(token, "token");
    if (!object) return host::WithLastError(ERROR_INVALID_HANDLE, FALSE);
    if (informationClass != TokenUser)
        host::Machine::Unsimulated("GetTokenInformation",
                                   "information class " + std::to_string(static_cast<int>(informationClass)));
    if (!(object->access & TOKEN_QUERY)) return host::WithLastError(ERROR_ACCESS_DENIED, FALSE);
    if (!returnLength) return host::WithLastError(ERROR_INVALID_PARAMETER, FALSE);
    std::vector<BYTE> sid = host::SidBytes(object->user);
    DWORD needed = static_cast<DWORD>(sizeof(TOKEN_USER) + sid.size());
    *returnLength = needed;
    if (!information || length < needed) return host::WithLastError(ERROR_INSUFFICIENT_BUFFER, FALSE);
    auto* user = static_cast<TOKEN_USER*>(information);
    BYTE* sidAt = static_cast<BYTE*>(information) + sizeof(TOKEN_USER);
    std::memcpy(sidAt, sid.data(), sid.size());
    user->User.Sid = sidAt;
    user->User.Attributes = 0;
    return TRUE;
}

BOOL WINAPI EqualSid(PSID first, PSID second)
{
    DWORD code;
    if (CurrentMachine().Enter("EqualSid", &code)) return host::WithLastError(code, FALSE);
    size_t length = host::SidLength(first);
    if (!length || host::SidLength(second) != length) return FALSE;
    return std::memcmp(first, second, length) == 0 ? TRUE : FALSE;
}

BOOL WINAPI IsWellKnownSid(PSID sid, WELL_KNOWN_SID_TYPE type)
{
    CurrentMachine().EnterInfallible("IsWellKnownSid");
    const char* wellKnown = host::WellKnownSidText(type);
    return host::SidLength(sid) && host::SidText(sid) == wellKnown ? TRUE : FALSE;
}

DWORD WINAPI GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE objectType, SECURITY_INFORMATION securityInfo, PSID* owner,
                             PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* securityDescriptor)
{
    DWORD code;
    if (CurrentMachine().Enter("GetSecurityInfo", &code)) return code;
    if (securityInfo != OWNER_SECURITY_INFORMATION || group || dacl || sacl)
        host::Machine::Unsimulated("GetSecurityInfo", "security information other than the owner");
    if (objectType != SE_FILE_OBJECT) host::Machine::Unsimulated("GetSecurityInfo", "objects other than files");
    auto* file = host::CurrentMachine().FindKernelObject<host::FileObject>(handle, "file");
    if (!file) return ERROR_INVALID_HANDLE;
    // Reading the owner takes READ_CONTROL, granted when the handle was opened.
    if (!(file->access & READ_CONTROL)) return ERROR_ACCESS_DENIED;
    if (!securityDescriptor) return ERROR_INVALID_PARAMETER;

    std::string ownerText = host::CurrentMachine().OwnerOfOpenFile(file->fd);
    std::vector<BYTE> sid = host::SidBytes(ownerText);
    size_t size = sizeof(host::SelfRelativeDescriptor) + sid.size();
    auto* descriptor = static_cast<host::SelfRelativeDescriptor*>(host::CurrentMachine().AllocateLocal(size));
    descriptor->Revision = host::SECURITY_DESCRIPTOR_REVISION_1;
    descriptor->Control = host::SE_SELF_RELATIVE;
    descriptor->OffsetOwner = sizeof(host::SelfRelativeDescriptor);
    BYTE* sidAt = reinterpret_cast<BYTE*>(descriptor) + descriptor->OffsetOwner;
    std::memcpy(sidAt, sid.data(), sid.size());
    if (owner) *owner = sidAt;
    *securityDescriptor = descriptor;
    return ERROR_SUCCESS;
}
