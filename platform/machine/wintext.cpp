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

// ---------------------------------------------------------------------------------------
// Code pages

namespace host {

namespace {

const char16_t REPLACEMENT_CHARACTER = 0xFFFD;

// Windows-1252. The bytes 0x80 to 0x9F; the five that the page leaves unassigned (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) stand for the C1 control of the same value, both ways, as on Windows.
const unsigned char FIRST_HIGH_CONTROL = 0x80;
const unsigned char LAST_HIGH_CONTROL = 0x9F;
const char16_t HIGH_CONTROL_UNITS[LAST_HIGH_CONTROL - FIRST_HIGH_CONTROL + 1] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
// Best fit: of Windows' best-fit table for 1252 the layer models the full-width forms of ASCII
// (U+FF01 to U+FF5E become 0x21 to 0x7E) and the letters of Latin Extended-A that are an ASCII
// letter with a mark (U+0100 A-macron becomes 'A').
const char16_t FIRST_FULLWIDTH = 0xFF01;
const char16_t LAST_FULLWIDTH = 0xFF5E;
const char16_t FULLWIDTH_OFFSET = 0xFF01 - 0x21;
const char16_t FIRST_LATIN_EXTENDED_A = 0x0100;
const char16_t LAST_LATIN_EXTENDED_A = 0x017F;
// The base letter of each unit from U+0100 on; '-' where the layer models none.
const char LATIN_EXTENDED_A_BASE[] =
    "AaAaAaCcCcCcCcDd"   // U+0100
    "--EeEeEeEeEeGgGg"   // U+0110
    "GgGgHh--IiIiIiIi"   // U+0120
    "I---JjKk-LlLlLl-"   // U+0130
    "---NnNnNn---OoOo"   // U+0140
    "Oo--RrRrRrSsSsSs"   // U+0150
    "--TtTt--UuUuUuUu"   // U+0160
    "UuUuWwYy-ZzZz---";  // U+0170

bool Encode1252(char16_t unit, std::string* out)
{
    if (unit < FIRST_HIGH_CONTROL || (unit > LAST_HIGH_CONTROL && unit <= 0xFF)) {
        out->push_back(static_cast<char>(unit));
        return true;
    }
    for (size_t i = 0; i < sizeof HIGH_CONTROL_UNITS / sizeof HIGH_CONTROL_UNITS[0]; ++i) {
        if (HIGH_CONTROL_UNITS[i] == unit) {
            out->push_back(static_cast<char>(FIRST_HIGH_CONTROL + i));
            return true;
        }
    }
    return false;
}

bool BestFit1252(char16_t unit, std::string* out)
{
    if (unit >= FIRST_FULLWIDTH && unit <= LAST_FULLWIDTH) {
        out->push_back(static_cast<char>(unit - FULLWIDTH_OFFSET));
        return true;
    }
    if (unit >= FIRST_LATIN_EXTENDED_A && unit <= LAST_LATIN_EXTENDED_A) {
        char base = LATIN_EXTENDED_A_BASE[unit - FIRST_LATIN_EXTENDED_A];
        if (base == '-') return false;
        out->push_back(base);
        return true;
    }
    return false;
}

// Shift-JIS as Windows' code page 932 has it, in runs of consecutive units and codes: the
// double-byte codes the layer models.
struct ShiftJisRun {
    char16_t firstUnit;
    char16_t lastUnit;
    uint16_t firstCode;  // lead byte and trail byte
};
const ShiftJisRun SHIFT_JIS_RUNS[] = {
    {0x3000, 0x3002, 0x8140},  // ideographic space, comma, full stop
    {0x2010, 0x2010, 0x815D},  // hyphen
    {0xFF3C, 0xFF3C, 0x815F},  // full-width reverse solidus
    {0x2030, 0x2030, 0x81F1},  // per mille sign
    {0xFF10, 0xFF19, 0x824F},  // full-width digits
    {0xFF21, 0xFF3A, 0x8260},  // full-width capital letters
    {0xFF41, 0xFF5A, 0x8281},  // full-width small letters
    {0x3041, 0x3093, 0x829F},  // hiragana
    {0x30A1, 0x30DF, 0x8340},  // katakana up to MI (trail bytes 0x40 to 0x7E)
    {0x30E0, 0x30F6, 0x8380},  // katakana from MU (trail bytes 0x80 on)
    {0x8A9E, 0x8A9E, 0x8CEA},  // 語
    {0x65E5, 0x65E5, 0x93FA},  // 日
    {0x8868, 0x8868, 0x955C},  // 表, whose trail byte is the backslash's
    {0x672C, 0x672C, 0x967B},  // 本
};
const unsigned char FIRST_HALFWIDTH_KATAKANA_BYTE = 0xA1;
const unsigned char LAST_HALFWIDTH_KATAKANA_BYTE = 0xDF;
const char16_t FIRST_HALFWIDTH_KATAKANA = 0xFF61;

bool IsShiftJisLead(unsigned char byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

// Units that code page 932 has no code for: the yen sign and the overline (its bytes 0x5C and
// 0x7E are the backslash and the tilde), the Latin letters of Latin-1 and Latin Extended-A (its
// symbols, such as the multiplication sign, it has), and characters beyond the BMP.
bool IsOutsideShiftJis(char16_t unit)
{
    if (unit == 0x00A5 || unit == 0x203E) return true;
    if (unit >= 0xC0 && unit <= 0x17F) return unit != 0xD7 && unit != 0xF7;
    return unit >= 0xD800 && unit <= 0xDFFF;
}

// Windows' best fit for 932 that the layer models: the yen sign and the overline become the
// bytes of the backslash and the tilde, which this page shows as yen and overline.
bool BestFitShiftJis(char16_t unit, std::string* out)
{
    if (unit == 0x00A5)
        out->push_back('\\');
    else if (unit == 0x203E)
        out->push_back('~');
    else
        return false;
    return true;
}

// 0: outside the page; 1: encoded; -1: not modelled.
int EncodeShiftJis(char16_t unit, std::string* out)
{
    if (unit < 0x80) {
        out->push_back(static_cast<char>(unit));
        return 1;
    }
    if (unit >= FIRST_HALFWIDTH_KATAKANA &&
        unit <= FIRST_HALFWIDTH_KATAKANA + (LAST_HALFWIDTH_KATAKANA_BYTE - FIRST_HALFWIDTH_KATAKANA_BYTE)) {
        out->push_back(static_cast<char>(FIRST_HALFWIDTH_KATAKANA_BYTE + (unit - FIRST_HALFWIDTH_KATAKANA)));
        return 1;
    }
    for (const ShiftJisRun& run : SHIFT_JIS_RUNS) {
        if (unit < run.firstUnit || unit > run.lastUnit) continue;
        uint16_t code = static_cast<uint16_t>(run.firstCode + (unit - run.firstUnit));
        out->push_back(static_cast<char>(code >> 8));
        out->push_back(static_cast<char>(code & 0xFF));
        return 1;
    }
    return IsOutsideShiftJis(unit) ? 0 : -1;
}

void AppendUtf8(uint32_t cp, std::string* out)
{
    *out += U8(cp >= 0x10000 ? std::u16string{static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)),
                                              static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF))}
                             : std::u16string(1, static_cast<char16_t>(cp)));
}

}  // namespace

