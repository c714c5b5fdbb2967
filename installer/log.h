// The installer log: "drvmate.log" in the folder that TEMP names, UTF-16LE, one message a line.
#pragma once

#include "winapi.h"

// Characters of one formatted message with its line end and terminator. A longer message is
// cut to MESSAGE_TEXT_LIMIT characters (one less if that would split a surrogate pair)
// before the line end is added.
const int LOG_MESSAGE_CHARS = 256;
const int MESSAGE_TEXT_LIMIT = LOG_MESSAGE_CHARS - 2;

// Appends one formatted line; never reports failure. %s takes wide text, %p prints the
// pointer in hexadecimal. A format without a line feed gets one appended.
void LogMessage(const WCHAR* format, ...);

// Reads TEMP into `buffer` (size in characters). False when TEMP is unset, empty, or does
// not fit with its terminator; the buffer is then left as it was.
bool GetTempDirectory(WCHAR* buffer, DWORD size);

// Forgets the cached log path and process user, as unloading and loading the library again would. The
// library itself never calls it; the host tests do, to start each test from a fresh load.
void ForgetLogPath();
