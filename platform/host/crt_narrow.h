// The Windows C runtime's narrow (ANSI) file, console and time calls, over the simulated
// machine, and below them the process's command line and its ANSI code page (Windows-1252).
//
// _access and fopen take a Windows path; a relative one names a file in the machine's
// current directory. A stream opened for writing in text mode stores every 0x0A as
// 0x0D 0x0A. printf, and fprintf and fputs on stdout and stderr, write to the machine's
// console, whose two texts a test reads back; on any other stream they are the host's own.
// _time64 reads the machine's clock, _localtime64 turns it into its local time.
//
// glibc declares fopen, printf, fprintf and fputs itself, so the host reaches these four
// through function-like macros defined at the end of this header, and nowhere else. A
// parenthesised name, such as (fputs)(text, stream), still calls the host's own function.
// Include this header after any header that calls these functions in inline code.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "types.h"

typedef int64_t __time64_t;

// 0 when the file exists (mode 0) and also allows writing (2), reading (4) or both (6);
// else -1 with errno ENOENT, EACCES (a read-only file asked for writing) or EINVAL.
int _access(const char* path, int mode);
__time64_t _time64(__time64_t* result);
// The local time of a moment, in a buffer shared by all calls of the thread; null when it
// cannot be formed (a negative moment, or a failure a test injected).
struct tm* _localtime64(const __time64_t* time);

namespace host {

// What the process wrote to standard output and standard error, as it wrote it.
struct ConsoleText {
    std::string out;
    std::string err;
};
ConsoleText& Console();

// The machine's clock: a fixed moment, seconds since 1970-01-01 00:00 UTC, and the offset
// of the local time from UTC.
struct LocalClock {
    static constexpr __time64_t DefaultNow = 1715938887;  // 2024-05-17 09:41:27 UTC
    __time64_t now = DefaultNow;
    int32_t utcOffsetSeconds = 0;
};
LocalClock& Clock();

// The command line the process was started with, as GetCommandLineW gives it. A reset makes
// it the module file name in quotes, as a program started by its full path sees it.
std::u16string& CommandLine();
// The arguments CommandLineToArgvW makes of a command line, without the call's bookkeeping.
std::vector<std::u16string> SplitCommandLine(const std::u16string& line);
// Text in the ANSI code page as WideCharToMultiByte makes it without WC_NO_BEST_FIT_CHARS:
// what the runtime hands a narrow main() as its arguments.
std::string BestFitAnsi(const std::u16string& text);

FILE* NarrowOpen(const char* path, const char* mode);
int ConsolePrintf(const char* format, ...);
int StreamPrintf(FILE* stream, const char* format, ...);
int StreamPuts(const char* text, FILE* stream);

}  // namespace host

#define fopen(path, mode) host::NarrowOpen(path, mode)
#define printf(...) host::ConsolePrintf(__VA_ARGS__)
#define fprintf(...) host::StreamPrintf(__VA_ARGS__)
#define fputs(text, stream) host::StreamPuts(text, stream)
