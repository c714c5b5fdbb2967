// File searches, attributes, deletion and opening: how Drvmate finds INFs, store INFs and
// driver binaries, deletes them, and opens its log.
#include "harness.h"
#include "winapi.h"

#include <algorithm>
#include <vector>

#include "case_text.h"
#include "known_differences.h"
#include "setup.h"

namespace {

struct Found {
    Text name;
    Text shortName;  // cAlternateFileName
    DWORD attributes;
    DWORD size;
};

// What a search finds, in upper-case order (the file system decides the order it gives);
// `error` is the last error of the call that ended the search.
std::vector<Found> Search(const Text& pattern, DWORD* error)
{
    std::vector<Found> found;
    WIN32_FIND_DATAW data;
    SetLastError(0);
    HANDLE find = FindFirstFileW(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return found;
    }
    BOOL more = TRUE;
    for (; more; more = FindNextFileW(find, &data)) {
        Text name = Within(data.cFileName, MAX_PATH);
        if (name == W(".") || name == W("..")) continue;
        found.push_back(Found{name, Within(data.cAlternateFileName, 14), data.dwFileAttributes, data.nFileSizeLow});
    }
    *error = GetLastError();
    CHECK(FindClose(find));
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return Upper(a.name) < Upper(b.name); });
    return found;
}

const Found* Named(const std::vector<Found>& found, const Text& name)
{
    for (const Found& entry : found)
        if (entry.name == name) return &entry;
    return 0;
}

// Whether a name matches "*.inf" the way the product's patterns are meant: it ends in ".inf".
bool EndsInInf(const Text& name) { return name.size() >= 4 && Upper(name.substr(name.size() - 4)) == W(".INF"); }

}  // namespace

CONFORMANCE_CASE(search_matches_names_without_regard_to_case)
{
    for (const char* name : {"X.INF", "y.inf", "Mixed.Inf", "x.info", "a.inf.txt", "inf", "driver.sys"})
        CHECK(PutFile(InCase(Wide(name)), "data"));
    CHECK(MakeFolder(InCase(W("dir.inf"))));

    DWORD error = 0;
    std::vector<Found> found = Search(InCase(W("*.inf")), &error);
    CHECK_EQ(error, ERROR_NO_MORE_FILES);
    // Every name that ends in ".inf" is found, a folder's too, each as it is written.
    for (const char* name : {"dir.inf", "Mixed.Inf", "X.INF", "y.inf"}) CHECK(Named(found, Wide(name)) != 0);
    const Found* folder = Named(found, W("dir.inf"));
    CHECK(folder && (folder->attributes & FILE_ATTRIBUTE_DIRECTORY));
    const Found* file = Named(found, W("X.INF"));
    CHECK(file && !(file->attributes & FILE_ATTRIBUTE_DIRECTORY) && file->size == 4);
    // Anything else only through a short (8.3) name that matches: "x.info" is "X~1.INF" on a
    // volume that makes short names, and no match where there are none.
    for (const Found& entry : found) CHECK(EndsInInf(entry.name) || EndsInInf(entry.shortName));
    CHECK(Named(found, W("a.inf.txt")) == 0);
    CHECK(Named(found, W("inf")) == 0);

    // The pattern's case does not matter either.
    std::vector<Found> upper = Search(InCase(W("*.INF")), &error);
    CHECK_EQ(upper.size(), found.size());
    std::vector<Found> drivers = Search(InCase(W("*.SYS")), &error);
    CHECK(drivers.size() == 1 && drivers[0].name == W("driver.sys"));
    std::vector<Found> exact = Search(InCase(W("x.inf")), &error);
    CHECK(exact.size() == 1 && exact[0].name == W("X.INF"));
}

