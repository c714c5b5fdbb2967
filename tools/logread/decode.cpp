#include "decode.h"

#include <cstdio>

namespace {

std::string At(size_t offset, const char* what)
{
    char line[160];
    std::snprintf(line, sizeof line, "byte %zu: %s", offset, what);
    return line;
}

void PutUtf8(std::string& out, unsigned long cp)
{
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

}  // namespace

DecodedLog DecodeInstallerLog(const std::string& bytes)
{
    DecodedLog log;
    // Undo the text-mode translation, keeping each byte's offset in the file for the report.
    std::string raw;
    std::vector<size_t> offsets;
    bool carriageReturnDropped = false;
    for (size_t i = 0; i < bytes.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (b == 0x0D && i + 1 < bytes.size() && bytes[i + 1] == '\x0A') {
            carriageReturnDropped = true;
            continue;
        }
        if (b == 0x0A && !carriageReturnDropped) log.problems.push_back(At(i, "0x0A without the 0x0D that text mode puts before it"));
        carriageReturnDropped = false;
        raw.push_back(static_cast<char>(b));
        offsets.push_back(i);
    }
    if (raw.size() % 2) log.problems.push_back(At(offsets.back(), "odd number of bytes: the last code unit is cut"));

    size_t units = raw.size() / 2;
    for (size_t u = 0; u < units; ++u) {
        unsigned long unit = static_cast<unsigned char>(raw[2 * u]) | (static_cast<unsigned char>(raw[2 * u + 1]) << 8);
        if (unit >= 0xD800 && unit < 0xDC00) {
            unsigned long next = 0;
            if (u + 1 < units)
                next = static_cast<unsigned char>(raw[2 * u + 2]) | (static_cast<unsigned char>(raw[2 * u + 3]) << 8);
            if (next >= 0xDC00 && next < 0xE000) {
                PutUtf8(log.text, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                ++u;
                continue;
            }
            log.problems.push_back(At(offsets[2 * u], "high surrogate without its low half"));
            PutUtf8(log.text, 0xFFFD);
            continue;
        }
        if (unit >= 0xDC00 && unit < 0xE000) {
            log.problems.push_back(At(offsets[2 * u], "low surrogate without its high half"));
            PutUtf8(log.text, 0xFFFD);
            continue;
        }
        if (unit == 0) {
            log.problems.push_back(At(offsets[2 * u], "a zero code unit inside the log"));
            continue;
        }
        PutUtf8(log.text, unit);
    }
    if (!log.text.empty() && log.text.back() != '\n')
        log.problems.push_back(At(bytes.size(), "the last message has no line end"));
    return log;
}
