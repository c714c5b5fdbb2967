// Prints a drvmate.log as UTF-8 text and reports where its bytes are not a valid log,
// reading it in fixed blocks: its memory does not grow with the log.
#pragma once

#include <cstdio>

// Exit codes of the log reader.
const int LOG_VALID = 0;
const int LOG_NOT_VALID = 1;
const int LOG_UNREADABLE = 2;

// Writes the text of the log read from `log` (from its current position) to `out`, then one
// line "<name>: byte <offset>: <what>" per problem to `err`, the byte layer's before the code
// units', as DecodeInstallerLog lists them. Returns LOG_VALID or LOG_NOT_VALID.
//
// A log with problems is read again for each layer that has any, so that no report has to
// be held; a stream that cannot be read again (a pipe) has its reports held until the end.
int PrintInstallerLog(FILE* log, const char* name, FILE* out, FILE* err);
