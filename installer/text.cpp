#include "text.h"

bool CopyPathText(WCHAR* at, const WCHAR* text)
{
    int length = lstrlenW(text);
    if (length >= MAX_PATH) return false;
    for (int i = 0; i < length; ++i) at[i] = text[i];
    at[length] = 0;
    return true;
}

bool AppendPathText(WCHAR* at, const WCHAR* text)
{
    int used = 0;
    while (used < MAX_PATH && at[used]) ++used;
    if (used >= MAX_PATH) return false;
    int length = lstrlenW(text);
    if (used + length >= MAX_PATH) return false;
    for (int i = 0; i < length; ++i) at[used + i] = text[i];
    at[used + length] = 0;
    return true;
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