CONFORMANCE_CASE(search_matches_short_names_where_the_volume_makes_them)
{
    if (!VolumeMakesShortNames()) {
        Note("the volume makes no short names: nothing to match");
        return;
    }
    for (const char* name : {"bystander.sys_old", "driver.sys", "oem5.inf_old", "oem6.inf"})
        CHECK(PutFile(InCase(Wide(name)), "data"));
    DWORD error = 0;
    // "bystander.sys_old" is found through its short name, which the search reports beside it;
    // a valid 8.3 name has no short name of its own.
    std::vector<Found> drivers = Search(InCase(W("*.SYS")), &error);
    CHECK_EQ(error, ERROR_NO_MORE_FILES);
    CHECK_EQ(drivers.size(), 2u);
    const Found* alias = Named(drivers, W("bystander.sys_old"));
    if (!CHECK(alias != 0)) return;
    if (Checked(WINE_HASHED_SHORT_NAMES)) CHECK_EQ(alias->shortName, Text(W("BYSTAN~1.SYS")));
    const Found* plain = Named(drivers, W("driver.sys"));
    if (CHECK(plain != 0)) CHECK(plain->shortName.empty());
    std::vector<Found> store = Search(InCase(W("oem*.inf")), &error);
    CHECK_EQ(store.size(), 2u);
    CHECK(Named(store, W("oem5.inf_old")) != 0);
    // The short name opens the file as its long name does.
    CHECK(GetFileAttributesW(InCase(alias->shortName).c_str()) != INVALID_FILE_ATTRIBUTES);
}

CONFORMANCE_CASE(search_of_store_names)
{
    for (const char* name : {"oem0.inf", "OEM12.INF", "oemx.inf", "oem3.PNF", "other.inf", "xoem1.inf"})
        CHECK(PutFile(InCase(Wide(name)), "data"));
    DWORD error = 0;
    std::vector<Found> found = Search(InCase(W("oem*.inf")), &error);
    CHECK_EQ(error, ERROR_NO_MORE_FILES);
    CHECK_EQ(found.size(), 3u);
    for (const char* name : {"oem0.inf", "OEM12.INF", "oemx.inf"}) CHECK(Named(found, Wide(name)) != 0);
}

