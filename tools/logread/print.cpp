#include "print.h"

#include <string>
#include <vector>

#include "decode.h"

namespace {

// Bytes read at a time.
const size_t READ_BLOCK = 64 * 1024;
// Reads without a limit.
const size_t WHOLE_STREAM = static_cast<size_t>(-1);

const int LAYER_COUNT = 2;
int Index(LogLayer layer) { return layer == LogLayer::Bytes ? 0 : 1; }

// What one reading of the log does with what the decoder finds: text to `out` or nowhere,
// each problem printed, counted or held, by layer.
class Reading : public LogDecoderSink {
public:
    enum Problems { COUNT, PRINT, HOLD };

    Reading(const char* name, FILE* out, FILE* err) : name_(name), out_(out), err_(err) {}

    void PrintText(bool on) { printText_ = on; }
    void Handle(LogLayer layer, Problems how) { how_[Index(layer)] = how; }
    size_t Count(LogLayer layer) const { return count_[Index(layer)]; }
    void PrintHeld(LogLayer layer) const
    {
        for (const std::string& problem : held_[Index(layer)]) Print(problem.c_str());
    }

    void Text(const char* utf8, size_t size) override
    {
        if (printText_) std::fwrite(utf8, 1, size, out_);
    }
    void Problem(LogLayer layer, const char* where) override
    {
        int i = Index(layer);
        ++count_[i];
        if (how_[i] == PRINT) Print(where);
        if (how_[i] == HOLD) held_[i].push_back(where);
    }

private:
    void Print(const char* where) const { std::fprintf(err_, "%s: %s\n", name_, where); }

    const char* name_;
    FILE* out_;
    FILE* err_;
    bool printText_ = false;
    Problems how_[LAYER_COUNT] = {COUNT, COUNT};
    size_t count_[LAYER_COUNT] = {0, 0};
    std::vector<std::string> held_[LAYER_COUNT];
};

// Decodes at most `limit` bytes from the stream's position; returns the bytes decoded.
size_t Decode(FILE* log, size_t limit, LogDecoderSink& sink)
{
    std::vector<char> block(READ_BLOCK);
    LogDecoder decoder(sink);
    size_t total = 0;
    while (total < limit) {
        size_t want = limit - total < READ_BLOCK ? limit - total : READ_BLOCK;
        size_t n = std::fread(block.data(), 1, want, log);
        if (n == 0) break;
        decoder.Feed(block.data(), n);
        total += n;
    }
    decoder.Finish();
    return total;
}

}  // namespace

int PrintInstallerLog(FILE* log, const char* name, FILE* out, FILE* err)
{
    fpos_t start;
    bool canReadAgain = std::fgetpos(log, &start) == 0;

    Reading first(name, out, err);
    first.PrintText(true);
    if (!canReadAgain) {
        first.Handle(LogLayer::Bytes, Reading::HOLD);
        first.Handle(LogLayer::CodeUnits, Reading::HOLD);
    }
    size_t bytes = Decode(log, WHOLE_STREAM, first);
    if (first.Count(LogLayer::Bytes) == 0 && first.Count(LogLayer::CodeUnits) == 0) return LOG_VALID;

    // The text is out before the first report, as when the whole log was decoded first.
    std::fflush(out);
    for (LogLayer layer : {LogLayer::Bytes, LogLayer::CodeUnits}) {
        if (first.Count(layer) == 0) continue;
        if (!canReadAgain) {
            first.PrintHeld(layer);
            continue;
        }
        // The same bytes again, also when the log has grown meanwhile.
        Reading again(name, out, err);
        again.Handle(layer, Reading::PRINT);
        if (std::fsetpos(log, &start) == 0) Decode(log, bytes, again);
    }
    return LOG_NOT_VALID;
}
