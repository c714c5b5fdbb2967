#include "fixture.h"

#include "winapi.h"

class InstallerLog : public MachineTest {};

TEST_F(InstallerLog, StoresUtf16WithTextModeLineEnds)
{
    LogMessage(W("ab\n"));
    EXPECT_EQ(LogBytes(), Bytes({0x61, 0x00, 0x62, 0x00, 0x0D, 0x0A, 0x00}));
}

TEST_F(InstallerLog, EveryByte0AGetsACarriageReturn)
{
    // U+0A41 is stored as 41 0A, U+010A as 0A 01: both bytes 0x0A gain a 0x0D in front.
    LogMessage(W("\x0A41\x010A\n"));
    EXPECT_EQ(LogBytes(), Bytes({0x41, 0x0D, 0x0A, 0x0D, 0x0A, 0x01, 0x0D, 0x0A, 0x00}));
    EXPECT_EQ(LogText(), "\u0A41\u010A\n");
}

TEST_F(InstallerLog, OneLinePerMessageWithOrWithoutLineEnd)
{
    LogMessage(W("Install ..."));
    LogMessage(W("IsWow64Process: %p\n"), reinterpret_cast<void*>(0x1234ABCD));
    EXPECT_EQ(LogText(), "Install ...\nIsWow64Process: 1234ABCD\n");
}

TEST_F(InstallerLog, LineFeedInTheMiddleGetsNoLineEndAppended)
{
    LogMessage(W("first\nsecond"));
    LogMessage(W("third"));
    EXPECT_EQ(LogText(), "first\nsecondthird\n");
}

TEST_F(InstallerLog, FormatsWideStringsNumbersAndHex)
{
    LogMessage(W("%s: %d error: 0x%08x {%.8x-%.4x-%.2x}"), W("name"), -5, 0x1F, 0xF72FE0D4u, 0x407d, 0x9e);
    EXPECT_EQ(LogText(), "name: -5 error: 0x0000001f {f72fe0d4-407d-9e}\n");
}

TEST_F(InstallerLog, TempUnsetOrEmptyDropsTheMessageAndCreatesNothing)
{
    m().environment.erase(u"TEMP");
    LogMessage(W("lost\n"));
    m().environment[u"TEMP"] = u"";
    LogMessage(W("lost too\n"));
    EXPECT_EQ(m().List(u"C:\\Temp").size(), 0u);
    EXPECT_EQ(m().Calls("CreateFileW"), 0);

    // Every message reads TEMP again.
    m().environment[u"TEMP"] = u"C:\\Temp";
    LogMessage(W("kept\n"));
    EXPECT_EQ(LogText(), "kept\n");
}

TEST_F(InstallerLog, TempThatLeavesNoRoomForTheFileNameDropsEveryMessage)
{
    // "\drvmate.log" is 12 characters: a TEMP of 247 characters gives a 259-character path.
    std::u16string fits = u"C:\\" + std::u16string(244, u'a');
    std::u16string tooLong = u"C:\\" + std::u16string(245, u'b');
    std::u16string of259 = u"C:\\" + std::u16string(256, u'c');
    std::u16string of260 = u"C:\\" + std::u16string(257, u'd');
    for (const auto& temp : {tooLong, of259, of260}) {
        m().environment[u"TEMP"] = temp;
        LogMessage(W("lost\n"));
        LogMessage(W("lost again\n"));
    }
    EXPECT_EQ(m().Calls("CreateFileW"), 0);

    m().MakeFolder(fits);
    m().environment[u"TEMP"] = fits;
    LogMessage(W("kept\n"));
    EXPECT_EQ(m().ReadFile(fits + u"\\drvmate.log"), Bytes({'k', 0, 'e', 0, 'p', 0, 't', 0, 0x0D, 0x0A, 0}));
}

TEST_F(InstallerLog, TempWithTrailingBackslashIsUsedUnchanged)
{
    m().environment[u"TEMP"] = u"C:\\Temp\\";
    LogMessage(W("x\n"));
    // Two backslashes before the name: Windows opens the same file as with one.
    ASSERT_FALSE(m().openedPaths.empty());
    for (const std::u16string& path : m().openedPaths) EXPECT_EQ(host::U8(path), "C:\\Temp\\\\drvmate.log");
    EXPECT_EQ(LogText(), "x\n");
}

TEST_F(InstallerLog, PathIsCachedAndTheFileMadeAgainWhenMovedAway)
{
    LogMessage(W("one\n"));
    m().Remove(LogPath());
    m().MakeFolder(u"C:\\Elsewhere");
    m().environment[u"TEMP"] = u"C:\\Elsewhere";
    LogMessage(W("two\n"));
    EXPECT_EQ(LogText(), "two\n");
    EXPECT_FALSE(m().Exists(u"C:\\Elsewhere\\drvmate.log"));
}

TEST_F(InstallerLog, FailedOpenDropsOnlyThatMessage)
{
    m().Fail("CreateFileW", ERROR_ACCESS_DENIED, 1);
    LogMessage(W("lost\n"));
    LogMessage(W("kept\n"));
    EXPECT_EQ(LogText(), "kept\n");

    m().Remove(u"C:\\Temp");  // the folder is gone: nothing can be created, nothing crashes
    LogMessage(W("lost\n"));
    EXPECT_FALSE(m().Exists(LogPath()));
}

TEST_F(InstallerLog, FailedWriteIsIgnoredAndLeavesNoStreamOpen)
{
    m().Fail("fwrite", 0, 1);
    LogMessage(W("lost\n"));
    LogMessage(W("kept\n"));
    EXPECT_EQ(LogText(), "kept\n");
    EXPECT_EQ(m().OpenHandles("stream"), 0);
}

TEST_F(InstallerLog, LongMessageIsCutAndStillEndsItsLine)
{
    std::u16string longText(400, u'x');
    LogMessage(W("%s"), longText.c_str());
    EXPECT_EQ(LogText(), std::string(MESSAGE_TEXT_LIMIT, 'x') + "\n");

    // A cut never leaves half of a surrogate pair behind.
    ForgetLogPath();
    m().Remove(LogPath());
    std::u16string pairs = std::u16string(MESSAGE_TEXT_LIMIT - 1, u'y') + u"\U0001F600";
    LogMessage(W("%s"), pairs.c_str());
    EXPECT_EQ(LogText(), std::string(MESSAGE_TEXT_LIMIT - 1, 'y') + "\n");

    // A message that just fits keeps every character.
    m().Remove(LogPath());
    std::u16string exact(MESSAGE_TEXT_LIMIT - 1, u'z');
    LogMessage(W("%s\n"), exact.c_str());
    EXPECT_EQ(LogText(), std::string(MESSAGE_TEXT_LIMIT - 1, 'z') + "\n");
}

TEST_F(InstallerLog, TempReadIntoTheBufferOnlyWhenItFits)
{
    WCHAR buffer[8] = u"keep";
    m().environment[u"TEMP"] = u"C:\\1234";  // 7 characters and the terminator: fits
    EXPECT_TRUE(GetTempDirectory(buffer, 8));
    EXPECT_EQ(host::U8(buffer), "C:\\1234");

    WCHAR small[8] = u"keep";
    m().environment[u"TEMP"] = u"C:\\12345";
    EXPECT_FALSE(GetTempDirectory(small, 8));
    EXPECT_EQ(host::U8(small), "keep");

    m().environment.erase(u"TEMP");
    EXPECT_FALSE(GetTempDirectory(small, 8));
    EXPECT_EQ(host::U8(small), "keep");
}
