// The cleaner's log: "__Svcsweep__LOG.log" in the current directory. It is written only
// when it already exists, so creating an empty file of that name switches the step lines
// on, in the file and on the console.
#pragma once

#include <stddef.h>

// One log line: "[", the local time, "] ", the message and, when the line holds none, a
// newline. 1024 bytes with the terminator.
const size_t LOG_LINE_BYTES = 1024;
// The local time "YYYY-MM-DD HH:MM:SS" with its terminator fits in this many bytes.
const size_t TIME_TEXT_BYTES = 256;

// Appends one line, formatted printf-style, to the log file and echoes it to standard
// output; does nothing when the file is missing or cannot be opened. A message longer than
// the line leaves room for (1000 characters behind the time) is cut there and ends with a
// newline.
void LogLine(const char* format, ...);

// Writes the current local time as "YYYY-MM-DD HH:MM:SS" into `output` (at most
// TIME_TEXT_BYTES bytes with the terminator); writes nothing when there is no local time.
void FormatTimestamp(char* output);
