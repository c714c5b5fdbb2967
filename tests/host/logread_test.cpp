// The log reader: its decoding of drvmate.log bytes, fed whole or in pieces, and what
// logread prints and returns.
#include "fixture.h"

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "decode.h"
#include "print.h"

namespace {

const char* const LoneLineFeed = "0x0A without the 0x0D that text mode puts before it";
const char* const OddCount = "odd number of bytes: the last code unit is cut";

// Collects what a decoder hands over, and the largest piece of text it handed at once.
class Recorder : public LogDecoderSink {
public:
    void Text(const char* utf8, size_t size) override
    {
        log.text.append(utf8, size);
        if (size > largestPiece) largestPiece = size;
    }
    void Problem(LogLayer layer, const char* where) override
    {
        log.problems.push_back(std::string(layer == LogLayer::Bytes ? "bytes " : "units ") + where);
    }
    DecodedLog log;
    size_t largestPiece = 0;
};

// The log fed in pieces that end at the given offsets.
DecodedLog FedInPieces(const std::string& bytes, const std::vector<size_t>& ends)
{
    Recorder recorder;
    LogDecoder decoder(recorder);
    size_t start = 0;
    for (size_t end : ends) {
        decoder.Feed(bytes.data() + start, end - start);
        start = end;
    }
    decoder.Feed(bytes.data() + start, bytes.size() - start);
    decoder.Finish();
    return recorder.log;
}

DecodedLog FedWhole(const std::string& bytes) { return FedInPieces(bytes, {}); }

std::string ReadBack(FILE* stream)
{
    std::string text;
    std::rewind(stream);
    char block[4096];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, stream)) > 0) text.append(block, n);
    return text;
}

struct Printed {
    int result;
    std::string out;
    std::string err;
};

