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
    LAYER_ENTER(FALSE);
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
    LAYER_ENTER(FALSE);
    LAYER_OBJECT(host::TokenObject, object, token, "token", FALSE);
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
    LAYER_ENTER(FALSE);
    size_t length = host::SidLength(first);
    if (!length || host::SidLength(second) != length) return FALSE;
    return std::memcmp(first, second, length) == 0 ? TRUE : FALSE;
}

BOOL WINAPI IsWellKnownSid(PSID sid, WELL_KNOWN_SID_TYPE type)
{
    LAYER_ENTER_INFALLIBLE();
    const char* wellKnown = host::WellKnownSidText(type);
    return host::SidLength(sid) && host::SidText(sid) == wellKnown ? TRUE : FALSE;
}

BOOL WINAPI GetKernelObjectSecurity(HANDLE handle, SECURITY_INFORMATION requested,
                                    PSECURITY_DESCRIPTOR securityDescriptor, DWORD length, LPDWORD lengthNeeded)
{
    LAYER_ENTER(FALSE);
    if (requested != OWNER_SECURITY_INFORMATION)
        host::Machine::Unsimulated("GetKernelObjectSecurity", "security information other than the owner");
    auto* file = host::CurrentMachine().FindKernelObject<host::FileObject>(handle, "file");
    if (!file) {
        if (host::CurrentMachine().kernelObjects.count(handle))
            host::Machine::Unsimulated("GetKernelObjectSecurity", "objects other than files");
        return host::WithLastError(ERROR_INVALID_HANDLE, FALSE);
    }
    // Reading the owner takes READ_CONTROL, granted when the handle was opened.
    if (!(file->access & READ_CONTROL)) return host::WithLastError(ERROR_ACCESS_DENIED, FALSE);
    if (!lengthNeeded) return host::WithLastError(ERROR_NOACCESS, FALSE);

    // A file on FAT has no security of its own: Windows answers with a descriptor that names
    // Everyone as the owner.
    host::Machine& m = host::CurrentMachine();
    bool fat = m.VolumeOfHostPath(file->hostPath).fileSystem == host::FileSystem::Fat;
    std::vector<BYTE> sid = host::SidBytes(fat ? host::EVERYONE_SID : m.OwnerOfOpenFile(file->fd));
    DWORD needed = static_cast<DWORD>(sizeof(SECURITY_DESCRIPTOR_RELATIVE) + sid.size());
    *lengthNeeded = needed;
    // Nothing of the descriptor is copied unless all of it fits.
    if (!securityDescriptor || length < needed) return host::WithLastError(ERROR_INSUFFICIENT_BUFFER, FALSE);
    SECURITY_DESCRIPTOR_RELATIVE header = {};
    header.Revision = SECURITY_DESCRIPTOR_REVISION;
    header.Control = SE_SELF_RELATIVE;
    header.Owner = sizeof header;
    BYTE* bytes = static_cast<BYTE*>(securityDescriptor);
    std::memcpy(bytes, &header, sizeof header);
    std::memcpy(bytes + header.Owner, sid.data(), sid.size());
    return TRUE;
}

BOOL WINAPI GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR securityDescriptor, PSID* owner, LPBOOL ownerDefaulted)
{
    LAYER_ENTER(FALSE);
    if (!securityDescriptor || !owner || !ownerDefaulted) return host::WithLastError(ERROR_NOACCESS, FALSE);
    SECURITY_DESCRIPTOR_RELATIVE header;
    std::memcpy(&header, securityDescriptor, sizeof header);
    if (header.Revision != SECURITY_DESCRIPTOR_REVISION) return host::WithLastError(ERROR_UNKNOWN_REVISION, FALSE);
    if (!(header.Control & SE_SELF_RELATIVE))
        host::Machine::Unsimulated("GetSecurityDescriptorOwner", "absolute security descriptors");
    *owner = header.Owner ? static_cast<BYTE*>(securityDescriptor) + header.Owner : nullptr;
    *ownerDefaulted = (header.Control & SE_OWNER_DEFAULTED) ? TRUE : FALSE;
    return TRUE;
}
