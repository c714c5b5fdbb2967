// Runs the shipped log reader, logread.exe, under Wine on installer logs written here as
// Drvmate writes them, and on bytes that are not a valid log.
#include "check.h"

#include <stdio.h>

#include "decode.h"

namespace {

const DWORD VALID = 0;
const DWORD NOT_VALID = 1;
const DWORD UNREADABLE = 2;

// The console output of a program: the runtime's text mode ends each line with CR LF.
std::string Console(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n') out.push_back('\r');
        out.push_back(c);
    }
    return out;
}

ProgramRun ReadLog(const std::wstring& path)
{
    return RunProgram(L"\"" + DistFile(L"logread.exe") + L"\" \"" + path + L"\"");
}

}  // namespace

WINE_CASE(log_reader_prints_each_message_as_a_line)
{
    std::wstring folder = FreshFolder(L"logread");
    std::wstring log = folder + L"\\drvmate.log";
    // U+0A41 carries the byte 0x0A, which the text-mode stream stored as 0D 0A as well.
    std::wstring messages =
        L"Install ...\nModule filename: C:\\Program Files\\Tesmar\\drivers\\\n"
        L"infFile: \x0A41\x00E9.inf\nInstall result: 0\n";
    CHECK(WriteBytes(log, TextModeBytes(messages)));
    ProgramRun run = ReadLog(log);
    if (!CHECK(run.started)) return;
    CHECK(run.exitCode == VALID);
    CHECK_EQ(run.out, Console(Utf8(messages)));
    CHECK_EQ(run.err, "");
}

WINE_CASE(log_reader_says_where_the_bytes_are_not_a_valid_log)
{
    std::wstring folder = FreshFolder(L"logread-broken");
    std::wstring log = folder + L"\\drvmate.log";
    // A line end without the 0x0D that text mode puts in front of it.
    std::string bytes = TextModeBytes(L"Install ...\n") + std::string("a\0\n\0", 4);
    CHECK(WriteBytes(log, bytes));
    ProgramRun run = ReadLog(log);
    if (!CHECK(run.started)) return;
    CHECK(run.exitCode == NOT_VALID);
    DecodedLog decoded = DecodeInstallerLog(bytes);
    CHECK(!decoded.problems.empty());
    CHECK_EQ(run.out, Console(decoded.text));
    std::string said;
    for (const std::string& problem : decoded.problems) said += Utf8(log) + ": " + problem + "\n";
    CHECK_EQ(run.err, Console(said));

    run = ReadLog(folder + L"\\missing.log");
    CHECK(run.started && run.exitCode == UNREADABLE);
    CHECK_EQ(run.out, "");
}
