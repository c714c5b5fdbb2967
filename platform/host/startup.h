// What the C runtime's start-up code makes of the process's command line for a narrow main():
// the arguments as CommandLineToArgvW splits them, each turned into the ANSI code page with
// best fit, as WideCharToMultiByte does without WC_NO_BEST_FIT_CHARS. Tests start a program's
// main() the way the runtime would. Not reached from winapi.h.
#pragma once

#include <string>
#include <vector>

namespace host {

std::vector<std::u16string> SplitCommandLine(const std::u16string& line);
std::string BestFitAnsi(const std::u16string& text);

}  // namespace host
