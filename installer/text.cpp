#include "text.h"

namespace {

// Characters that path text may take at `at`, terminator included: MAX_PATH, and no more
// than what is left of the buffer; 0 when `at` lies outside it.
int PathRoom(const WCHAR* buffer, int bufferChars, const WCHAR* at)
{
    if (at < buffer || at >= buffer + bufferChars) return 0;
    int left = static_cast<int>(buffer + bufferChars - at);
    return left < MAX_PATH ? left : MAX_PATH;
}

}  // namespace

bool CopyPathText(WCHAR* buffer, int bufferChars, WCHAR* at, const WCHAR* text)
{
    int room = PathRoom(buffer, bufferChars, at);
    int length = lstrlenW(text);
    if (length >= room) return false;
    for (int i = 0; i < length; ++i) at[i] = text[i];
    at[length] = 0;
    return true;
}

bool AppendPathText(WCHAR* buffer, int bufferChars, WCHAR* at, const WCHAR* text)
{
    int room = PathRoom(buffer, bufferChars, at);
    int used = 0;
    while (used < room && at[used]) ++used;
    int length = lstrlenW(text);
    if (used + length >= room) return false;
    for (int i = 0; i < length; ++i) at[used + i] = text[i];
    at[used + length] = 0;
    return true;
}

bool CopyNameAtInsertionPoint(WCHAR* insertionPoint, const WCHAR* name)
{
    return CopyPathText(insertionPoint, MAX_PATH, insertionPoint, name);
}

const WCHAR* FindLastChar(const WCHAR* text, WCHAR c)
{
    const WCHAR* last = 0;
    for (; *text; ++text)
        if (*text == c) last = text;
    return last;
}

WCHAR* FindLastChar(WCHAR* text, WCHAR c)
{
    return const_cast<WCHAR*>(FindLastChar(static_cast<const WCHAR*>(text), c));
}

bool ContainsChar(const WCHAR* text, WCHAR c)
{
    for (; *text; ++text)
        if (*text == c) return true;
    return false;
}

bool ResolveFullPath(const WCHAR* path, WCHAR* fullPath, WCHAR** filePart)
{
    DWORD length = GetFullPathNameW(path, MAX_PATH, fullPath, filePart);
    return length != 0 && length < MAX_PATH;
}
