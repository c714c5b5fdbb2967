// The driver package as files: INF searches, an INF's device setup class, the driver store
// (staging and uninstalling OEM INFs) and the installed copies of the driver binaries.
#include "guards.h"
#include "installer.h"
#include "log.h"
#include "text.h"

namespace {

typedef BOOL(WINAPI* SetupUninstallOEMInfFunction)(PCWSTR infName, DWORD flags, PVOID reserved);

const WCHAR STORE_FOLDER[] = W("\\inf\\");
const WCHAR STORE_PATTERN[] = W("oem*.inf");
const WCHAR COMPANION_EXTENSION[] = W("PNF");
const WCHAR DRIVERS_FOLDER[] = W("\\drivers\\");

void ClearFindData(WIN32_FIND_DATAW* data)
{
    BYTE* bytes = reinterpret_cast<BYTE*>(data);
    for (size_t i = 0; i < sizeof(*data); ++i) bytes[i] = 0;
}

// The found name, cut to its buffer should the platform have left it unterminated.
const WCHAR* FoundName(WIN32_FIND_DATAW* data)
{
    data->cFileName[MAX_PATH - 1] = 0;
    return data->cFileName;
}

// Forms "<system folder>\drivers\" in a search buffer from a system-folder call's result.
// Returns the insertion point behind the last backslash, or null when the folder could not
// be read or does not fit.
WCHAR* DriversFolder(WCHAR (&buffer)[SEARCH_BUFFER_CHARS], UINT length)
{
    if (length == 0 || length >= MAX_PATH) {
        buffer[0] = 0;
        return nullptr;
    }
    if (!AppendPathText(buffer, DRIVERS_FOLDER)) return nullptr;
    return buffer + lstrlenW(buffer);
}

// Deletes the match at an insertion point of a drivers folder, logs the outcome with the
// line's format, and cuts the name off again.
void DeleteDriverFile(WCHAR (&folder)[SEARCH_BUFFER_CHARS], WCHAR* insertionPoint, const WCHAR* name,
                      const WCHAR* format)
{
    if (!CopyPathText(folder, insertionPoint, name)) return;
    LogMessage(format, folder, DeleteFileW(folder) ? 0 : static_cast<int>(GetLastError()));
    *insertionPoint = 0;
}

}  // namespace

