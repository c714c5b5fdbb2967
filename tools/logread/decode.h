// Turns the bytes of a drvmate.log into UTF-8 text.
//
// The log is UTF-16LE written through a text-mode stream, which stored every 0x0A byte as
// 0x0D 0x0A, so the line end U+000A reached the file as 0D 0A 00, and so did the 0x0A byte
// of any other code unit (U+0A41 as 41 0D 0A). Removing the one 0x0D in front of each 0x0A
// gives back the UTF-16LE text exactly.
//
// The decoding runs in two layers. The byte layer undoes the text mode and finds a 0x0A
// without its 0x0D and an odd byte count; the code-unit layer decodes UTF-16 and finds
// unpaired surrogates, zero code units and a last message without its line end. A report
// lists the byte layer's problems first, then the code-unit layer's, each in file order.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct DecodedLog {
    std::string text;                   // UTF-8, one line per message
    std::vector<std::string> problems;  // where the bytes are not a valid log; empty when valid
};

// The whole log at once.
DecodedLog DecodeInstallerLog(const std::string& bytes);

enum class LogLayer { Bytes, CodeUnits };

// Receives what a LogDecoder finds, as it finds it.
class LogDecoderSink {
public:
    virtual ~LogDecoderSink() {}
    // The next piece of the decoded text, UTF-8.
    virtual void Text(const char* utf8, size_t size) = 0;
    // A place where the bytes are not a valid log: "byte <offset>: <what>".
    virtual void Problem(LogLayer layer, const char* where) = 0;
};

// Decodes a log handed over in pieces of any size, split anywhere: the result is that of
// the whole log at once. It holds no more than a few bytes of state and one output block,
// however long the log.
class LogDecoder {
public:
    explicit LogDecoder(LogDecoderSink& sink) : sink_(sink) {}
    LogDecoder(const LogDecoder&) = delete;
    LogDecoder& operator=(const LogDecoder&) = delete;

    // The next bytes of the log; their text reaches the sink before this returns.
    void Feed(const char* bytes, size_t size);
    // The end of the log: reports what only the end can tell.
    void Finish();

    // Bytes fed so far.
    size_t Offset() const { return offset_; }

private:
    void PutByte(unsigned char byte, size_t offset);  // a byte of the UTF-16LE text
    void PutUnit(unsigned long unit, size_t offset);  // a code unit and its first byte's offset
    void PutCodePoint(unsigned long codePoint);
    void PutText(char c);
    void FlushText();
    void Report(LogLayer layer, size_t offset, const char* what);

    static const size_t TEXT_BLOCK = 4096;

    LogDecoderSink& sink_;
    size_t offset_ = 0;
    // Byte layer: a 0x0D waits for the next byte, which decides whether text mode added it.
    bool carriageReturnHeld_ = false;
    size_t carriageReturnOffset_ = 0;
    bool previousWasCarriageReturn_ = false;
    // Code-unit layer: the first byte of a code unit, and a high surrogate waiting for its low half.
    size_t textBytes_ = 0;
    unsigned char lowByte_ = 0;
    size_t lowByteOffset_ = 0;
    bool highSurrogateHeld_ = false;
    unsigned long highSurrogate_ = 0;
    size_t highSurrogateOffset_ = 0;
    // Output: decoded text not yet handed to the sink, and the last character of all text.
    char text_[TEXT_BLOCK];
    size_t textUsed_ = 0;
    bool anyText_ = false;
    char lastText_ = 0;
};
