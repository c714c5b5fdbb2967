// logread: prints a drvmate.log as UTF-8 text, one line per message, and says on standard
// error where its bytes are not a valid log. Exit code 0: valid; 1: not valid; 2: unreadable.
#include <cstdio>
#include <string>

#include "decode.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: logread drvmate.log\n");
        return 2;
    }
    FILE* file = std::fopen(argv[1], "rb");
    if (!file) {
        std::fprintf(stderr, "logread: cannot open %s\n", argv[1]);
        return 2;
    }
    std::string bytes;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, n);
    std::fclose(file);

    DecodedLog log = DecodeInstallerLog(bytes);
    std::fwrite(log.text.data(), 1, log.text.size(), stdout);
    for (const std::string& problem : log.problems) std::fprintf(stderr, "%s: %s\n", argv[1], problem.c_str());
    return log.problems.empty() ? 0 : 1;
}
