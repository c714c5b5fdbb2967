#include "wintext.h"

#include <cstring>
#include <sstream>

namespace host {

std::u16string U16(const std::string& text)
{
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        uint32_t cp;
        size_t extra;
        if (c < 0x80) {
            cp = c;
            extra = 0;
        } else if ((c >> 5) == 6) {
            cp = c & 0x1F;
            extra = 1;
        } else if ((c >> 4) == 14) {
            cp = c & 0x0F;
            extra = 2;
        } else {
            cp = c & 0x07;
            extra = 3;
        }
        ++i;
        for (size_t k = 0; k < extra && i < text.size(); ++k, ++i)
            cp = (cp << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string U8(const std::u16string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::string U8(const WCHAR* text) { return text ? U8(std::u16string(text)) : std::string(); }

std::u16string Upper(const std::u16string& text)
{
    std::u16string out(text);
    for (auto& c : out)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    return out;
}

bool NoCaseLess::operator()(const std::u16string& a, const std::u16string& b) const { return Upper(a) < Upper(b); }

// ---------------------------------------------------------------------------------------
// GUIDs and multi-strings

namespace {

int HexDigit(WCHAR c)
{
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// Reads `digits` hexadecimal digits at `text`.
bool ReadHex(const WCHAR* text, int digits, uint32_t* value)
{
    uint32_t v = 0;
    for (int i = 0; i < digits; ++i) {
        int d = HexDigit(text[i]);
        if (d < 0) return false;
        v = (v << 4) | static_cast<uint32_t>(d);
    }
    *value = v;
    return true;
}

}  // namespace

// The registry form of a GUID, braces included: 38 characters, dashes at 9, 14, 19 and 24.
bool ParseGuid(const WCHAR* text, GUID* guid)
{
    const int GUID_TEXT_CHARS = 38;
    int length = 0;
    while (length <= GUID_TEXT_CHARS && text[length]) ++length;
    if (length != GUID_TEXT_CHARS || text[0] != u'{' || text[37] != u'}') return false;
    if (text[9] != u'-' || text[14] != u'-' || text[19] != u'-' || text[24] != u'-') return false;
    GUID g;
    uint32_t v;
    if (!ReadHex(text + 1, 8, &v)) return false;
    g.Data1 = v;
    if (!ReadHex(text + 10, 4, &v)) return false;
    g.Data2 = static_cast<uint16_t>(v);
    if (!ReadHex(text + 15, 4, &v)) return false;
    g.Data3 = static_cast<uint16_t>(v);
    static const int offsets[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!ReadHex(text + offsets[i], 2, &v)) return false;
        g.Data4[i] = static_cast<uint8_t>(v);
    }
    *guid = g;
    return true;
}

std::vector<std::u16string> MultiStrings(const std::string& bytes)
{
    std::vector<std::u16string> strings;
    std::u16string current;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char16_t c = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                           (static_cast<unsigned char>(bytes[i + 1]) << 8));
        if (c) {
            current.push_back(c);
            continue;
        }
        if (current.empty()) break;
        strings.push_back(current);
        current.clear();
    }
    if (!current.empty()) strings.push_back(current);
    return strings;
}

// ---------------------------------------------------------------------------------------
// Security identifiers

namespace {

const BYTE SID_REVISION_1 = 1;
const size_t SID_HEADER_BYTES = 8;  // revision, count, six bytes of authority
const size_t MAX_SUB_AUTHORITIES = 15;

}  // namespace

std::vector<BYTE> SidBytes(const std::string& text)
{
    // "S-1-<authority>-<sub>-<sub>..."
    if (text.compare(0, 4, "S-1-") != 0) return {};
    std::vector<uint64_t> parts;
    std::stringstream in(text.substr(4));
    std::string part;
    while (std::getline(in, part, '-')) {
        if (part.empty() || part.find_first_not_of("0123456789") != std::string::npos || part.size() > 12) return {};
        parts.push_back(std::stoull(part));
    }
    if (parts.empty() || parts.size() - 1 > MAX_SUB_AUTHORITIES) return {};
    std::vector<BYTE> sid(SID_HEADER_BYTES + 4 * (parts.size() - 1));
    sid[0] = SID_REVISION_1;
    sid[1] = static_cast<BYTE>(parts.size() - 1);
    for (int i = 0; i < 6; ++i) sid[2 + i] = static_cast<BYTE>(parts[0] >> (8 * (5 - i)));  // big-endian
    for (size_t i = 1; i < parts.size(); ++i) {
        if (parts[i] > 0xFFFFFFFFu) return {};
        uint32_t value = static_cast<uint32_t>(parts[i]);
        std::memcpy(&sid[SID_HEADER_BYTES + 4 * (i - 1)], &value, 4);  // little-endian, as on x86
    }
    return sid;
}

size_t SidLength(const void* sid)
{
    if (!sid) return 0;
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    if (bytes[0] != SID_REVISION_1 || bytes[1] > MAX_SUB_AUTHORITIES) return 0;
    return SID_HEADER_BYTES + 4 * bytes[1];
}

std::string SidText(const void* sid)
{
    size_t length = SidLength(sid);
    if (!length) return std::string();
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    uint64_t authority = 0;
    for (int i = 0; i < 6; ++i) authority = (authority << 8) | bytes[2 + i];
    std::string text = "S-1-" + std::to_string(authority);
    for (size_t i = 0; i < bytes[1]; ++i) {
        uint32_t value;
        std::memcpy(&value, bytes + SID_HEADER_BYTES + 4 * i, 4);
        text += "-" + std::to_string(value);
    }
    return text;
}

}  // namespace host