bool IsModelledCodePage(UINT codePage)
{
    return codePage == CODE_PAGE_WINDOWS_1252 || codePage == CODE_PAGE_SHIFT_JIS || codePage == CODE_PAGE_UTF8;
}

bool HasBestFit(UINT codePage)
{
    const UINT SYMBOL = 42, UTF7 = 65000, GB18030 = 54936, ISCII_FIRST = 57002, ISCII_LAST = 57011,
               ISO2022_FIRST = 50220, ISO2022_LAST = 50229, HZ = 52936;
    if (codePage == SYMBOL || codePage == UTF7 || codePage == CODE_PAGE_UTF8 || codePage == GB18030 || codePage == HZ)
        return false;
    if (codePage >= ISO2022_FIRST && codePage <= ISO2022_LAST) return false;
    return !(codePage >= ISCII_FIRST && codePage <= ISCII_LAST);
}

EncodedText Encode(UINT codePage, const char16_t* text, size_t length, bool bestFit, char defaultChar)
{
    EncodedText encoded;
    std::string& out = encoded.bytes;
    for (size_t i = 0; i < length; ++i) {
        char16_t unit = text[i];
        if (codePage == CODE_PAGE_UTF8) {
            bool high = unit >= 0xD800 && unit < 0xDC00, low = unit >= 0xDC00 && unit < 0xE000;
            if (high && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
                out += U8(std::u16string{unit, text[i + 1]});
                ++i;
            } else if (high || low) {
                encoded.invalid = true;
                AppendUtf8(REPLACEMENT_CHARACTER, &out);
            } else {
                AppendUtf8(unit, &out);
            }
            continue;
        }
        if (codePage == CODE_PAGE_SHIFT_JIS) {
            int result = EncodeShiftJis(unit, &out);
            if (result < 0) encoded.unmodelled = true;
            if (result != 0 || (bestFit && BestFitShiftJis(unit, &out))) continue;
        } else if (Encode1252(unit, &out) || (bestFit && BestFit1252(unit, &out))) {
            continue;
        }
        // Each unit of a surrogate pair, like any unit outside the page, becomes one default character.
        out.push_back(defaultChar);
        encoded.usedDefault = true;
    }
    return encoded;
}