CONFORMANCE_CASE(search_that_finds_nothing_says_why)
{
    WIN32_FIND_DATAW data;
    CHECK(PutFile(InCase(W("driver.sys")), "data"));
    SetLastError(0);
    CHECK(FindFirstFileW(InCase(W("*.inf")).c_str(), &data) == INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    SetLastError(0);
    CHECK(FindFirstFileW(InCase(W("missing.inf")).c_str(), &data) == INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    SetLastError(0);
    CHECK(FindFirstFileW(InCase(W("missing\\*.inf")).c_str(), &data) == INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

CONFORMANCE_CASE(delete_file_says_why_it_could_not)
{
    const Text file = InCase(W("driver.sys"));
    const Text readOnly = InCase(W("locked.sys"));
    const Text folder = InCase(W("drivers"));
    CHECK(PutFile(file, "data"));
    CHECK(PutFile(readOnly, "data"));
    CHECK(MakeReadOnly(readOnly));
    CHECK(MakeFolder(folder));

    SetLastError(0);
    CHECK(!DeleteFileW(InCase(W("missing.sys")).c_str()));
    CHECK_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    SetLastError(0);
    CHECK(!DeleteFileW(InCase(W("missing\\driver.sys")).c_str()));
    CHECK_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    SetLastError(0);
    CHECK(!DeleteFileW(readOnly.c_str()));
    CHECK_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CHECK(IsThere(readOnly));
    SetLastError(0);
    CHECK(!DeleteFileW(folder.c_str()));
    CHECK_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CHECK(IsThere(folder));

    CHECK(DeleteFileW(file.c_str()));
    CHECK(!IsThere(file));
}

CONFORMANCE_CASE(file_attributes_of_files_folders_and_missing_names)
{
    const Text readOnly = InCase(W("locked.inf"));
    CHECK(PutFile(InCase(W("driver.inf")), "data"));
    CHECK(PutFile(readOnly, "data"));
    CHECK(MakeReadOnly(readOnly));

    DWORD plain = GetFileAttributesW(InCase(W("driver.inf")).c_str());
    CHECK(plain != INVALID_FILE_ATTRIBUTES && !(plain & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)));
    DWORD locked = GetFileAttributesW(readOnly.c_str());
    CHECK(locked != INVALID_FILE_ATTRIBUTES && (locked & FILE_ATTRIBUTE_READONLY));
    DWORD folder = GetFileAttributesW(CaseFolder().c_str());
    CHECK(folder != INVALID_FILE_ATTRIBUTES && (folder & FILE_ATTRIBUTE_DIRECTORY));

    SetLastError(0);
    CHECK_EQ(GetFileAttributesW(InCase(W("missing.inf")).c_str()), INVALID_FILE_ATTRIBUTES);
    CHECK_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    SetLastError(0);
    CHECK_EQ(GetFileAttributesW(InCase(W("missing\\driver.inf")).c_str()), INVALID_FILE_ATTRIBUTES);
    CHECK_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

CONFORMANCE_CASE(create_file_dispositions)
{
    const Text existing = InCase(W("drvmate.log"));
    const Text fresh = InCase(W("fresh.log"));
    CHECK(PutFile(existing, "ab"));
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;

    SetLastError(0);
    CHECK(CreateFileW(existing.c_str(), GENERIC_WRITE, share, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, 0) ==
          INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_FILE_EXISTS);
    CHECK_EQ(FileBytes(existing), "ab");

    SetLastError(0);
    CHECK(CreateFileW(fresh.c_str(), GENERIC_READ, share, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0) ==
          INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    SetLastError(0);
    CHECK(CreateFileW(InCase(W("missing\\drvmate.log")).c_str(), GENERIC_READ, share, 0, OPEN_EXISTING,
                      FILE_ATTRIBUTE_NORMAL, 0) == INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

    // OPEN_ALWAYS says whether it found the file: ERROR_ALREADY_EXISTS, else 0.
    const DWORD notSet = 0xDEAD;
    SetLastError(notSet);
    HANDLE opened = CreateFileW(existing.c_str(), GENERIC_READ, share, 0, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    CHECK(opened != INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    if (opened != INVALID_HANDLE_VALUE) CHECK(CloseHandle(opened));
    SetLastError(notSet);
    HANDLE created = CreateFileW(fresh.c_str(), GENERIC_READ, share, 0, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    CHECK(created != INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), 0u);
    if (created != INVALID_HANDLE_VALUE) CHECK(CloseHandle(created));
    CHECK(IsThere(fresh));

    // CREATE_NEW makes a file where there is none; CREATE_ALWAYS empties one that is there.
    const Text made = InCase(W("made.log"));
    HANDLE newFile = CreateFileW(made.c_str(), GENERIC_WRITE, share, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, 0);
    CHECK(newFile != INVALID_HANDLE_VALUE);
    if (newFile != INVALID_HANDLE_VALUE) CHECK(CloseHandle(newFile));
    CHECK(IsThere(made));
    SetLastError(notSet);
    HANDLE emptied = CreateFileW(existing.c_str(), GENERIC_WRITE, share, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    CHECK(emptied != INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    if (emptied != INVALID_HANDLE_VALUE) CHECK(CloseHandle(emptied));
    CHECK_EQ(FileBytes(existing), "");
}

CONFORMANCE_CASE(create_file_opens_the_log_for_appending)
{
    // The log's own open: append only, the attributes and the owner readable, links not followed.
    const DWORD access = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    const Text log = InCase(W("drvmate.log"));
    CHECK(PutFile(log, "ab"));
    HANDLE file = CreateFileW(log.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_EXISTING, flags, 0);
    if (!CHECK(file != INVALID_HANDLE_VALUE)) return;
    DWORD written = 0;
    CHECK(WriteFile(file, "cd", 2, &written, 0));
    CHECK_EQ(written, 2u);
    BY_HANDLE_FILE_INFORMATION information;
    CHECK(GetFileInformationByHandle(file, &information));
    CHECK_EQ(information.nNumberOfLinks, 1u);
    CHECK_EQ(information.nFileSizeLow, 4u);
    CHECK(!(information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)));
    // The same through the two small records.
    FILE_STANDARD_INFO standard = {};
    CHECK(GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard));
    CHECK_EQ(standard.NumberOfLinks, 1u);
    CHECK_EQ(standard.EndOfFile.QuadPart, 4);
    CHECK(!standard.Directory);
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    CHECK(GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag));
    CHECK(!(tag.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)));
    SetLastError(0);
    CHECK(!GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard - 1));
    CHECK_EQ(GetLastError(), ERROR_BAD_LENGTH);
    CHECK(CloseHandle(file));
    CHECK_EQ(FileBytes(log), "abcd");

    // A folder opens only with FILE_FLAG_BACKUP_SEMANTICS.
    SetLastError(0);
    CHECK(CreateFileW(CaseFolder().c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_EXISTING, flags, 0) ==
          INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    HANDLE folder = CreateFileW(CaseFolder().c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, 0,
                                OPEN_EXISTING, flags | FILE_FLAG_BACKUP_SEMANTICS, 0);
    if (!CHECK(folder != INVALID_HANDLE_VALUE)) return;
    CHECK(GetFileInformationByHandle(folder, &information));
    CHECK(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    CHECK(GetFileInformationByHandleEx(folder, FileStandardInfo, &standard, sizeof standard));
    CHECK(standard.Directory);
    CHECK(GetFileInformationByHandleEx(folder, FileAttributeTagInfo, &tag, sizeof tag));
    CHECK(tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    CHECK(CloseHandle(folder));
}

CONFORMANCE_CASE(file_version_of_a_file_with_and_without_one)
{
    // A file with a version resource: its size, the block, and the fixed part inside it.
    Text versioned = VersionedFile();
    DWORD handle = 7;
    DWORD size = GetFileVersionInfoSizeW(versioned.c_str(), &handle);
    CHECK(size >= sizeof(VS_FIXEDFILEINFO));
    CHECK_EQ(handle, 0u);
    if (size >= sizeof(VS_FIXEDFILEINFO)) {
        std::vector<BYTE> block(size);
        CHECK(GetFileVersionInfoW(versioned.c_str(), 0, size, block.data()));
        LPVOID value = nullptr;
        UINT length = 0;
        if (CHECK(VerQueryValueW(block.data(), W("\\"), &value, &length))) {
            CHECK_EQ(length, static_cast<UINT>(sizeof(VS_FIXEDFILEINFO)));
            const VS_FIXEDFILEINFO* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
            CHECK(value >= static_cast<void*>(block.data()) && value < static_cast<void*>(block.data() + size));
            CHECK_EQ(fixed->dwSignature, static_cast<DWORD>(VS_FFI_SIGNATURE));
            CHECK(fixed->dwFileVersionMS != 0);
        }
    }
    // A file without one, and a file that is not there.
    const Text plain = InCase(W("plain.sys"));
    if (!CHECK(PutFile(plain, "not a driver"))) return;
    SetLastError(0);
    CHECK_EQ(GetFileVersionInfoSizeW(plain.c_str(), &handle), 0u);
    CHECK(GetLastError() != 0);
    SetLastError(0);
    CHECK_EQ(GetFileVersionInfoSizeW(InCase(W("missing.sys")).c_str(), &handle), 0u);
    CHECK_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

CONFORMANCE_CASE(open_that_an_open_handle_does_not_share_is_a_sharing_violation)
{
    const Text file = InCase(W("drvmate.log"));
    CHECK(PutFile(file, "log"));
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE reader = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    if (!CHECK(reader != INVALID_HANDLE_VALUE)) return;
    // The reader shares reading only: a writer, even one that shares everything, is refused,
    // and so is a reader that does not let the first one read, and the deletion.
    SetLastError(0);
    CHECK(CreateFileW(file.c_str(), FILE_APPEND_DATA, share, 0, OPEN_EXISTING, 0, 0) == INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    SetLastError(0);
    CHECK(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_WRITE, 0, OPEN_EXISTING, 0, 0) == INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    SetLastError(0);
    CHECK(!DeleteFileW(file.c_str()));
    CHECK_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    HANDLE second = CreateFileW(file.c_str(), GENERIC_READ, share, 0, OPEN_EXISTING, 0, 0);
    CHECK(second != INVALID_HANDLE_VALUE);
    if (second != INVALID_HANDLE_VALUE) CHECK(CloseHandle(second));
    CHECK(CloseHandle(reader));

    // A reader that shares writing lets the appending open in.
    reader = CreateFileW(file.c_str(), GENERIC_READ, share, 0, OPEN_EXISTING, 0, 0);
    if (!CHECK(reader != INVALID_HANDLE_VALUE)) return;
    HANDLE writer = CreateFileW(file.c_str(), FILE_APPEND_DATA, share, 0, OPEN_EXISTING, 0, 0);
    CHECK(writer != INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE) CHECK(CloseHandle(writer));
    CHECK(CloseHandle(reader));
}

CONFORMANCE_CASE(volume_of_the_log_by_its_path)
{
    // Windows XP's way to the log's volume, which has no GetVolumeInformationByHandleW: the root
    // of the log's path, then that root's flags. NTFS keeps owners (FILE_PERSISTENT_ACLS).
    const Text log = InCase(W("drvmate.log"));
    CHECK(PutFile(log, "ab"));
    const Text root = CaseFolder().substr(0, 3);
    WCHAR buffer[MAX_PATH];
    CHECK(GetVolumePathNameW(log.c_str(), buffer, MAX_PATH));
    CHECK_EQ(Within(buffer, MAX_PATH), root);
    // One character short: the root without its trailing backslash; shorter still: a failure.
    CHECK(GetVolumePathNameW(log.c_str(), buffer, 3));
    CHECK_EQ(Within(buffer, 3), root.substr(0, 2));
    SetLastError(0);
    CHECK(!GetVolumePathNameW(log.c_str(), buffer, 2));
    CHECK_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
    SetLastError(ERROR_ACCESS_DENIED);
    CHECK(!GetVolumePathNameW(W(""), buffer, MAX_PATH));
    if (Checked(WINE_VOLUME_PATH_OF_EMPTY_NAME)) CHECK_EQ(GetLastError(), ERROR_SUCCESS);

    DWORD flags = 0;
    WCHAR fileSystem[MAX_PATH + 1];
    CHECK(GetVolumeInformationW(root.c_str(), 0, 0, 0, 0, &flags, fileSystem, MAX_PATH + 1));
    CHECK(flags & FILE_PERSISTENT_ACLS);
    // What the handle's volume tells.
    HANDLE file = CreateFileW(log.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, 0);
    if (!CHECK(file != INVALID_HANDLE_VALUE)) return;
    DWORD handleFlags = 0;
    CHECK(GetVolumeInformationByHandleW(file, 0, 0, 0, 0, &handleFlags, 0, 0));
    CHECK_EQ(handleFlags, flags);
    CHECK(CloseHandle(file));
    // The root needs its trailing backslash: "X:" is the drive's current folder, here the case's
    // folder. A folder below the root is no root.
    CHECK(SetCurrentFolder(CaseFolder()));
    if (Checked(WINE_VOLUME_ROOT_WITHOUT_BACKSLASH)) {
        SetLastError(0);
        CHECK(!GetVolumeInformationW(root.substr(0, 2).c_str(), 0, 0, 0, 0, &flags, 0, 0));
        CHECK_EQ(GetLastError(), ERROR_INVALID_NAME);
    }
    SetLastError(0);
    CHECK(!GetVolumeInformationW((CaseFolder() + W("\\")).c_str(), 0, 0, 0, 0, &flags, 0, 0));
    CHECK_EQ(GetLastError(), ERROR_DIR_NOT_ROOT);
}
