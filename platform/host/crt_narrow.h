// The Windows C runtime's narrow (ANSI) file, console and time calls, over the simulated
// machine, and below them the process's command line and its ANSI code page (Windows-1252).
//
// _access and fopen take a Windows path; a relative one names a file in the machine's
// current directory. A stream opened for writing in text mode stores every 0x0A as
// 0x0D 0x0A. printf, and fprintf and fputs on stdout and stderr, write to the machine's
// console, whose two texts a test reads back; on any other stream they are the host's own.
// _time64 reads the machine's clock, _localtime64 turns it into its local time.
//
// glibc has fopen, printf, fprintf and fputs too, under the same names. The layer's own are
// host_fopen, host_printf, host_fprintf and host_fputs; the host build renames the references
// that the products and the conformance cases make to the standard names into these, once
// their libraries are compiled (cmake/host_runtime.cmake), so no include order matters.
#pragma once

#include <stdio.h>
#include <time.h>

#include "types.h"

typedef int64_t __time64_t;

// 0 when the file exists (mode 0) and also allows writing (2), reading (4) or both (6);
// else -1 with errno ENOENT, EACCES (a read-only file asked for writing) or EINVAL.
int _access(const char* path, int mode);
__time64_t _time64(__time64_t* result);
// The local time of a moment, in a buffer shared by all calls of the thread; null when it
// cannot be formed (a negative moment, or a failure a test injected).
struct tm* _localtime64(const __time64_t* time);

// The runtime's own entries for the four calls that glibc also has.
extern "C" {
FILE* host_fopen(const char* path, const char* mode);
int host_printf(const char* format, ...);
int host_fprintf(FILE* stream, const char* format, ...);
int host_fputs(const char* text, FILE* stream);
}
