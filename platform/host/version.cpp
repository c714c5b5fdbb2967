// The version resource of a file over the simulated machine: a file carries one when a test
// gave it a version (Machine::SetFileVersion). The block that GetFileVersionInfoW writes is a
// VS_VERSIONINFO as a version resource holds it: its header, the key "VS_VERSION_INFO" and,
// aligned to four bytes, the VS_FIXEDFILEINFO.
#include "version.h"

#include <cstring>

#include "layer.h"

namespace host {

namespace {

const char16_t VERSION_KEY[] = u"VS_VERSION_INFO";
const size_t FIXED_INFO_OFFSET = 40;  // 3 WORDs, the key with its terminator (32 bytes), padding
const size_t BLOCK_SIZE = FIXED_INFO_OFFSET + sizeof(VS_FIXEDFILEINFO);

// The file's version, or null with the last error set.
const FileVersion* VersionOf(LPCWSTR fileName)
{
    Machine& m = CurrentMachine();
    if (!fileName || !*fileName) return WithLastError(ERROR_INVALID_PARAMETER, nullptr);
    std::u16string full = m.Redirected(m.FullPath(std::u16string(fileName)));
    std::string hostPath = m.HostPath(full);
    if (hostPath.empty()) return WithLastError(ERROR_INVALID_NAME, nullptr);
    if (!m.Exists(full)) return WithLastError(ERROR_FILE_NOT_FOUND, nullptr);
    auto it = m.fileVersions.find(Upper(full));
    if (it == m.fileVersions.end()) return WithLastError(ERROR_RESOURCE_TYPE_NOT_FOUND, nullptr);
    return &it->second;
}

}  // namespace

}  // namespace host

DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR fileName, LPDWORD handle)
{
    LAYER_ENTER(0);
    if (handle) *handle = 0;
    return host::VersionOf(fileName) ? static_cast<DWORD>(host::BLOCK_SIZE) : 0;
}

BOOL WINAPI GetFileVersionInfoW(LPCWSTR fileName, DWORD handle, DWORD size, LPVOID data)
{
    (void)handle;  // ignored, as Windows ignores it
    LAYER_ENTER(FALSE);
    if (!data) return host::WithLastError(ERROR_INVALID_PARAMETER, FALSE);
    const host::FileVersion* version = host::VersionOf(fileName);
    if (!version) return FALSE;
    if (size < host::BLOCK_SIZE) return host::WithLastError(ERROR_INSUFFICIENT_BUFFER, FALSE);
    BYTE* block = static_cast<BYTE*>(data);
    std::memset(block, 0, host::BLOCK_SIZE);
    WORD header[3] = {static_cast<WORD>(host::BLOCK_SIZE), static_cast<WORD>(sizeof(VS_FIXEDFILEINFO)), 0};
    std::memcpy(block, header, sizeof header);
    std::memcpy(block + sizeof header, host::VERSION_KEY, sizeof host::VERSION_KEY);
    VS_FIXEDFILEINFO fixed = {};
    fixed.dwSignature = VS_FFI_SIGNATURE;
    fixed.dwStrucVersion = VS_FFI_STRUCVERSION;
    fixed.dwFileVersionMS = fixed.dwProductVersionMS = version->mostSignificant;
    fixed.dwFileVersionLS = fixed.dwProductVersionLS = version->leastSignificant;
    std::memcpy(block + host::FIXED_INFO_OFFSET, &fixed, sizeof fixed);
    return TRUE;
}

BOOL WINAPI VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* value, PUINT length)
{
    LAYER_ENTER_QUIET(FALSE);
    if (!block || !subBlock || !value || !length) return FALSE;
    const BYTE* bytes = static_cast<const BYTE*>(block);
    if (std::memcmp(bytes + 6, host::VERSION_KEY, sizeof host::VERSION_KEY) != 0) return FALSE;
    std::u16string path(subBlock);
    if (path != u"\\" && !path.empty())
        host::Machine::Unsimulated("VerQueryValueW", "the string and translation values: " + host::U8(path));
    *value = const_cast<BYTE*>(bytes + host::FIXED_INFO_OFFSET);
    *length = sizeof(VS_FIXEDFILEINFO);
    return TRUE;
}
