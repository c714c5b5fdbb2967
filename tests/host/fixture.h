// Common ground of the host tests: a fresh simulated machine and a freshly loaded library.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "decode.h"
#include "log.h"
#include "machine.h"

class MachineTest : public ::testing::Test {
public:
    // A pointer as the log prints it: eight upper-case hexadecimal digits.
    static std::string Hex8(const void* p)
    {
        char text[16];
        std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)));
        return text;
    }
    static std::string Hex8(FARPROC p) { return Hex8(reinterpret_cast<const void*>(p)); }

protected:
    void SetUp() override
    {
        machine = &host::ResetMachine();
        ForgetLogPath();
    }

    host::Machine& m() { return *machine; }

    static std::u16string LogPath() { return u"C:\\Temp\\drvmate.log"; }

    // The installer log's raw bytes, and its lines as text (the decoder must find it valid).
    std::string LogBytes() const { return machine->ReadFile(LogPath()); }
    std::string LogText() const
    {
        DecodedLog log = DecodeInstallerLog(LogBytes());
        EXPECT_TRUE(log.problems.empty()) << (log.problems.empty() ? "" : log.problems[0]);
        return log.text;
    }
    std::vector<std::string> LogLines() const
    {
        std::vector<std::string> lines;
        std::string text = LogText(), line;
        for (char c : text) {
            if (c == '\n') { lines.push_back(line); line.clear(); }
            else line.push_back(c);
        }
        if (!line.empty()) lines.push_back(line);
        return lines;
    }

    host::Machine* machine = nullptr;
};

inline std::string Bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values) s.push_back(static_cast<char>(v));
    return s;
}
