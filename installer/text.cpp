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

const WCHAR HEX_DIGITS[] = W("0123456789abcdef");
const int HEX_DIGIT_BITS = 4;
const unsigned long HEX_DIGIT_MASK = 0xF;
// Digits of the GUID's fields: Data1, Data2 and Data3, each byte of Data4.
const int DATA1_DIGITS = 8;
const int DATA2_DIGITS = 4;
const int DATA3_DIGITS = 4;
const int BYTE_DIGITS = 2;
// Data4's bytes, of which the first two stand apart from the other six.
const int DATA4_BYTES = 8;
const int DATA4_FIRST_GROUP_BYTES = 2;

// Writes the `digits` low hexadecimal digits of `value` at `at` and returns the position
// behind them.
WCHAR* PutHexDigits(WCHAR* at, unsigned long value, int digits)
{
    for (int i = digits - 1; i >= 0; --i) {
        at[i] = HEX_DIGITS[value & HEX_DIGIT_MASK];
        value >>= HEX_DIGIT_BITS;
    }
    return at + digits;
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
    const WCHAR* last = nullptr;
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

namespace {

WCHAR FoldAsciiCase(WCHAR c) { return (c >= W('a') && c <= W('z')) ? static_cast<WCHAR>(c - W('a') + W('A')) : c; }

// Whether `text` of `length` characters equals `other` of the same length, ASCII letters in
// either case.
bool EqualFolded(const WCHAR* text, const WCHAR* other, int length)
{
    for (int i = 0; i < length; ++i)
        if (FoldAsciiCase(text[i]) != FoldAsciiCase(other[i])) return false;
    return true;
}

}  // namespace

bool MatchesOwnName(const WCHAR* name, const WCHAR* pattern)
{
    if (!name || !pattern) return false;
    const WCHAR* star = FindLastChar(pattern, W('*'));
    int nameLength = lstrlenW(name);
    int patternLength = lstrlenW(pattern);
    if (!star) return nameLength == patternLength && EqualFolded(name, pattern, nameLength);
    int prefixLength = static_cast<int>(star - pattern);
    const WCHAR* suffix = star + 1;
    int suffixLength = patternLength - prefixLength - 1;
    if (nameLength < prefixLength + suffixLength) return false;
    if (!EqualFolded(name, pattern, prefixLength)) return false;
    // A suffix ".extension" ends the name only when its dot is the name's last one: the
    // extension holds no dot of its own.
    return EqualFolded(name + nameLength - suffixLength, suffix, suffixLength);
}

const WCHAR* NamePart(const WCHAR* path)
{
    const WCHAR* slash = FindLastChar(path, W('\\'));
    return slash ? slash + 1 : path;
}

bool ResolveFullPath(const WCHAR* path, WCHAR* fullPath, WCHAR** filePart)
{
    DWORD length = GetFullPathNameW(path, MAX_PATH, fullPath, filePart);
    return length != 0 && length < MAX_PATH;
}

void FormatGuid(const GUID& guid, WCHAR (&text)[GUID_TEXT_CHARS])
{
    WCHAR* at = text;
    *at++ = W('{');
    at = PutHexDigits(at, guid.Data1, DATA1_DIGITS);
    *at++ = W('-');
    at = PutHexDigits(at, guid.Data2, DATA2_DIGITS);
    *at++ = W('-');
    at = PutHexDigits(at, guid.Data3, DATA3_DIGITS);
    for (int i = 0; i < DATA4_BYTES; ++i) {
        if (i == 0 || i == DATA4_FIRST_GROUP_BYTES) *at++ = W('-');
        at = PutHexDigits(at, guid.Data4[i], BYTE_DIGITS);
    }
    *at++ = W('}');
    *at = 0;
}
