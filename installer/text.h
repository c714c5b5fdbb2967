// Bounded copies and appends of UTF-16 path text.
//
// Every copy or append of path text is bounded to MAX_PATH (260) characters, terminator
// included, counted from the position it writes at: the start of a path buffer, or the
// insertion point of a search buffer (SEARCH_BUFFER_CHARS, twice MAX_PATH). Text that does
// not fit is refused whole: the destination is left as it was and the call returns false.
#pragma once

#include "winapi.h"

const int SEARCH_BUFFER_CHARS = 2 * MAX_PATH;

// Writes `text` at `at`.
bool CopyPathText(WCHAR* at, const WCHAR* text);
// Appends `text` to the text that starts at `at`.
bool AppendPathText(WCHAR* at, const WCHAR* text);

// Resolves `path` into `fullPath` (MAX_PATH characters). False when it cannot be resolved or
// the full path comes out at MAX_PATH characters or more; the last error is the system's.
bool ResolveFullPath(const WCHAR* path, WCHAR* fullPath, WCHAR** filePart = 0);

// Position of the last `c` in `text`, or null.
WCHAR* FindLastChar(WCHAR* text, WCHAR c);
const WCHAR* FindLastChar(const WCHAR* text, WCHAR c);
bool ContainsChar(const WCHAR* text, WCHAR c);
