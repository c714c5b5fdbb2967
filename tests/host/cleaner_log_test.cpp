#include "cleaner_fixture.h"

#include "cleaner_log.h"

class CleanerLog : public CleanerTest {};

TEST_F(CleanerLog, AbsentFileWritesNothingAnywhere)
{
    m().WriteFile(u"C:\\__Svcsweep__LOG.log", "");  // not the current directory's
    LogLine("Prepare delete the service: %s\n", "x");
    EXPECT_EQ(Out(), "");
    EXPECT_FALSE(m().Exists(LogPath()));
    EXPECT_EQ(m().ReadFile(u"C:\\__Svcsweep__LOG.log"), "");
}

TEST_F(CleanerLog, PresentFileGetsTheLineAsTheConsoleDoesButWithCrLf)
{
    CreateLog();
    LogLine("Success to delete service %s\n", "androidusb");
    EXPECT_EQ(m().OpenHandles("stream"), 0);  // closed after each line
    LogLine("The %s Service could not be opened: %d\n", "x", 1060);
    std::string lines = std::string(Stamp) + "Success to delete service androidusb\n" + Stamp +
                        "The x Service could not be opened: 1060\n";
    EXPECT_EQ(Out(), lines);
    EXPECT_EQ(LogFile(), Crlf(lines));
}

TEST_F(CleanerLog, NewlineAddedOnlyWhenTheMessageHoldsNone)
{
    CreateLog();
    LogLine("The Service Control Manager could not be opened: %d", 5);
    LogLine("first\nsecond");
    LogLine("kept\n\n");
    LogLine("");
    std::string lines = std::string(Stamp) + "The Service Control Manager could not be opened: 5\n" + Stamp +
                        "first\nsecond" + Stamp + "kept\n\n" + Stamp + "\n";
    EXPECT_EQ(Out(), lines);
    EXPECT_EQ(LogFile(), Crlf(lines));
}

TEST_F(CleanerLog, PrefixIsTheLocalTime)
{
    CreateLog();
    host::CurrentMachine().clock.now = 1704067199;  // 2023-12-31 23:59:59 UTC
    host::CurrentMachine().clock.utcOffsetSeconds = 3600;
    LogLine("x\n");
    host::CurrentMachine().clock.now = 1709251205;  // 2024-03-01 00:00:05 UTC
    host::CurrentMachine().clock.utcOffsetSeconds = -5 * 3600;
    LogLine("y\n");
    EXPECT_EQ(Out(), "[2024-01-01 00:59:59] x\n[2024-02-29 19:00:05] y\n");
}

TEST_F(CleanerLog, WithoutLocalTimeTheLineStartsWithALoneBracket)
{
    CreateLog();
    m().Fail("_localtime64", 0);
    LogLine("Prepare delete the service: %s\n", "x");
    EXPECT_EQ(LogFile(), "[Prepare delete the service: x\r\n");
    char text[TIME_TEXT_BYTES] = "untouched";
    FormatTimestamp(text);
    EXPECT_STREQ(text, "untouched");
}

TEST_F(CleanerLog, ReadOnlyFileTakesNothingAndNothingIsEchoed)
{
    CreateLog();
    m().SetReadOnly(LogPath());
    LogLine("lost\n");
    EXPECT_EQ(LogFile(), "");
    EXPECT_EQ(Out(), "");
}

TEST_F(CleanerLog, FileFollowsTheCurrentDirectory)
{
    m().WriteFile(u"D:\\Logs\\__Svcsweep__LOG.log", "old\r\n");
    m().currentDirectory = u"D:\\Logs";
    LogLine("new\n");
    EXPECT_EQ(m().ReadFile(u"D:\\Logs\\__Svcsweep__LOG.log"), "old\r\n" + Crlf(std::string(Stamp) + "new\n"));
}

TEST_F(CleanerLog, LongMessageIsCutAtTheEndOfTheLineAndEndsIt)
{
    CreateLog();
    const std::string fits(1000, 'f');
    LogLine("%s", fits.c_str());
    LogLine("%s", (std::string(1500, 'x')).c_str());
    LogLine("%s", ("a\n" + std::string(1500, 'y') + "\n").c_str());
    std::string lines =
        Stamp + fits + "\n" + Stamp + std::string(1000, 'x') + "\n" + Stamp + "a\n" + std::string(998, 'y') + "\n";
    EXPECT_EQ(Out(), lines);
    EXPECT_EQ(LogFile(), Crlf(lines));

    // Without a time the message gets the prefix's room.
    host::CurrentMachine().console.out.clear();
    m().Fail("_localtime64", 0);
    LogLine("%s", std::string(1500, 'z').c_str());
    EXPECT_EQ(Out(), "[" + std::string(LOG_LINE_BYTES - 3, 'z') + "\n");
}
