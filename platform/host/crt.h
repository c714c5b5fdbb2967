// The Windows C runtime's wide and share-mode calls, as msvcrt.dll implements them.
//
// Streams are the host's FILE objects, so fwrite and fclose are the standard ones; a stream
// opened in text mode stores every 0x0A byte written to it as 0x0D 0x0A, as the Windows
// runtime's text mode does.
#pragma once

#include <stdarg.h>
#include <stdio.h>

#include "types.h"

#define _SH_DENYRW 0x10
#define _SH_DENYWR 0x20
#define _SH_DENYRD 0x30
#define _SH_DENYNO 0x40

// Descriptor flags (<fcntl.h>).
#define _O_RDONLY 0x0000
#define _O_WRONLY 0x0001
#define _O_RDWR 0x0002
#define _O_APPEND 0x0008
#define _O_TEXT 0x4000
#define _O_BINARY 0x8000

// Opens a file named by a Windows path of the simulated machine. Modes as fopen's, where
// "t" (the default) is the translating text mode and "b" the binary one.
FILE* _wfsopen(const WCHAR* path, const WCHAR* mode, int shareFlag);

// Low-level descriptors over file handles (<io.h>). _open_osfhandle gives the handle to a
// new descriptor, which then owns it: _close closes both. _O_APPEND puts every write at the
// end of the file, _O_TEXT makes the descriptor translating (0x0A written as 0x0D 0x0A).
// Failures return -1 and set errno.
int _open_osfhandle(intptr_t osfhandle, int flags);
int _close(int fd);
// A stream over a descriptor, which the stream then owns: fclose closes stream, descriptor
// and handle. Writes are translated as the descriptor is (its _O_TEXT); an "a" mode or an
// _O_APPEND descriptor writes at the end. Null and errno on failure; the descriptor stays
// open and the caller's.
FILE* _wfdopen(int fd, const WCHAR* mode);

// The runtime's _vsnwprintf: %s and %c take wide text, %S and %C narrow text, %p prints
// the pointer as upper-case hexadecimal digits of the shipped (32-bit) build's width.
// Writes at most `count` code units; when the text with its terminator does not fit it
// writes `count` units without terminator and returns -1 (exactly `count` units: returns
// `count`, no terminator).
int _vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args);
int _snwprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...);
