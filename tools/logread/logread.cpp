// logread: prints a drvmate.log as UTF-8 text, one line per message, and says on standard
// error where its bytes are not a valid log. Exit code 0: valid; 1: not valid; 2: unreadable.
//
// logread --explain: explains each run of the log instead (explain.h gives the exit codes).
#include <cstdio>
#include <cstring>

#include "explain.h"
#include "print.h"

int main(int argc, char** argv)
{
    bool explain = argc == 3 && std::strcmp(argv[1], "--explain") == 0;
    if (argc != 2 && !explain) {
        std::fprintf(stderr, "usage: logread [--explain] drvmate.log\n");
        return LOG_UNREADABLE;
    }
    const char* path = argv[argc - 1];
    FILE* file = std::fopen(path, "rb");
    if (!file) {
        std::fprintf(stderr, "logread: cannot open %s\n", path);
        return LOG_UNREADABLE;
    }
    int result =
        explain ? ExplainInstallerLog(file, path, stdout, stderr) : PrintInstallerLog(file, path, stdout, stderr);
    std::fclose(file);
    return result;
}
