#include "cleaner_log.h"

#include <stdarg.h>
#include <string.h>

#include "winapi.h"

namespace {

const char LogFileName[] = "__Svcsweep__LOG.log";
const int ExistenceOnly = 0;  // _access mode
const char TimeFormat[] = "%Y-%m-%d %H:%M:%S";

}  // namespace

void FormatTimestamp(char* output)
{
    __time64_t now;
    _time64(&now);
    struct tm* local = _localtime64(&now);
    if (!local) return;
    if (strftime(output, TIME_TEXT_BYTES, TimeFormat, local) == 0) output[0] = 0;
}

void LogLine(const char* format, ...)
{
    if (_access(LogFileName, ExistenceOnly) != 0) return;
    FILE* file = fopen(LogFileName, "at");
    if (!file) return;

    char line[LOG_LINE_BYTES];
    memset(line, 0, sizeof line);
    line[0] = '[';
    FormatTimestamp(line + 1);
    size_t length = strlen(line);
    if (length > 1) {
        line[length++] = ']';
        line[length++] = ' ';
    }

    // The message may fill the line but for one byte for the newline and one for the
    // terminator. The buffer was zeroed, so even a runtime that leaves a cut text
    // unterminated leaves the line terminated.
    size_t room = sizeof line - length - 1;
    va_list values;
    va_start(values, format);
    int formatted = vsnprintf(line + length, room, format, values);
    va_end(values);
    bool cut = formatted < 0 || static_cast<size_t>(formatted) >= room;
    length = strlen(line);

    // A cut message has lost its end, its newline with it: it always ends its line.
    if (!strchr(line, '\n') || (cut && line[length - 1] != '\n')) line[length++] = '\n';

    fprintf(file, "%s", line);
    printf("%s", line);
    fclose(file);
}
