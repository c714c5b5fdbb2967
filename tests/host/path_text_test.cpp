// The bounded copies and appends of path text: 260 characters of room at the position written,
// and never past the end of the buffer written.
#include <gtest/gtest.h>

#include <string>

#include "found_names.h"
#include "machine.h"
#include "text.h"

namespace {

std::u16string Text(char16_t c, size_t length) { return std::u16string(length, c); }
const WCHAR* Wide(const std::u16string& text) { return reinterpret_cast<const WCHAR*>(text.c_str()); }
std::u16string Read(const WCHAR* text) { return reinterpret_cast<const char16_t*>(text); }

}  // namespace

TEST(PathText, PathBufferHolds259Characters)
{
    WCHAR buffer[MAX_PATH];
    EXPECT_TRUE(CopyPathText(buffer, Wide(Text(u'a', 259))));
    EXPECT_FALSE(CopyPathText(buffer, Wide(Text(u'b', 260))));
    EXPECT_EQ(Read(buffer), Text(u'a', 259));  // a refused text leaves the buffer as it was

    CopyPathText(buffer, Wide(Text(u'a', 255)));
    EXPECT_FALSE(AppendPathText(buffer, W("*.SYS")));
    EXPECT_TRUE(AppendPathText(buffer, W("*.SY")));
    EXPECT_EQ(Read(buffer), Text(u'a', 255) + u"*.SY");
}

TEST(PathText, RoomAtAPositionEndsWithTheBuffer)
{
    // Behind a folder of 255 characters a 260-character buffer has room for four more and the
    // terminator, although 260 are counted from that position.
    WCHAR path[MAX_PATH];
    CopyPathText(path, Wide(Text(u'p', 254) + u"\\"));
    WCHAR* insertionPoint = path + 255;
    EXPECT_FALSE(CopyPathText(path, insertionPoint, W("*.SYS")));
    EXPECT_FALSE(AppendPathText(path, insertionPoint, W("*.SYS")));
    EXPECT_EQ(Read(path), Text(u'p', 254) + u"\\");
    EXPECT_TRUE(CopyPathText(path, insertionPoint, W(".inf")));
    EXPECT_FALSE(AppendPathText(path, insertionPoint, W("x")));
    // A position outside the buffer has no room at all.
    EXPECT_FALSE(CopyPathText(path, path + MAX_PATH, W("")));
}

TEST(PathText, SearchBufferTakesA259CharacterNameBehindA259CharacterFolder)
{
    WCHAR search[SEARCH_BUFFER_CHARS];
    EXPECT_TRUE(CopyPathText(search, Wide(Text(u'f', 258) + u"\\")));
    WCHAR* insertionPoint = search + 259;
    EXPECT_TRUE(CopyPathText(search, insertionPoint, Wide(Text(u'n', 259))));
    EXPECT_FALSE(CopyPathText(search, insertionPoint, Wide(Text(u'n', 260))));
    EXPECT_TRUE(CopyNameAtInsertionPoint(insertionPoint, Wide(Text(u'm', 259))));
    EXPECT_EQ(Read(search), Text(u'f', 258) + u"\\" + Text(u'm', 259));

    // Further on, the buffer's end bounds what is written: 519 is its last character.
    WCHAR* nearEnd = search + 517;
    EXPECT_TRUE(CopyPathText(search, nearEnd, W("xy")));
    EXPECT_FALSE(CopyPathText(search, nearEnd, W("PNF")));
    EXPECT_FALSE(AppendPathText(search, nearEnd, W("z")));
}

// What Windows documents for GetModuleFileNameW, which the sequences rely on: a path that
// reaches the buffer's size is cut to the size less one, terminated, and the size returned,
// with ERROR_INSUFFICIENT_BUFFER.
TEST(ModuleFileName, PathThatReachesTheSizeIsCut)
{
    host::Machine& m = host::ResetMachine();
    m.moduleFileName = u"C:\\Field\\drvrun.exe";  // 19 characters
    WCHAR buffer[32];
    for (WCHAR& c : buffer) c = W('#');
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, 20), 19u);
    EXPECT_EQ(Read(buffer), u"C:\\Field\\drvrun.exe");

    EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, 19), 19u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(Read(buffer), u"C:\\Field\\drvrun.ex");
    EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, 9), 9u);
    EXPECT_EQ(Read(buffer), u"C:\\Field");
}

TEST(SearchedNames, OnlyNamesThatMatchByThemselvesAreTaken)
{
    for (const FoundName& row : FOUND_NAMES)
        EXPECT_EQ(MatchesOwnName(row.name, row.pattern), row.taken)
            << row.search << " (" << host::U8(Read(row.pattern)) << "): " << host::U8(Read(row.name));
}
