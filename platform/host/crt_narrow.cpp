// The Windows runtime's narrow file, console and time calls over the simulated machine.
#include "crt_narrow.h"

#include <sys/stat.h>

#include <cerrno>

#include "crt.h"
#include "machine.h"

namespace host {

namespace {

const int WriteMode = 2;
const int ReadMode = 4;

struct State {
    ConsoleText console;
    LocalClock clock;
};

State& Current()
{
    static State state;
    return state;
}

const bool registered = (Machine::OnReset([](Machine&) { Current() = State(); }), true);

// Narrow text is in the ANSI code page; the machine's is Windows-1252, taken here as
// Latin-1: each byte is the code unit of the same value.
std::u16string Widen(const char* text)
{
    std::u16string wide;
    for (; *text; ++text) wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(*text)));
    return wide;
}

std::string Format(const char* format, va_list args)
{
    va_list measure;
    va_copy(measure, args);
    int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0) return std::string();
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(&text[0], text.size(), format, args);
    text.resize(static_cast<size_t>(length));
    return text;
}

// The console text a standard stream writes to; null for any other stream.
std::string* ConsoleOf(FILE* stream)
{
    if (stream == stdout) return &Current().console.out;
    if (stream == stderr) return &Current().console.err;
    return nullptr;
}

}  // namespace

ConsoleText& Console()
{
    (void)registered;
    return Current().console;
}

LocalClock& Clock()
{
    (void)registered;
    return Current().clock;
}

FILE* NarrowOpen(const char* path, const char* mode)
{
    DWORD code;
    if (CurrentMachine().Enter("fopen", &code)) { errno = static_cast<int>(code ? code : EACCES); return nullptr; }
    if (!path || !mode) { errno = EINVAL; return nullptr; }
    return _wfsopen(Widen(path).c_str(), Widen(mode).c_str(), _SH_DENYNO);
}

int ConsolePrintf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = Format(format, args);
    va_end(args);
    Current().console.out += text;
    return static_cast<int>(text.size());
}

int StreamPrintf(FILE* stream, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int written;
    if (std::string* console = ConsoleOf(stream)) {
        std::string text = Format(format, args);
        *console += text;
        written = static_cast<int>(text.size());
    } else {
        written = std::vfprintf(stream, format, args);
    }
    va_end(args);
    return written;
}

int StreamPuts(const char* text, FILE* stream)
{
    if (std::string* console = ConsoleOf(stream)) {
        *console += text;
        return 0;
    }
    return (std::fputs)(text, stream);
}

}  // namespace host

using host::CurrentMachine;

int _access(const char* path, int mode)
{
    DWORD code;
    if (CurrentMachine().Enter("_access", &code)) { errno = static_cast<int>(code ? code : EACCES); return -1; }
    if (!path || (mode & ~(host::WriteMode | host::ReadMode))) { errno = EINVAL; return -1; }
    std::u16string full = host::Redirected(host::FullPath(host::Widen(path)));
    std::string hostPath = host::HostPath(full);
    struct stat st;
    if (hostPath.empty() || stat(hostPath.c_str(), &st) != 0) { errno = ENOENT; return -1; }
    // Folders are never read-only to _access; files only by the machine's mark.
    if ((mode & host::WriteMode) && !S_ISDIR(st.st_mode) && CurrentMachine().IsReadOnly(full)) {
        errno = EACCES;
        return -1;
    }
    return 0;
}

__time64_t _time64(__time64_t* result)
{
    CurrentMachine().Enter("_time64");
    __time64_t now = host::Clock().now;
    if (result) *result = now;
    return now;
}

struct tm* _localtime64(const __time64_t* time)
{
    static thread_local struct tm local;
    if (CurrentMachine().Enter("_localtime64")) { errno = EINVAL; return nullptr; }
    if (!time || *time < 0) { errno = EINVAL; return nullptr; }
    time_t shifted = static_cast<time_t>(*time + host::Clock().utcOffsetSeconds);
    if (!gmtime_r(&shifted, &local)) { errno = EINVAL; return nullptr; }
    return &local;
}
