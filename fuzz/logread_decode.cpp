// The log reader's decoder, over any bytes.
//
// The input is the log. Oracles:
// - fed in pieces (of sizes drawn from the bytes themselves) it gives exactly what the whole
//   log gives, and logread prints that text, those reports and the matching exit code;
// - a log without problems encodes back (UTF-16LE, every 0x0A byte after a 0x0D) to the
//   same bytes;
// - the input read as code units and made a valid log (unpaired surrogates replaced, zero
//   units dropped, a line end at the end) decodes without any problem to its own text.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "decode.h"
#include "harness.h"
#include "print.h"

namespace {

const size_t LARGEST_PIECE = 13;
const char16_t REPLACEMENT = 0xFFFD;

class Recorder : public LogDecoderSink {
public:
    void Text(const char* utf8, size_t size) override { log.text.append(utf8, size); }
    void Problem(LogLayer layer, const char* where) override
    {
        (layer == LogLayer::Bytes ? log.problems : unitProblems).push_back(where);
    }
    DecodedLog Result()
    {
        log.problems.insert(log.problems.end(), unitProblems.begin(), unitProblems.end());
        return log;
    }
    DecodedLog log;
    std::vector<std::string> unitProblems;
};

DecodedLog InPieces(const std::string& bytes)
{
    Recorder recorder;
    LogDecoder decoder(recorder);
    size_t at = 0, k = 0;
    while (at < bytes.size()) {
        size_t piece = 1 + static_cast<unsigned char>(bytes[k++ % bytes.size()]) % LARGEST_PIECE;
        if (piece > bytes.size() - at) piece = bytes.size() - at;
        decoder.Feed(bytes.data() + at, piece);
        at += piece;
    }
    decoder.Finish();
    return recorder.Result();
}

bool IsHigh(char16_t c) { return c >= 0xD800 && c < 0xDC00; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c < 0xE000; }

// UTF-16LE through text mode: every byte 0x0A gets a 0x0D in front.
std::string Stored(const std::u16string& units)
{
    std::string bytes;
    for (char16_t unit : units)
        for (char byte : {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)}) {
            if (byte == '\x0A') bytes.push_back('\x0D');
            bytes.push_back(byte);
        }
    return bytes;
}

std::u16string FromUtf8(const std::string& text)
{
    std::u16string units;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        unsigned long cp;
        size_t extra;
        if (c < 0x80) {
            cp = c;
            extra = 0;
        } else if (c < 0xE0) {
            cp = c & 0x1F;
            extra = 1;
        } else if (c < 0xF0) {
            cp = c & 0x0F;
            extra = 2;
        } else {
            cp = c & 0x07;
            extra = 3;
        }
        EXPECT_ORACLE(i + extra < text.size(), "decoded text ends inside a UTF-8 sequence");
        ++i;
        for (size_t k = 0; k < extra; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i++]) & 0x3F);
        if (cp >= 0x10000) {
            units.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(cp));
        }
    }
    return units;
}

std::string UnitsToUtf8(const std::u16string& units)
{
    // The decoder's own UTF-8 of a valid log, checked against the host layer's converter.
    return host::U8(units);
}

// A stream over the input that cannot seek, as a pipe.
struct PipeLike {
    const uint8_t* data;
    size_t size;
    size_t used;
};

ssize_t ReadPipe(void* cookie, char* buffer, size_t size)
{
    auto* pipe = static_cast<PipeLike*>(cookie);
    size_t n = pipe->size - pipe->used < size ? pipe->size - pipe->used : size;
    std::memcpy(buffer, pipe->data + pipe->used, n);
    pipe->used += n;
    return static_cast<ssize_t>(n);
}

// What logread prints for the log read from a stream.
struct Printout {
    int result;
    std::string out;
    std::string err;
};

Printout Print(FILE* log)
{
    char* out = nullptr;
    char* err = nullptr;
    size_t outSize = 0, errSize = 0;
    FILE* outStream = open_memstream(&out, &outSize);
    FILE* errStream = open_memstream(&err, &errSize);
    EXPECT_ORACLE(log && outStream && errStream, "streams for logread");
    Printout printout;
    printout.result = PrintInstallerLog(log, "f", outStream, errStream);
    std::fclose(log);
    std::fclose(outStream);
    std::fclose(errStream);
    printout.out.assign(out, outSize);
    printout.err.assign(err, errSize);
    std::free(out);
    std::free(err);
    return printout;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string bytes(reinterpret_cast<const char*>(data), size);
    DecodedLog whole = DecodeInstallerLog(bytes);

    DecodedLog pieces = InPieces(bytes);
    EXPECT_ORACLE(pieces.text == whole.text, "pieces give other text");
    EXPECT_ORACLE(pieces.problems == whole.problems, "pieces give other problems");

    if (whole.problems.empty()) EXPECT_ORACLE(Stored(FromUtf8(whole.text)) == bytes, "valid log does not encode back");
    for (const std::string& problem : whole.problems) {
        unsigned long long offset = 0;
        EXPECT_ORACLE(std::sscanf(problem.c_str(), "byte %llu:", &offset) == 1 && offset <= size,
                      "report without its place: " + problem);
    }

    // logread prints the same, from a file that it may read again and from a pipe.
    std::string reports;
    for (const std::string& problem : whole.problems) reports += "f: " + problem + "\n";
    int result = whole.problems.empty() ? LOG_VALID : LOG_NOT_VALID;
    PipeLike pipe = {data, size, 0};
    cookie_io_functions_t pipeCalls = {ReadPipe, nullptr, nullptr, nullptr};
    for (FILE* log :
         {size ? fmemopen(const_cast<uint8_t*>(data), size, "rb") : nullptr, fopencookie(&pipe, "rb", pipeCalls)}) {
        if (!log) continue;  // fmemopen takes no empty buffer
        Printout printout = Print(log);
        EXPECT_ORACLE(printout.result == result, "logread's exit code");
        EXPECT_ORACLE(printout.out == whole.text, "logread's text");
        EXPECT_ORACLE(printout.err == reports, "logread's reports");
    }

    // The input's code units, made a valid log, decode without a problem.
    std::u16string units;
    for (size_t i = 0; i + 1 < size; i += 2) {
        char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit == 0) continue;
        if (IsHigh(unit) && i + 3 < size) {
            char16_t next = static_cast<char16_t>(data[i + 2] | (data[i + 3] << 8));
            if (IsLow(next)) {
                units.push_back(unit);
                units.push_back(next);
                i += 2;
                continue;
            }
        }
        units.push_back(IsHigh(unit) || IsLow(unit) ? REPLACEMENT : unit);
    }
    if (!units.empty() && units.back() != u'\n') units.push_back(u'\n');
    DecodedLog valid = DecodeInstallerLog(Stored(units));
    EXPECT_ORACLE(valid.problems.empty(), "a valid log reported: " + (valid.problems.empty() ? "" : valid.problems[0]));
    EXPECT_ORACLE(valid.text == UnitsToUtf8(units), "a valid log decoded to other text");
    return 0;
}
