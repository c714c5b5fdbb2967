// Text forms the machine and the layer share: UTF-8 and UTF-16, Windows' case-insensitive
// names, GUIDs in their registry form, REG_MULTI_SZ bytes and security identifiers.
#pragma once

#include <string>
#include <vector>

#include "types.h"

namespace host {

// UTF-8 <-> UTF-16 for tests and for the host file names.
std::u16string U16(const std::string& text);
std::string U8(const std::u16string& text);
std::string U8(const WCHAR* text);

// Case-insensitive comparison of Windows names (ASCII letters fold; other units compare as they are).
std::u16string Upper(const std::u16string& text);
struct NoCaseLess {
    bool operator()(const std::u16string& a, const std::u16string& b) const;
};

// The registry form of a GUID, braces included: "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"
// (hexadecimal digits of either case). False for any other text.
bool ParseGuid(const WCHAR* text, GUID* guid);

// The strings of a REG_MULTI_SZ value's bytes, up to its first empty string.
std::vector<std::u16string> MultiStrings(const std::string& bytes);

// Code pages. The machine's ANSI code page is one of three: Windows-1252, UTF-8 (the "Beta:
// use Unicode UTF-8" setting of Windows 10 and 11) and a small part of Shift-JIS (932): ASCII,
// half-width katakana, hiragana, katakana, full-width letters and digits and a few symbols and
// kanji.
const UINT CODE_PAGE_WINDOWS_1252 = 1252;
const UINT CODE_PAGE_SHIFT_JIS = 932;
const UINT CODE_PAGE_UTF8 = 65001;
bool IsModelledCodePage(UINT codePage);
// Whether the page has best fit and takes the conversion flags and default characters. The
// pages that do not (42, 50220-50229, 52936, 54936, 57002-57011, 65000, 65001) refuse
// WideCharToMultiByte's flags with ERROR_INVALID_FLAGS.
bool HasBestFit(UINT codePage);

struct EncodedText {
    std::string bytes;
    bool usedDefault = false;  // a unit had no bytes of its own and became the default character
    bool invalid = false;      // UTF-8: an unpaired surrogate, encoded as U+FFFD
    bool unmodelled = false;   // a unit whose bytes the layer does not know
};
struct DecodedText {
    std::u16string text;
    bool invalid = false;     // a byte sequence the page does not define, decoded as U+FFFD
    bool unmodelled = false;  // a sequence the layer does not know
};
// Text in a page and back, unit by unit: with `bestFit`, a unit outside the page becomes the
// page's best fit where the layer models one, else `defaultChar`.
EncodedText Encode(UINT codePage, const char16_t* text, size_t length, bool bestFit, char defaultChar);
DecodedText Decode(UINT codePage, const char* bytes, size_t length);

// Security identifiers in their text form.
const char* const SYSTEM_SID = "S-1-5-18";
const char* const ADMINISTRATORS_SID = "S-1-5-32-544";
const char* const EVERYONE_SID = "S-1-1-0";
// The binary form Windows uses (revision, count, authority, subauthorities) from text such as
// "S-1-5-32-544", and back. Empty: not a valid identifier.
std::vector<BYTE> SidBytes(const std::string& text);
std::string SidText(const void* sid);
size_t SidLength(const void* sid);  // 0 when not a valid identifier

}  // namespace host