HANDLE DeviceDriverInstaller::FindFirstInf(const WCHAR* pattern, WCHAR* insertionPoint)
{
    // The pattern's name part, kept: the found names are written over it.
    WCHAR namePattern[MAX_PATH];
    if (!pattern || !CopyPathText(namePattern, NamePart(pattern))) return INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW data;
    ClearFindData(&data);
    HANDLE find = FindFirstFileW(pattern, &data);
    if (find == INVALID_HANDLE_VALUE) return find;
    while (!MatchesOwnName(FoundName(&data), namePattern)) {
        ClearFindData(&data);
        if (!FindNextFileW(find, &data)) {
            // Only short-name aliases matched: as if nothing had.
            FindClose(find);
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
    }
    CopyNameAtInsertionPoint(insertionPoint, data.cFileName);
    LogMessage(W("infFile: %s\n"), data.cFileName);
    return find;
}

int DeviceDriverInstaller::FindNextInf(HANDLE find, WCHAR* insertionPoint, const WCHAR* namePattern)
{
    if (find == INVALID_HANDLE_VALUE) return 0;
    WIN32_FIND_DATAW data;
    do {
        ClearFindData(&data);
        if (!FindNextFileW(find, &data)) return 0;
    } while (!MatchesOwnName(FoundName(&data), namePattern));
    CopyNameAtInsertionPoint(insertionPoint, data.cFileName);
    LogMessage(W("infFile: %s\n"), data.cFileName);
    return 1;
}

int DeviceDriverInstaller::GetInfClassGuid(const WCHAR* infPath, GUID* classGuid)
{
    if (!infPath || !classGuid) return RESULT_FAILURE;
    WCHAR fullPath[MAX_PATH];
    if (!ResolveFullPath(infPath, fullPath)) return RESULT_FAILURE;
    GUID guid;
    WCHAR className[MAX_CLASS_NAME_LEN];
    if (!SetupDiGetINFClassW(fullPath, &guid, className, MAX_CLASS_NAME_LEN, nullptr)) return RESULT_FAILURE;
    *classGuid = guid;
    WCHAR classText[GUID_TEXT_CHARS];
    FormatGuid(guid, classText);
    LogMessage(W(" %s ClassGuid: %s\n"), infPath, classText);
    return RESULT_SUCCESS;
}

int DeviceDriverInstaller::AddDriverPackage(const WCHAR* infPath)
{
    if (!infPath) return RESULT_FAILURE;
    WCHAR fullPath[MAX_PATH];
    WCHAR* filePart = nullptr;
    if (!ResolveFullPath(infPath, fullPath, &filePart)) {
        LogMessage(W("GetFullPathName (%s) error: %d\n"), infPath, GetLastError());
        return RESULT_FAILURE;
    }
    WCHAR destination[MAX_PATH];
    WCHAR* destinationName = nullptr;
    if (!SetupCopyOEMInfW(fullPath, nullptr, SPOST_PATH, 0, destination, MAX_PATH, nullptr, &destinationName)) {
        LogMessage(W("SetupCopyOEMInf (%s) error: %d\n"), fullPath, GetLastError());
        return RESULT_FAILURE;
    }
    return RESULT_SUCCESS;
}

int DeviceDriverInstaller::DeleteDriverPackages(const WCHAR* text, int textIsInfPath)
{
    GUID classGuid;
    if (textIsInfPath) {
        int result = GetInfClassGuid(text, &classGuid);
        if (result != RESULT_SUCCESS) return result;
    } else if (CLSIDFromString(text, &classGuid) != NOERROR) {
        return RESULT_FAILURE;
    }

    WCHAR windowsDirectory[MAX_PATH];
    UINT length = GetWindowsDirectoryW(windowsDirectory, MAX_PATH);
    if (length == 0) {
        LogMessage(W("GetWindowsDir error: %d\n"), GetLastError());
        return RESULT_FAILURE;
    }
    // A Windows directory too long for the store's pattern is refused like an unreadable one.
    WCHAR pattern[SEARCH_BUFFER_CHARS];
    pattern[0] = 0;
    if (length >= MAX_PATH || !CopyPathText(pattern, windowsDirectory) || !AppendPathText(pattern, STORE_FOLDER)) {
        LogMessage(W("GetWindowsDir error: %d\n"), ERROR_INSUFFICIENT_BUFFER);
        return RESULT_FAILURE;
    }
    WCHAR* insertionPoint = pattern + lstrlenW(pattern);
    if (!AppendPathText(pattern, STORE_PATTERN)) {
        LogMessage(W("GetWindowsDir error: %d\n"), ERROR_INSUFFICIENT_BUFFER);
        return RESULT_FAILURE;
    }
    LogMessage(W("search oeminf: %s\n"), pattern);

    FindGuard find(FindFirstInf(pattern, insertionPoint));
    // The error that ended the search: "finish" only for a search that went through the whole
    // store (or found no store to go through), never for one the system refused or broke off.
    DWORD searchEnd = find.Found() ? ERROR_NO_MORE_FILES : GetLastError();
    if (find.Found()) {
        do {
            GUID infClass;
            if (GetInfClassGuid(pattern, &infClass) != RESULT_SUCCESS) continue;
            if (!IsEqualGUID(infClass, classGuid)) continue;
            if (DeleteDriverPackage(pattern) != RESULT_SUCCESS)
                LogMessage(W("DeleteDriverPackage (%s) error: %d\n"), pattern, GetLastError());
            else
                LogMessage(W("DeleteDriverPackage (%s) ok\n"), pattern);
            LogMessage(W("Delete File %s: %d\n"), pattern, DeleteFileW(pattern) ? 0 : static_cast<int>(GetLastError()));
            WCHAR* dot = FindLastChar(pattern, W('.'));
            if (!dot) continue;
            dot[1] = 0;
            if (!AppendPathText(pattern, dot + 1, COMPANION_EXTENSION)) continue;
            LogMessage(W("Delete File %s: %d\n"), pattern, DeleteFileW(pattern) ? 0 : static_cast<int>(GetLastError()));
        } while (FindNextInf(find.Get(), insertionPoint, STORE_PATTERN));
        searchEnd = GetLastError();
    }
    if (searchEnd != ERROR_NO_MORE_FILES && searchEnd != ERROR_FILE_NOT_FOUND && searchEnd != ERROR_PATH_NOT_FOUND) {
        LogMessage(W("DeleteDriverPackage error: %d\n"), searchEnd);
        return RESULT_FAILURE;
    }
    LogMessage(W("DeleteDriverPackage finish\n"));
    return RESULT_SUCCESS;
}

int DeviceDriverInstaller::DeleteDriverPackage(const WCHAR* infPath)
{
    if (!infPath) return RESULT_FAILURE;
    WCHAR fullPath[MAX_PATH];
    WCHAR* filePart = nullptr;
    if (!ResolveFullPath(infPath, fullPath, &filePart) || !filePart) return RESULT_FAILURE;

    LibraryGuard setupapi(W("setupapi.dll"));
    if (!setupapi.Loaded()) return RESULT_FAILURE;
    SetupUninstallOEMInfFunction uninstall =
        reinterpret_cast<SetupUninstallOEMInfFunction>(setupapi.Function("SetupUninstallOEMInfW"));
    if (!uninstall) return RESULT_FAILURE;
    return uninstall(filePart, SUOI_FORCEDELETE, nullptr) ? RESULT_SUCCESS : RESULT_FAILURE;
}

void DeviceDriverInstaller::DeleteDriverFiles(const WCHAR* pattern)
{
    WCHAR nativeFolder[SEARCH_BUFFER_CHARS] = {0};
    WCHAR* nativeInsertionPoint = DriversFolder(nativeFolder, GetSystemDirectoryW(nativeFolder, MAX_PATH));
    // Without the system directory there is no drivers folder to delete from.
    if (!nativeInsertionPoint) return;
    WCHAR wow64Folder[SEARCH_BUFFER_CHARS] = {0};
    WCHAR* wow64InsertionPoint = DriversFolder(wow64Folder, GetSystemWow64DirectoryW(wow64Folder, MAX_PATH));

    LogMessage(W("SearchSYS: %s\n"), pattern);
    // The pattern's name part, kept apart from the buffers that the deletions write into.
    WCHAR namePattern[MAX_PATH];
    if (!CopyPathText(namePattern, NamePart(pattern))) return;
    WIN32_FIND_DATAW data;
    ClearFindData(&data);
    FindGuard find(FindFirstFileW(pattern, &data));
    if (!find.Found()) return;
    do {
        const WCHAR* name = FoundName(&data);
        // A file that matches only by its short name is none of the package's binaries, and the
        // file of its long name in the drivers folders is someone else's.
        if (!MatchesOwnName(name, namePattern)) continue;
        DeleteDriverFile(nativeFolder, nativeInsertionPoint, name, W("delete driver file %s: %d\n"));
        if (wow64InsertionPoint)
            DeleteDriverFile(wow64Folder, wow64InsertionPoint, name, W("delete wow64 driver file %s: %d\n"));
    } while (FindNextFileW(find.Get(), &data));
}
