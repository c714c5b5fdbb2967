#include "log.h"

#include <stdarg.h>

#include "text.h"

namespace {

// Filled once, at the first message that finds it empty; kept for the life of the library.
WCHAR logPath[MAX_PATH];
// Open only while one message is written.
FILE* logStream;

bool IsHighSurrogate(WCHAR c) { return c >= 0xD800 && c <= 0xDBFF; }

class LastErrorKeeper {
public:
    LastErrorKeeper() : error_(GetLastError()) {}
    ~LastErrorKeeper() { SetLastError(error_); }

private:
    DWORD error_;
};

}  // namespace

bool GetTempDirectory(WCHAR* buffer, DWORD size)
{
    DWORD length = GetEnvironmentVariableW(W("TEMP"), buffer, size);
    if (length == 0) return false;
    if (length >= size) return false;
    buffer[length] = 0;
    return true;
}

void LogMessage(const WCHAR* format, ...)
{
    // Callers log the last error of a failed step after other lines: opening the log must
    // not replace it.
    LastErrorKeeper keeper;
    if (!logStream) {
        if (logPath[0] == 0) {
            if (!GetTempDirectory(logPath, MAX_PATH)) logPath[0] = 0;
            if (logPath[0] == 0) return;
            if (!AppendPathText(logPath, W("\\drvmate.log"))) {
                logPath[0] = 0;
                return;
            }
        }
        logStream = _wfsopen(logPath, W("at"), _SH_DENYNO);
        if (!logStream) return;
    }

    WCHAR message[LOG_MESSAGE_CHARS];
    va_list values;
    va_start(values, format);
    int length = _vsnwprintf(message, MESSAGE_TEXT_LIMIT, format, values);
    va_end(values);
    if (length < 0 || length >= MESSAGE_TEXT_LIMIT) {
        length = MESSAGE_TEXT_LIMIT;
        if (IsHighSurrogate(message[length - 1])) --length;
    }
    message[length] = 0;

    if (!ContainsChar(message, W('\n'))) {
        message[length++] = W('\n');
        message[length] = 0;
    }
    fwrite(message, 1, length * sizeof(WCHAR), logStream);
    fclose(logStream);
    logStream = 0;
}

void ForgetLogPath()
{
    logPath[0] = 0;
}
