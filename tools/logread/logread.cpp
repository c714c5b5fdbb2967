// logread: prints a drvmate.log as UTF-8 text, one line per message, and says on standard
// error where its bytes are not a valid log. Exit code 0: valid; 1: not valid; 2: unreadable.
#include <cstdio>

#include "print.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: logread drvmate.log\n");
        return LOG_UNREADABLE;
    }
    FILE* file = std::fopen(argv[1], "rb");
    if (!file) {
        std::fprintf(stderr, "logread: cannot open %s\n", argv[1]);
        return LOG_UNREADABLE;
    }
    int result = PrintInstallerLog(file, argv[1], stdout, stderr);
    std::fclose(file);
    return result;
}
