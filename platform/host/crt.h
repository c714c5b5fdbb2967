// The Windows C runtime's wide and share-mode calls, as msvcrt.dll implements them.
//
// Streams are the host's FILE objects, so fwrite and fclose are the standard ones; a stream
// opened in text mode stores every 0x0A byte written to it as 0x0D 0x0A, as the Windows
// runtime's text mode does.
#pragma once

#include <cstdarg>
#include <cstdio>

#include "types.h"

#define _SH_DENYRW 0x10
#define _SH_DENYWR 0x20
#define _SH_DENYRD 0x30
#define _SH_DENYNO 0x40

// Opens a file named by a Windows path of the simulated machine. Modes as fopen's, where
// "t" (the default) is the translating text mode and "b" the binary one.
FILE* _wfsopen(const WCHAR* path, const WCHAR* mode, int shareFlag);

// The runtime's _vsnwprintf: %s and %c take wide text, %S and %C narrow text, %p prints
// the pointer as upper-case hexadecimal digits of the shipped (32-bit) build's width.
// Writes at most `count` code units; when the text with its terminator does not fit it
// writes `count` units without terminator and returns -1 (exactly `count` units: returns
// `count`, no terminator).
int _vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args);
int _snwprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...);
