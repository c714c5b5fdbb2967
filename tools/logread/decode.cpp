#include "decode.h"

#include <cstdio>

namespace {

const unsigned char CARRIAGE_RETURN = 0x0D;
const unsigned char LINE_FEED = 0x0A;
const unsigned long HIGH_SURROGATE_FIRST = 0xD800;
const unsigned long LOW_SURROGATE_FIRST = 0xDC00;
const unsigned long SURROGATE_END = 0xE000;
const unsigned long SUPPLEMENTARY_FIRST = 0x10000;
const unsigned long REPLACEMENT_CHARACTER = 0xFFFD;
const size_t REPORT_CHARS = 160;

bool IsHighSurrogate(unsigned long unit) { return unit >= HIGH_SURROGATE_FIRST && unit < LOW_SURROGATE_FIRST; }
bool IsLowSurrogate(unsigned long unit) { return unit >= LOW_SURROGATE_FIRST && unit < SURROGATE_END; }

}  // namespace

void LogDecoder::Feed(const char* bytes, size_t size)
{
    for (size_t i = 0; i < size; ++i, ++offset_) {
        unsigned char byte = static_cast<unsigned char>(bytes[i]);
        if (carriageReturnHeld_) {
            carriageReturnHeld_ = false;
            // Text mode put this 0x0D in front of the 0x0A: it is not part of the text.
            if (byte != LINE_FEED) PutByte(CARRIAGE_RETURN, carriageReturnOffset_);
        }
        if (byte == LINE_FEED && !previousWasCarriageReturn_)
            Report(LogLayer::Bytes, offset_, "0x0A without the 0x0D that text mode puts before it");
        previousWasCarriageReturn_ = byte == CARRIAGE_RETURN;
        if (byte == CARRIAGE_RETURN) {
            carriageReturnHeld_ = true;
            carriageReturnOffset_ = offset_;
            continue;
        }
        PutByte(byte, offset_);
    }
    FlushText();
}

void LogDecoder::Finish()
{
    if (carriageReturnHeld_) {
        carriageReturnHeld_ = false;
        PutByte(CARRIAGE_RETURN, carriageReturnOffset_);
    }
    if (textBytes_ % 2) Report(LogLayer::Bytes, lowByteOffset_, "odd number of bytes: the last code unit is cut");
    if (highSurrogateHeld_) {
        highSurrogateHeld_ = false;
        Report(LogLayer::CodeUnits, highSurrogateOffset_, "high surrogate without its low half");
        PutCodePoint(REPLACEMENT_CHARACTER);
    }
    if (anyText_ && lastText_ != '\n') Report(LogLayer::CodeUnits, offset_, "the last message has no line end");
    FlushText();
}

void LogDecoder::PutByte(unsigned char byte, size_t offset)
{
    if (textBytes_++ % 2 == 0) {
        lowByte_ = byte;
        lowByteOffset_ = offset;
        return;
    }
    PutUnit(lowByte_ | (static_cast<unsigned long>(byte) << 8), lowByteOffset_);
}

void LogDecoder::PutUnit(unsigned long unit, size_t offset)
{
    if (highSurrogateHeld_) {
        highSurrogateHeld_ = false;
        if (IsLowSurrogate(unit)) {
            PutCodePoint(SUPPLEMENTARY_FIRST + ((highSurrogate_ - HIGH_SURROGATE_FIRST) << 10) +
                         (unit - LOW_SURROGATE_FIRST));
            return;
        }
        Report(LogLayer::CodeUnits, highSurrogateOffset_, "high surrogate without its low half");
        PutCodePoint(REPLACEMENT_CHARACTER);
    }
    if (IsHighSurrogate(unit)) {
        highSurrogateHeld_ = true;
        highSurrogate_ = unit;
        highSurrogateOffset_ = offset;
        return;
    }
    if (IsLowSurrogate(unit)) {
        Report(LogLayer::CodeUnits, offset, "low surrogate without its high half");
        PutCodePoint(REPLACEMENT_CHARACTER);
        return;
    }
    if (unit == 0) {
        Report(LogLayer::CodeUnits, offset, "a zero code unit inside the log");
        return;
    }
    PutCodePoint(unit);
}

void LogDecoder::PutCodePoint(unsigned long cp)
{
    if (cp < 0x80) {
        PutText(static_cast<char>(cp));
    } else if (cp < 0x800) {
        PutText(static_cast<char>(0xC0 | (cp >> 6)));
        PutText(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        PutText(static_cast<char>(0xE0 | (cp >> 12)));
        PutText(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        PutText(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        PutText(static_cast<char>(0xF0 | (cp >> 18)));
        PutText(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        PutText(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        PutText(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

void LogDecoder::PutText(char c)
{
    if (textUsed_ == TEXT_BLOCK) FlushText();
    text_[textUsed_++] = c;
    anyText_ = true;
    lastText_ = c;
}

void LogDecoder::FlushText()
{
    if (textUsed_) sink_.Text(text_, textUsed_);
    textUsed_ = 0;
}

void LogDecoder::Report(LogLayer layer, size_t offset, const char* what)
{
    // Text found before the problem reaches the sink first.
    FlushText();
    char line[REPORT_CHARS];
    std::snprintf(line, sizeof line, "byte %zu: %s", offset, what);
    sink_.Problem(layer, line);
}

namespace {

// Collects a whole log's text and its problems, the byte layer's before the code units'.
class Collector : public LogDecoderSink {
public:
    explicit Collector(DecodedLog& log) : log_(log) {}
    void Text(const char* utf8, size_t size) override { log_.text.append(utf8, size); }
    void Problem(LogLayer layer, const char* where) override
    {
        (layer == LogLayer::Bytes ? log_.problems : codeUnitProblems_).push_back(where);
    }
    void Close() { log_.problems.insert(log_.problems.end(), codeUnitProblems_.begin(), codeUnitProblems_.end()); }

private:
    DecodedLog& log_;
    std::vector<std::string> codeUnitProblems_;
};

}  // namespace

DecodedLog DecodeInstallerLog(const std::string& bytes)
{
    DecodedLog log;
    Collector collector(log);
    LogDecoder decoder(collector);
    decoder.Feed(bytes.data(), bytes.size());
    decoder.Finish();
    collector.Close();
    return log;
}
