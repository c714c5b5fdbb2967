// Turns the bytes of a drvmate.log into UTF-8 text.
//
// The log is UTF-16LE written through a text-mode stream, which stored every 0x0A byte as
// 0x0D 0x0A, so the line end U+000A reached the file as 0D 0A 00, and so did the 0x0A byte
// of any other code unit (U+0A41 as 41 0D 0A). Removing the one 0x0D in front of each 0x0A
// gives back the UTF-16LE text exactly.
#pragma once

#include <string>
#include <vector>

struct DecodedLog {
    std::string text;                   // UTF-8, one line per message
    std::vector<std::string> problems;  // where the bytes are not a valid log; empty when valid
};

DecodedLog DecodeInstallerLog(const std::string& bytes);
