// UTF-16 text: bounded copies and appends of path text, and a class GUID as the log shows it.
//
// Path text is written at a position inside a buffer: its start, or the insertion point of a
// search buffer (SEARCH_BUFFER_CHARS, twice MAX_PATH), behind a folder part that was itself
// written with MAX_PATH characters of room. The room at that position is MAX_PATH (260)
// characters, terminator included, and never more than what is left of the buffer. Text that
// does not fit is refused whole: the buffer is left as it was and the call returns false.
#pragma once

#include "winapi.h"

const int SEARCH_BUFFER_CHARS = 2 * MAX_PATH;

// Writes `text` at `at`, a position inside `buffer` of `bufferChars` characters.
bool CopyPathText(WCHAR* buffer, int bufferChars, WCHAR* at, const WCHAR* text);
// Appends `text` to the text that starts at `at`, a position inside `buffer`.
bool AppendPathText(WCHAR* buffer, int bufferChars, WCHAR* at, const WCHAR* text);

// The same for a buffer whose size the compiler knows, at a position or at its start.
template <int Chars>
bool CopyPathText(WCHAR (&buffer)[Chars], WCHAR* at, const WCHAR* text)
{
    return CopyPathText(buffer, Chars, at, text);
}
template <int Chars>
bool CopyPathText(WCHAR (&buffer)[Chars], const WCHAR* text)
{
    return CopyPathText(buffer, Chars, buffer, text);
}
template <int Chars>
bool AppendPathText(WCHAR (&buffer)[Chars], WCHAR* at, const WCHAR* text)
{
    return AppendPathText(buffer, Chars, at, text);
}
template <int Chars>
bool AppendPathText(WCHAR (&buffer)[Chars], const WCHAR* text)
{
    return AppendPathText(buffer, Chars, buffer, text);
}

// Writes a found name at the insertion point of a search buffer, where MAX_PATH characters of
// room remain behind the folder part.
bool CopyNameAtInsertionPoint(WCHAR* insertionPoint, const WCHAR* name);

// Resolves `path` into `fullPath` (MAX_PATH characters). False when it cannot be resolved or
// the full path comes out at MAX_PATH characters or more; the last error is the system's.
bool ResolveFullPath(const WCHAR* path, WCHAR* fullPath, WCHAR** filePart = nullptr);

// Position of the last `c` in `text`, or null.
WCHAR* FindLastChar(WCHAR* text, WCHAR c);
const WCHAR* FindLastChar(const WCHAR* text, WCHAR c);
bool ContainsChar(const WCHAR* text, WCHAR c);

// Whether a found file's own name matches a search pattern of the form "[prefix]*.extension"
// ("*.inf", "oem*.inf", "*.SYS"): it begins with the prefix and its extension, behind its last
// dot, is the pattern's, in either case of the ASCII letters. Windows matches a pattern against
// each file's 8.3 short name too, where "bystander.sys_old" is "BYSTAN~1.SYS" and "notes.info"
// is "NOTES~1.INF"; a search takes only the names that match by themselves.
bool MatchesOwnName(const WCHAR* name, const WCHAR* pattern);
// The file name part of a path: behind its last backslash, or the whole path.
const WCHAR* NamePart(const WCHAR* path);

// Characters of a GUID's text "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" with its terminator.
const int GUID_TEXT_CHARS = 39;
// Writes `guid` as the log shows a class: in braces, lower-case hexadecimal digits, every
// field with its leading zeros.
void FormatGuid(const GUID& guid, WCHAR (&text)[GUID_TEXT_CHARS]);