namespace {

// The length of the UTF-8 sequence at `bytes` and its code point; 0 when it is not a valid one.
size_t Utf8Sequence(const unsigned char* bytes, size_t length, uint32_t* cp)
{
    unsigned char c = bytes[0];
    size_t extra;
    uint32_t value, least;
    if (c < 0x80) {
        *cp = c;
        return 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
        extra = 1, value = c & 0x1F, least = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        extra = 2, value = c & 0x0F, least = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        extra = 3, value = c & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (extra >= length) return 0;
    for (size_t k = 1; k <= extra; ++k) {
        if ((bytes[k] & 0xC0) != 0x80) return 0;
        value = (value << 6) | (bytes[k] & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value < 0xE000)) return 0;
    *cp = value;
    return extra + 1;
}

}  // namespace

DecodedText Decode(UINT codePage, const char* bytes, size_t length)
{
    DecodedText decoded;
    const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < length;) {
        if (codePage == CODE_PAGE_UTF8) {
            uint32_t cp = 0;
            size_t n = Utf8Sequence(b + i, length - i, &cp);
            if (n == 0) {
                decoded.invalid = true;
                decoded.text.push_back(REPLACEMENT_CHARACTER);
                ++i;
                continue;
            }
            decoded.text += U16(std::string(bytes + i, n));
            i += n;
            continue;
        }
        if (codePage == CODE_PAGE_SHIFT_JIS) {
            unsigned char c = b[i];
            if (c < 0x80) {
                decoded.text.push_back(c);
                ++i;
            } else if (c >= FIRST_HALFWIDTH_KATAKANA_BYTE && c <= LAST_HALFWIDTH_KATAKANA_BYTE) {
                decoded.text.push_back(
                    static_cast<char16_t>(FIRST_HALFWIDTH_KATAKANA + (c - FIRST_HALFWIDTH_KATAKANA_BYTE)));
                ++i;
            } else if (IsShiftJisLead(c) && i + 1 < length) {
                uint16_t code = static_cast<uint16_t>((c << 8) | b[i + 1]);
                bool found = false;
                for (const ShiftJisRun& run : SHIFT_JIS_RUNS) {
                    uint16_t last = static_cast<uint16_t>(run.firstCode + (run.lastUnit - run.firstUnit));
                    if (code < run.firstCode || code > last) continue;
                    decoded.text.push_back(static_cast<char16_t>(run.firstUnit + (code - run.firstCode)));
                    found = true;
                    break;
                }
                if (!found) decoded.unmodelled = true;
                i += 2;
            } else {
                decoded.unmodelled = true;
                ++i;
            }
            continue;
        }
        unsigned char c = b[i++];
        decoded.text.push_back(c >= FIRST_HIGH_CONTROL && c <= LAST_HIGH_CONTROL
                                   ? HIGH_CONTROL_UNITS[c - FIRST_HIGH_CONTROL]
                                   : static_cast<char16_t>(c));
    }
    return decoded;
}

}  // namespace host
