// Small text helpers of the cases.
#pragma once

#include <string>

#include "setup.h"

// ASCII letters in upper case, as Windows compares file and key names.
inline Text Upper(Text text)
{
    for (WCHAR& c : text)
        if (c >= W('a') && c <= W('z')) c = static_cast<WCHAR>(c - W('a') + W('A'));
    return text;
}

inline bool SameName(const Text& a, const Text& b) { return Upper(a) == Upper(b); }

// The UTF-16LE bytes of a text, as a wide string lies in memory and in a binary file.
inline std::string Utf16Bytes(const Text& text)
{
    std::string bytes;
    for (WCHAR unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>((unit >> 8) & 0xFF));
    }
    return bytes;
}

// The text a call left in a buffer of `size` units, up to its terminator. A buffer without
// one gives all it holds and a mark, so that the case fails without reading past its end.
inline Text Within(const WCHAR* buffer, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        if (buffer[i] == 0) return Text(buffer, i);
    return Text(buffer, size) + W("[no terminator]");
}

// A text of ASCII characters as wide text.
inline Text Wide(const std::string& ascii) { return Text(ascii.begin(), ascii.end()); }
