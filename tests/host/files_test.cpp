// The host's file handles, owners and links: the Windows behaviour the installer log relies on.
#include "fixture.h"

#include <cstring>

#include "winapi.h"

namespace {

const char* const USER = "S-1-5-21-1004336348-1177238915-682003330-1013";
const DWORD APPEND_ACCESS = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL;
const DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE;
const DWORD CALLER_ERROR = 1234;

HANDLE Open(const std::u16string& path, DWORD disposition, DWORD flags = 0, DWORD access = APPEND_ACCESS)
{
    return CreateFileW(path.c_str(), access, SHARE_ALL, nullptr, disposition, flags, nullptr);
}

BY_HANDLE_FILE_INFORMATION Information(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION information = {};
    EXPECT_TRUE(GetFileInformationByHandle(file, &information));
    return information;
}

void Append(HANDLE file, const std::string& bytes)
{
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    EXPECT_EQ(written, bytes.size());
}

}  // namespace

class HostFiles : public MachineTest {};

TEST_F(HostFiles, OpenAlwaysTellsWhetherTheFileWasThere)
{
    HANDLE file = Open(u"C:\\Temp\\a.log", OPEN_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(CloseHandle(file));
    file = Open(u"C:\\Temp\\a.log", OPEN_ALWAYS);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_FALSE(CloseHandle(file));
    EXPECT_EQ(m().invalidCloses, 1);
    m().invalidCloses = 0;  // the second close was the point
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    EXPECT_EQ(Open(u"C:\\Temp\\b.log", OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Open(u"C:\\Nowhere\\b.log", OPEN_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(Open(u"C:\\Temp\\a.log", CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
}

TEST_F(HostFiles, LinkIsFollowedUnlessOpenedAsItself)
{
    m().WriteFile(u"C:\\Data\\target.txt", "t");
    m().MakeSymbolicLink(u"C:\\Temp\\link.log", u"C:\\Data\\target.txt");

    HANDLE followed = Open(u"C:\\Temp\\link.log", OPEN_EXISTING);
    ASSERT_NE(followed, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Information(followed).dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    Append(followed, "+");
    CloseHandle(followed);
    EXPECT_EQ(m().ReadFile(u"C:\\Data\\target.txt"), "t+");

    HANDLE itself = Open(u"C:\\Temp\\link.log", OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT);
    ASSERT_NE(itself, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    BY_HANDLE_FILE_INFORMATION link = Information(itself);
    EXPECT_EQ(link.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(link.nNumberOfLinks, 1u);
    CloseHandle(itself);
}

TEST_F(HostFiles, LinkToNothingGetsItsTargetMadeOnlyWhenFollowed)
{
    m().MakeSymbolicLink(u"C:\\Temp\\link.log", u"C:\\Data\\made.txt");
    m().MakeFolder(u"C:\\Data");
    EXPECT_EQ(Open(u"C:\\Temp\\link.log", CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_EQ(Open(u"C:\\Temp\\link.log", OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(m().Exists(u"C:\\Data\\made.txt"));

    HANDLE created = Open(u"C:\\Temp\\link.log", OPEN_ALWAYS);
    ASSERT_NE(created, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    CloseHandle(created);
    EXPECT_TRUE(m().Exists(u"C:\\Data\\made.txt"));
}

TEST_F(HostFiles, FoldersAndJunctionsOpenOnlyWithBackupSemantics)
{
    m().MakeFolder(u"C:\\Temp\\folder");
    m().MakeJunction(u"C:\\Temp\\junction", u"C:\\Windows");
    for (const char16_t* path : {u"C:\\Temp\\folder", u"C:\\Temp\\junction"}) {
        EXPECT_EQ(Open(path, OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    HANDLE junction =
        Open(u"C:\\Temp\\junction", OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS);
    ASSERT_NE(junction, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Information(junction).dwFileAttributes,
              static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
    CloseHandle(junction);
    HANDLE folder = Open(u"C:\\Temp\\folder", OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    EXPECT_EQ(Information(folder).dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(Information(folder).nNumberOfLinks, 1u);
    CloseHandle(folder);
}

TEST_F(HostFiles, HardLinksShareContentOwnerAndLinkCount)
{
    m().WriteFile(u"C:\\Data\\file.txt", "x");
    m().SetOwner(u"C:\\Data\\file.txt", USER);
    m().MakeHardLink(u"C:\\Temp\\other.log", u"C:\\Data\\file.txt");
    EXPECT_EQ(m().Owner(u"C:\\Temp\\other.log"), USER);

    HANDLE file = Open(u"C:\\Temp\\other.log", OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
    EXPECT_EQ(Information(file).nNumberOfLinks, 2u);
    EXPECT_EQ(Information(file).dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    Append(file, "y");
    CloseHandle(file);
    EXPECT_EQ(m().ReadFile(u"C:\\Data\\file.txt"), "xy");
}

// Room for an owner-only self-relative descriptor.
union OwnerDescriptor {
    SECURITY_DESCRIPTOR_RELATIVE header;
    BYTE bytes[sizeof(SECURITY_DESCRIPTOR_RELATIVE) + SECURITY_MAX_SID_SIZE];
};

TEST_F(HostFiles, OwnerIsReadWithReadControlIntoTheCallersBuffer)
{
    m().processUser = USER;
    OwnerDescriptor descriptor;
    DWORD needed = 0;
    HANDLE created = Open(u"C:\\Temp\\mine.log", CREATE_NEW, 0, FILE_APPEND_DATA);
    EXPECT_FALSE(GetKernelObjectSecurity(created, OWNER_SECURITY_INFORMATION, &descriptor, sizeof descriptor, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(created);
    EXPECT_FALSE(GetKernelObjectSecurity(created, OWNER_SECURITY_INFORMATION, &descriptor, sizeof descriptor, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    m().WriteFile(u"C:\\Temp\\theirs.log", "");
    for (const char16_t* path : {u"C:\\Temp\\mine.log", u"C:\\Temp\\theirs.log"}) {
        HANDLE file = Open(path, OPEN_EXISTING);
        std::memset(&descriptor, 0xCD, sizeof descriptor);
        const DWORD headerOnly = sizeof descriptor.header;
        EXPECT_FALSE(GetKernelObjectSecurity(file, OWNER_SECURITY_INFORMATION, &descriptor, headerOnly, &needed));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_GT(needed, headerOnly);
        EXPECT_EQ(descriptor.bytes[0], 0xCD);  // nothing copied

        ASSERT_TRUE(GetKernelObjectSecurity(file, OWNER_SECURITY_INFORMATION, &descriptor, needed, &needed));
        PSID owner = nullptr;
        BOOL defaulted = TRUE;
        ASSERT_TRUE(GetSecurityDescriptorOwner(&descriptor, &owner, &defaulted));
        EXPECT_FALSE(defaulted);
        EXPECT_EQ(host::SidText(owner),
                  path == std::u16string(u"C:\\Temp\\mine.log") ? USER : host::ADMINISTRATORS_SID);
        EXPECT_EQ(static_cast<BYTE*>(owner), descriptor.bytes + descriptor.header.Owner);
        CloseHandle(file);
    }

    // A descriptor of another revision is refused; one without an owner names none.
    descriptor.header.Revision = 2;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    EXPECT_FALSE(GetSecurityDescriptorOwner(&descriptor, &owner, &defaulted));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_REVISION));
    descriptor.header.Revision = SECURITY_DESCRIPTOR_REVISION;
    descriptor.header.Owner = 0;
    EXPECT_TRUE(GetSecurityDescriptorOwner(&descriptor, &owner, &defaulted));
    EXPECT_EQ(owner, nullptr);
}

TEST_F(HostFiles, TokenNamesTheProcessUserAndSidsCompareWithoutTouchingTheLastError)
{
    m().processUser = USER;
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } buffer;
    DWORD needed = 0;
    EXPECT_FALSE(GetTokenInformation(token, TokenUser, &buffer, sizeof(TOKEN_USER), &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(needed, sizeof(TOKEN_USER) + 28);  // five subauthorities
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, &buffer, sizeof(buffer), &needed));
    EXPECT_EQ(host::SidText(buffer.user.User.Sid), USER);
    EXPECT_TRUE(CloseHandle(token));

    std::vector<BYTE> user = host::SidBytes(USER), system = host::SidBytes(host::SYSTEM_SID),
                      administrators = host::SidBytes(host::ADMINISTRATORS_SID);
    SetLastError(CALLER_ERROR);
    EXPECT_TRUE(EqualSid(user.data(), buffer.user.User.Sid));
    EXPECT_FALSE(EqualSid(system.data(), buffer.user.User.Sid));
    EXPECT_TRUE(IsWellKnownSid(system.data(), WinLocalSystemSid));
    EXPECT_TRUE(IsWellKnownSid(administrators.data(), WinBuiltinAdministratorsSid));
    EXPECT_FALSE(IsWellKnownSid(user.data(), WinLocalSystemSid));
    EXPECT_EQ(GetLastError(), CALLER_ERROR);
}

TEST_F(HostFiles, DescriptorOwnsTheHandleAndTheStreamOwnsTheDescriptor)
{
    m().WriteFile(u"C:\\Temp\\t.log", "old");
    HANDLE file = Open(u"C:\\Temp\\t.log", OPEN_EXISTING);
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND | _O_TEXT | _O_WRONLY);
    ASSERT_NE(fd, -1);
    FILE* stream = _wfdopen(fd, u"at");
    ASSERT_NE(stream, nullptr);
    fwrite("a\nb", 1, 3, stream);
    EXPECT_EQ(fclose(stream), 0);
    EXPECT_EQ(m().ReadFile(u"C:\\Temp\\t.log"), "olda\r\nb");

    // Without a stream, _close takes the handle with the descriptor.
    file = Open(u"C:\\Temp\\t.log", OPEN_EXISTING);
    fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND | _O_WRONLY);
    EXPECT_EQ(_close(fd), 0);
    EXPECT_EQ(m().invalidCloses, 0);
    EXPECT_EQ(_close(fd), -1);
    EXPECT_EQ(m().invalidCloses, 1);
    m().invalidCloses = 0;                                                        // the second close was the point
    EXPECT_EQ(_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY), -1);  // a closed handle
}
