// LogMessage with any TEMP and any %s values.
//
// Input: a flags byte, TEMP (as Input::Name reads it), the first and the second value as
// UTF-16LE texts that each end at a zero unit, then a number's four bytes.
// Flags: 1 the harness makes TEMP's folder first; 2 TEMP is unset; 4 a second message is
// logged (its format "%s" with the second value); the bits above pick the first format.
//
// Oracles: nothing but the log file is created, and only when TEMP with "\drvmate.log"
// fits in 260 characters; when the log's folder exists the file is there; its bytes are the
// messages exactly as the log stores them: UTF-16LE code units of the formatted text, cut
// to 254 characters when it has 254 or more (253 when the 254th is a high surrogate), a line
// end added when the text holds none, and every byte 0x0A stored as 0x0D 0x0A. AddressSanitizer
// watches the message buffer.
#include <string>
#include <vector>

#include "harness.h"
#include "log.h"

namespace {

const size_t LONGEST_TEMP = 300;
const size_t LONGEST_VALUE = 600;
const int FORMAT_COUNT = 6;

enum Flags { MAKE_FOLDER = 1, TEMP_UNSET = 2, SECOND_MESSAGE = 4, FORMAT_SHIFT = 3 };

bool IsHigh(char16_t c) { return c >= 0xD800 && c < 0xDC00; }

std::u16string Decimal(int value)
{
    std::string text = std::to_string(value);
    return std::u16string(text.begin(), text.end());
}

// Logs the first message with the format picked; returns its formatted text.
std::u16string LogFirst(int format, const std::u16string& first, const std::u16string& second, int number)
{
    switch (format) {
    case 0: LogMessage(W("%s"), first.c_str()); return first;
    case 1: LogMessage(W("%s\n"), first.c_str()); return first + u"\n";
    case 2: LogMessage(W("infFile: %s\n"), first.c_str()); return u"infFile: " + first + u"\n";
    case 3: LogMessage(W("%s%s"), first.c_str(), second.c_str()); return first + second;
    case 4:
        LogMessage(W("package folder too long: %.200s...\n"), first.c_str());
        return u"package folder too long: " + first.substr(0, 200) + u"...\n";
    default:
        LogMessage(W("update (%s) ok: %s(%d)\n"), first.c_str(), second.c_str(), number);
        return u"update (" + first + u") ok: " + second + u"(" + Decimal(number) + u")\n";
    }
}

// The bytes that one message with this formatted text appends.
std::string Stored(std::u16string text)
{
    if (text.size() >= static_cast<size_t>(MESSAGE_TEXT_LIMIT)) {
        text.resize(MESSAGE_TEXT_LIMIT);
        if (IsHigh(text.back())) text.pop_back();
    }
    if (text.find(u'\n') == std::u16string::npos) text.push_back(u'\n');
    std::string bytes;
    for (char16_t unit : text)
        for (char byte : {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)}) {
            if (byte == '\x0A') bytes.push_back('\x0D');
            bytes.push_back(byte);
        }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input input(data, size);
    host::Machine& m = FreshMachine();
    uint8_t flags = input.Byte();
    std::u16string temp = input.Name(LONGEST_TEMP);
    std::u16string first = input.Text(LONGEST_VALUE);
    std::u16string second = input.Text(LONGEST_VALUE);
    int number = static_cast<int>(input.Byte() | (input.Byte() << 8) | (input.Byte() << 16) |
                                  (static_cast<unsigned>(input.Byte()) << 24));

    if (flags & TEMP_UNSET)
        m.environment.erase(u"TEMP");
    else
        m.environment[u"TEMP"] = temp;
    std::u16string logPath = temp + u"\\drvmate.log";
    bool pathFits = !(flags & TEMP_UNSET) && !temp.empty() && logPath.size() < static_cast<size_t>(MAX_PATH);
    std::u16string fullLogPath = pathFits ? host::CurrentMachine().FullPath(logPath) : std::u16string();
    std::u16string logFolder = fullLogPath.substr(0, fullLogPath.rfind(u'\\') + 1);
    // Windows holds a folder only when every name in its path is a name it takes (no control
    // characters, no wildcards, ...): the simulated machine is not asked for any other.
    bool folderNamesValid = logFolder.size() > 3;
    for (size_t start = 3; folderNamesValid && start < logFolder.size();) {
        size_t end = logFolder.find(u'\\', start);
        std::u16string name = logFolder.substr(start, end - start);
        folderNamesValid = !name.empty() && FileName(name) == name;
        start = end + 1;
    }
    if ((flags & MAKE_FOLDER) && folderNamesValid) {
        try {
            m.MakeFolder(logFolder);
        } catch (...) {
            // Not a folder this machine can hold; the log then cannot be created.
        }
    }
    std::set<std::string> before = MachineEntries();

    std::string expected = Stored(LogFirst((flags >> FORMAT_SHIFT) % FORMAT_COUNT, first, second, number));
    if (flags & SECOND_MESSAGE) {
        LogMessage(W("%s"), second.c_str());
        expected += Stored(second);
    }

    std::set<std::string> after = MachineEntries();
    std::vector<std::string> made;
    for (const std::string& entry : after)
        if (!before.count(entry)) made.push_back(entry);
    EXPECT_ORACLE(after.size() == before.size() + made.size(), "an entry of the machine went away");
    if (!pathFits) {
        EXPECT_ORACLE(made.empty(), "a log made although TEMP leaves no room for it: " + made[0]);
        EXPECT_ORACLE(m.Calls("_wfsopen") == 0, "a log opened although TEMP leaves no room for it");
        return 0;
    }
    std::string logEntry = fullLogPath.empty() ? std::string() : EntryOf(fullLogPath);
    for (const std::string& entry : made) EXPECT_ORACLE(entry == logEntry, "not the log: " + entry);
    std::string folderEntry = logFolder.empty() ? std::string() : EntryOf(logFolder);
    if (!folderEntry.empty() && IsFolderEntry(folderEntry))
        EXPECT_ORACLE(made.size() == 1, "the log's folder is there, the log is not");
    if (!made.empty()) EXPECT_ORACLE(m.ReadFile(fullLogPath) == expected, "the log's bytes");
    return 0;
}