// logread's printing of a log read from a file, or from a pipe when `throughPipe`.
Printed Print(const std::string& bytes, bool throughPipe = false)
{
    FILE* log;
    if (throughPipe) {
        int ends[2];
        EXPECT_EQ(pipe(ends), 0);
        EXPECT_LT(bytes.size(), 4096u) << "the pipe must take the whole log before it is read";
        EXPECT_EQ(write(ends[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(ends[1]);
        log = fdopen(ends[0], "rb");
    } else {
        log = std::tmpfile();
        std::fwrite(bytes.data(), 1, bytes.size(), log);
        std::rewind(log);
    }
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    Printed printed;
    printed.result = PrintInstallerLog(log, "x.log", out, err);
    printed.out = ReadBack(out);
    printed.err = ReadBack(err);
    std::fclose(log);
    std::fclose(out);
    std::fclose(err);
    return printed;
}

}  // namespace

TEST(LogReader, ValidLogGivesOneLinePerMessage)
{
    // "ab\n" and U+00E9 U+1F600 "\n", as text mode stored them.
    std::string bytes = Bytes({0x61, 0, 0x62, 0, 0x0D, 0x0A, 0, 0xE9, 0, 0x3D, 0xD8, 0x00, 0xDE, 0x0D, 0x0A, 0});
    DecodedLog log = DecodeInstallerLog(bytes);
    EXPECT_EQ(log.text, "ab\n\u00e9\U0001F600\n");
    EXPECT_TRUE(log.problems.empty());
}

TEST(LogReader, ReportsSayWhereTheBytesAreNotALog)
{
    // A 0x0A without its 0x0D, at byte 2.
    DecodedLog lone = DecodeInstallerLog(Bytes({0x61, 0, 0x0A, 0}));
    EXPECT_EQ(lone.text, "a\n");
    EXPECT_EQ(lone.problems, std::vector<std::string>{std::string("byte 2: ") + LoneLineFeed});

    // An odd byte count: reported at the last byte, whose code unit is dropped.
    DecodedLog odd = DecodeInstallerLog(Bytes({0x61, 0, 0x0D, 0x0A, 0, 0x62}));
    EXPECT_EQ(odd.text, "a\n");
    EXPECT_EQ(odd.problems, std::vector<std::string>{std::string("byte 5: ") + OddCount});

    // Unpaired surrogates become U+FFFD, zero code units are dropped, and a log that stops
    // inside a message says so at its end.
    DecodedLog units = DecodeInstallerLog(Bytes({0x00, 0xDC, 0, 0, 0x00, 0xD8, 0x61, 0, 0x00, 0xD8}));
    EXPECT_EQ(units.text,
              "\xEF\xBF\xBD\xEF\xBF\xBD"
              "a\xEF\xBF\xBD");
    EXPECT_EQ(units.problems,
              (std::vector<std::string>{
                  "byte 0: low surrogate without its high half", "byte 2: a zero code unit inside the log",
                  "byte 4: high surrogate without its low half", "byte 8: high surrogate without its low half",
                  "byte 10: the last message has no line end"}));
}

TEST(LogReader, ByteProblemsAreListedBeforeCodeUnitProblems)
{
    // A zero code unit at byte 0, a lone 0x0A at byte 4, an odd count at byte 6.
    DecodedLog log = DecodeInstallerLog(Bytes({0, 0, 0x61, 0, 0x0A, 0, 0x62}));
    EXPECT_EQ(log.problems,
              (std::vector<std::string>{std::string("byte 4: ") + LoneLineFeed, std::string("byte 6: ") + OddCount,
                                        "byte 0: a zero code unit inside the log"}));
}

TEST(LogReader, PiecesSplitAnywhereGiveTheWholeLogsResult)
{
    const std::vector<std::string> logs = {
        // 0x0D 0x0A of a line end, and the 0x0A byte of U+0A41 (41 0D 0A).
        Bytes({0x61, 0, 0x0D, 0x0A, 0, 0x41, 0x0D, 0x0A, 0x0D, 0x0A, 0}),
        // A surrogate pair, U+1F600, then a line end.
        Bytes({0x3D, 0xD8, 0x00, 0xDE, 0x0D, 0x0A, 0}),
        // 0x0D 0x0D 0x0A keeps the first 0x0D; a 0x0D at the very end is text.
        Bytes({0x0D, 0x0D, 0x0A, 0x0D}),
        // A lone 0x0A after a 0x0A whose 0x0D was removed, and a high surrogate at the end.
        Bytes({0x0D, 0x0A, 0x0A, 0x00, 0xD8, 0x41}),
    };
    for (const std::string& bytes : logs) {
        DecodedLog whole = FedWhole(bytes);
        for (size_t cut = 0; cut <= bytes.size(); ++cut) {
            DecodedLog pieces = FedInPieces(bytes, {cut});
            EXPECT_EQ(pieces.text, whole.text) << "cut at " << cut;
            EXPECT_EQ(pieces.problems, whole.problems) << "cut at " << cut;
        }
        std::vector<size_t> everyByte;
        for (size_t end = 0; end <= bytes.size(); ++end) everyByte.push_back(end);
        EXPECT_EQ(FedInPieces(bytes, everyByte).text, whole.text);
        EXPECT_EQ(FedInPieces(bytes, everyByte).problems, whole.problems);
    }

    // The two splits that matter, spelled out.
    DecodedLog lineEnd = FedInPieces(Bytes({0x61, 0, 0x0D, 0x0A, 0}), {3});  // 0x0D | 0x0A
    EXPECT_EQ(lineEnd.text, "a\n");
    EXPECT_TRUE(lineEnd.problems.empty());
    DecodedLog pair = FedInPieces(Bytes({0x3D, 0xD8, 0x00, 0xDE, 0x0D, 0x0A, 0}), {2});  // high | low
    EXPECT_EQ(pair.text, "\U0001F600\n");
    EXPECT_TRUE(pair.problems.empty());
}

TEST(LogReader, TextReachesTheSinkBeforeTheNextPieceInBoundedBlocks)
{
    Recorder recorder;
    LogDecoder decoder(recorder);
    std::string line = Bytes({0x61, 0, 0x0D, 0x0A, 0});
    decoder.Feed(line.data(), line.size());
    EXPECT_EQ(recorder.log.text, "a\n");

    // A megabyte of text in one piece comes out in blocks, not as one string.
    std::string many;
    for (int i = 0; i < (1 << 20) / 5; ++i) many += line;
    decoder.Feed(many.data(), many.size());
    decoder.Finish();
    EXPECT_EQ(recorder.log.text.size(), 2u + many.size() / 5 * 2);
    EXPECT_LE(recorder.largestPiece, 4096u);
}

TEST(LogReader, PrintsTextThenReportsAndExitsWithOneWhenNotValid)
{
    Printed valid = Print(Bytes({0x61, 0, 0x0D, 0x0A, 0}));
    EXPECT_EQ(valid.result, LOG_VALID);
    EXPECT_EQ(valid.out, "a\n");
    EXPECT_EQ(valid.err, "");

    // Both layers' problems, the byte layer's first, each line naming the file.
    std::string bytes = Bytes({0, 0, 0x61, 0, 0x0A, 0, 0x62});
    std::string reports = std::string("x.log: byte 4: ") + LoneLineFeed + "\n" + "x.log: byte 6: " + OddCount + "\n" +
                          "x.log: byte 0: a zero code unit inside the log\n";
    Printed file = Print(bytes);
    EXPECT_EQ(file.result, LOG_NOT_VALID);
    EXPECT_EQ(file.out, "a\n");
    EXPECT_EQ(file.err, reports);

    // A pipe cannot be read twice: the same reports, held until the end.
    Printed pipe = Print(bytes, true);
    EXPECT_EQ(pipe.result, LOG_NOT_VALID);
    EXPECT_EQ(pipe.out, "a\n");
    EXPECT_EQ(pipe.err, reports);
}

TEST(LogReader, LogLongerThanOneReadGivesTheWholeLogsResult)
{
    // Problems of both layers before, across and after the 64 KiB read boundaries.
    std::string bytes;
    const std::string line = Bytes({0x61, 0, 0x0D, 0x0A, 0});
    while (bytes.size() < 200000) {
        bytes += line;
        if (bytes.size() % 7 == 0) bytes += Bytes({0x0A, 0});      // lone 0x0A
        if (bytes.size() % 11 == 0) bytes += Bytes({0x00, 0xDC});  // lone low surrogate
    }
    bytes += Bytes({0x3D, 0xD8});
    bytes.insert(65535, Bytes({0x0D}));
    bytes.insert(131072, Bytes({0x0A}));
    bytes += "z";

    DecodedLog expected = DecodeInstallerLog(bytes);
    std::string reports;
    for (const std::string& problem : expected.problems) reports += "x.log: " + problem + "\n";
    ASSERT_GT(expected.problems.size(), 1000u);
    Printed printed = Print(bytes);
    EXPECT_EQ(printed.result, LOG_NOT_VALID);
    EXPECT_EQ(printed.out, expected.text);
    EXPECT_EQ(printed.err, reports);
}
