// The bounded path helpers over any text and any buffer content.
//
// Input: an operation byte, then the destination's content and the text as UTF-16LE texts
// that each end at a zero unit; a flags byte says whether the destination's content is
// terminated inside the buffer.
//
// Two more units choose the destination's size (MAX_PATH, SEARCH_BUFFER_CHARS, or any size
// up to that) and the position written at inside it. The destination is a heap block of
// exactly that size, and the text a block of exactly its length and terminator:
// AddressSanitizer stops any access past either. The room at the position is MAX_PATH
// characters and never more than what is left of the buffer. Oracles: a copy or append
// takes the text when it fits in that room with its terminator and is refused otherwise,
// leaving the destination as it was, and nothing outside the room changes; the last-character and contains searches
// agree with a plain search; a resolved full path is accepted only at 1 to 259 characters.
#include <algorithm>
#include <string>
#include <vector>

#include "harness.h"
#include "text.h"

namespace {

const size_t LONGEST_TEXT = 600;
enum Operation { COPY, APPEND, FIND_LAST, CONTAINS, RESOLVE, OPERATION_COUNT };
enum Flags { UNTERMINATED = 1 };

std::u16string Content(const std::vector<WCHAR>& buffer, size_t from = 0)
{
    std::u16string text;
    for (size_t i = from; i < buffer.size() && buffer[i]; ++i) text.push_back(buffer[i]);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input input(data, size);
    int operation = input.Byte() % OPERATION_COUNT;
    uint8_t flags = input.Byte();
    std::u16string content = input.Text(MAX_PATH);
    std::u16string text = input.Text(LONGEST_TEXT);
    WCHAR sought = input.Unit();
    WCHAR sizeChoice = input.Unit();
    WCHAR position = input.Unit();
    size_t chars = sizeChoice % 3 == 0   ? MAX_PATH
                   : sizeChoice % 3 == 1 ? SEARCH_BUFFER_CHARS
                                         : 1 + sizeChoice / 3 % SEARCH_BUFFER_CHARS;
    size_t at = position % chars;
    size_t room = std::min(static_cast<size_t>(MAX_PATH), chars - at);

    // The destination: the content at the position, terminated unless it fills the room and
    // the flags ask for none; the rest of the buffer holds a mark that nothing may change.
    std::vector<WCHAR> destination(chars, u'#');
    if (content.size() > room) content.resize(room);
    std::copy(content.begin(), content.end(), destination.begin() + at);
    if (content.size() < room && !(flags & UNTERMINATED)) destination[at + content.size()] = 0;
    const std::vector<WCHAR> original = destination;
    // The text in a block of its own size, so that nothing reads past its terminator.
    std::vector<WCHAR> textBlock(text.begin(), text.end());
    textBlock.push_back(0);

    switch (operation) {
    case COPY: {
        bool fits = text.size() < room;
        bool copied =
            CopyPathText(destination.data(), static_cast<int>(chars), destination.data() + at, textBlock.data());
        EXPECT_ORACLE(copied == fits, "copy accepted or refused wrongly");
        if (copied) {
            EXPECT_ORACLE(Content(destination, at) == text, "copy wrote other text");
            EXPECT_ORACLE(std::equal(destination.begin(), destination.begin() + at, original.begin()),
                          "copy wrote before its position");
            EXPECT_ORACLE(std::equal(destination.begin() + at + text.size() + 1, destination.end(),
                                     original.begin() + at + text.size() + 1),
                          "copy wrote behind its terminator");
        } else {
            EXPECT_ORACLE(destination == original, "refused copy changed the destination");
        }
        break;
    }
    case APPEND: {
        size_t used =
            std::find(destination.begin() + at, destination.begin() + at + room, 0) - (destination.begin() + at);
        bool fits = used < room && used + text.size() < room;
        bool appended =
            AppendPathText(destination.data(), static_cast<int>(chars), destination.data() + at, textBlock.data());
        EXPECT_ORACLE(appended == fits, "append accepted or refused wrongly");
        if (appended) {
            EXPECT_ORACLE(Content(destination, at) == Content(original, at) + text, "append wrote other text");
            EXPECT_ORACLE(std::equal(destination.begin(), destination.begin() + at, original.begin()),
                          "append wrote before its position");
            size_t end = at + used + text.size() + 1;
            EXPECT_ORACLE(std::equal(destination.begin() + end, destination.end(), original.begin() + end),
                          "append wrote behind its terminator");
        } else {
            EXPECT_ORACLE(destination == original, "refused append changed the destination");
        }
        break;
    }
    case FIND_LAST: {
        WCHAR* found = FindLastChar(textBlock.data(), sought);
        size_t last = sought ? text.rfind(sought) : std::u16string::npos;
        EXPECT_ORACLE(found == (last == std::u16string::npos ? nullptr : textBlock.data() + last), "last character");
        const WCHAR* constFound = FindLastChar(static_cast<const WCHAR*>(textBlock.data()), sought);
        EXPECT_ORACLE(constFound == found, "the two searches disagree");
        break;
    }
    case CONTAINS:
        EXPECT_ORACLE(ContainsChar(textBlock.data(), sought) == (sought && text.find(sought) != std::u16string::npos),
                      "contains");
        break;
    default: {
        // The text as a path, resolved into a block of exactly MAX_PATH characters.
        std::vector<WCHAR> fullPath(MAX_PATH, u'#');
        WCHAR* filePart = nullptr;
        bool resolved =
            ResolveFullPath(textBlock.data(), fullPath.data(), (flags & UNTERMINATED) ? &filePart : nullptr);
        std::u16string full = text.empty() ? std::u16string() : host::CurrentMachine().FullPath(text);
        bool fits = !full.empty() && full.size() < static_cast<size_t>(MAX_PATH);
        EXPECT_ORACLE(resolved == fits, "resolved path accepted or refused wrongly");
        if (resolved) {
            EXPECT_ORACLE(Content(fullPath) == full, "resolved path");
            if (filePart)
                EXPECT_ORACLE(filePart > fullPath.data() && filePart < fullPath.data() + full.size(), "file part");
        }
        break;
    }
    }
    return 0;
}
