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

// Security identifiers in their text form.
const char* const SYSTEM_SID = "S-1-5-18";
const char* const ADMINISTRATORS_SID = "S-1-5-32-544";
// The binary form Windows uses (revision, count, authority, subauthorities) from text such as
// "S-1-5-32-544", and back. Empty: not a valid identifier.
std::vector<BYTE> SidBytes(const std::string& text);
std::string SidText(const void* sid);
size_t SidLength(const void* sid);  // 0 when not a valid identifier

}  // namespace host
