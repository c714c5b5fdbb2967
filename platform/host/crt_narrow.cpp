// The Windows runtime's narrow file, console and time calls over the simulated machine, and
// the process's command line and ANSI code page that narrow text rests on.
#include "crt_narrow.h"
#include "startup.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>

#include "crt.h"
#include "kernel32.h"
#include "layer.h"

namespace host {

namespace {

const int WriteMode = 2;
const int ReadMode = 4;

// ---------------------------------------------------------------------------------------
// The ANSI code page: the machine's

const char DefaultChar = '?';
const UINT CODE_PAGE_UTF7 = 65000;
const UINT CODE_PAGE_GB18030 = 54936;

// The page a code page argument names: CP_ACP and CP_THREAD_ACP name the machine's ANSI page.
UINT PageOf(UINT codePage)
{
    return codePage == CP_ACP || codePage == CP_THREAD_ACP ? CurrentMachine().ansiCodePage : codePage;
}

// Narrow text is in the ANSI code page.
std::u16string Widen(const char* text)
{
    DecodedText decoded = Decode(CurrentMachine().ansiCodePage, text, std::strlen(text));
    if (decoded.unmodelled) Machine::Unsimulated("narrow text", "bytes the layer's code page does not know");
    return decoded.text;
}

// ---------------------------------------------------------------------------------------
// The command line

bool IsBlank(char16_t unit) { return unit == u' ' || unit == u'\t'; }

// Backslashes followed by a quote: each pair gives one backslash, an odd one makes the quote
// literal. Returns true when the quote (now consumed) toggles quoting.
bool TakeBackslashes(const char16_t*& p, std::u16string& argument)
{
    size_t count = 0;
    while (*p == u'\\') {
        ++count;
        ++p;
    }
    if (*p != u'"') {
        argument.append(count, u'\\');
        return false;
    }
    argument.append(count / 2, u'\\');
    ++p;
    if (count % 2) {
        argument.push_back(u'"');
        return false;
    }
    return true;
}

}  // namespace

std::vector<std::u16string> SplitCommandLine(const std::u16string& line)
{
    std::vector<std::u16string> arguments;
    if (line.empty()) return {CurrentMachine().moduleFileName};
    const char16_t* p = line.c_str();

    // The program name ends at the closing quote, or unquoted at the first blank (a line
    // that starts with a blank has an empty one); a backslash is a path separator in it.
    std::u16string program;
    if (*p == u'"') {
        for (++p; *p && *p != u'"'; ++p) program.push_back(*p);
        if (*p) ++p;
    } else {
        for (; *p && !IsBlank(*p); ++p) program.push_back(*p);
    }
    arguments.push_back(program);

    // Then blanks outside quotes part the arguments; blanks at the end are dropped.
    for (;;) {
        while (IsBlank(*p)) ++p;
        if (!*p) break;
        std::u16string argument;
        bool quoted = false;
        while (*p && (quoted || !IsBlank(*p))) {
            if (*p == u'\\') {
                if (TakeBackslashes(p, argument)) quoted = !quoted;
            } else if (*p == u'"') {
                quoted = !quoted;
                ++p;
            } else {
                argument.push_back(*p++);
            }
        }
        arguments.push_back(argument);
    }
    return arguments;
}

std::string BestFitAnsi(const std::u16string& text)
{
    EncodedText encoded = Encode(CurrentMachine().ansiCodePage, text.c_str(), text.size(), true, DefaultChar);
    if (encoded.unmodelled) Machine::Unsimulated("narrow arguments", "a character the layer's code page does not know");
    return encoded.bytes;
}

namespace {

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
    if (stream == stdout) return &CurrentMachine().console.out;
    if (stream == stderr) return &CurrentMachine().console.err;
    return nullptr;
}

}  // namespace
}  // namespace host

using host::CurrentMachine;

FILE* host_fopen(const char* path, const char* mode)
{
    LAYER_ENTER_ERRNO_AS("fopen", nullptr, EACCES);
    if (!path || !mode) return host::WithErrno(EINVAL, nullptr);
    return _wfsopen(host::Widen(path).c_str(), host::Widen(mode).c_str(), _SH_DENYNO);
}

int host_printf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = host::Format(format, args);
    va_end(args);
    CurrentMachine().console.out += text;
    return static_cast<int>(text.size());
}

int host_fprintf(FILE* stream, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int written;
    if (std::string* console = host::ConsoleOf(stream)) {
        std::string text = host::Format(format, args);
        *console += text;
        written = static_cast<int>(text.size());
    } else {
        written = std::vfprintf(stream, format, args);
    }
    va_end(args);
    return written;
}

int host_fputs(const char* text, FILE* stream)
{
    if (std::string* console = host::ConsoleOf(stream)) {
        *console += text;
        return 0;
    }
    return std::fputs(text, stream);
}

int _access(const char* path, int mode)
{
    LAYER_ENTER_ERRNO(-1, EACCES);
    if (!path || (mode & ~(host::WriteMode | host::ReadMode))) return host::WithErrno(EINVAL, -1);
    std::u16string full = host::CurrentMachine().Redirected(host::CurrentMachine().FullPath(host::Widen(path)));
    std::string hostPath = host::CurrentMachine().HostPath(full);
    struct stat st;
    if (hostPath.empty() || stat(hostPath.c_str(), &st) != 0) return host::WithErrno(ENOENT, -1);
    // Folders are never read-only to _access; files only by the machine's mark.
    if ((mode & host::WriteMode) && !S_ISDIR(st.st_mode) && CurrentMachine().IsReadOnly(full))
        return host::WithErrno(EACCES, -1);
    return 0;
}

__time64_t _time64(__time64_t* result)
{
    LAYER_ENTER_INFALLIBLE();
    __time64_t now = CurrentMachine().clock.now;
    if (result) *result = now;
    return now;
}

struct tm* _localtime64(const __time64_t* time)
{
    static thread_local struct tm local;
    LAYER_ENTER_QUIET(host::WithErrno(EINVAL, nullptr));
    if (!time || *time < 0) return host::WithErrno(EINVAL, nullptr);
    time_t shifted = static_cast<time_t>(*time + CurrentMachine().clock.utcOffsetSeconds);
    if (!gmtime_r(&shifted, &local)) return host::WithErrno(EINVAL, nullptr);
    return &local;
}

// ---------------------------------------------------------------------------------------
// The command line and the ANSI code page

LPWSTR WINAPI GetCommandLineW()
{
    LAYER_ENTER_INFALLIBLE();
    return &CurrentMachine().commandLine[0];
}

LPWSTR* WINAPI CommandLineToArgvW(LPCWSTR commandLine, int* count)
{
    LAYER_ENTER(nullptr);
    if (!commandLine || !count) return host::WithLastError(ERROR_INVALID_PARAMETER, nullptr);
    std::vector<std::u16string> arguments = host::SplitCommandLine(commandLine);

    // One block: the pointers (and a null one after them), then the texts they point to.
    size_t pointerBytes = (arguments.size() + 1) * sizeof(LPWSTR);
    size_t bytes = pointerBytes;
    for (const auto& argument : arguments) bytes += (argument.size() + 1) * sizeof(WCHAR);
    void* block = host::CurrentMachine().AllocateLocal(bytes);
    LPWSTR* list = static_cast<LPWSTR*>(block);
    WCHAR* text = reinterpret_cast<WCHAR*>(static_cast<char*>(block) + pointerBytes);
    for (size_t i = 0; i < arguments.size(); ++i) {
        list[i] = text;
        std::copy(arguments[i].begin(), arguments[i].end(), text);
        text += arguments[i].size();
        *text++ = 0;
    }
    list[arguments.size()] = nullptr;
    *count = static_cast<int>(arguments.size());
    return list;
}

int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideChars, LPSTR bytes, int byteCount,
                               LPCSTR defaultChar, LPBOOL usedDefaultChar)
{
    LAYER_ENTER(0);
    UINT page = host::PageOf(codePage);
    if (!host::HasBestFit(page)) {
        // These pages take no flags but WC_ERR_INVALID_CHARS (UTF-8 and GB18030 only), and
        // UTF-7 and UTF-8 no default character nor the question whether one was used.
        DWORD allowed = page == host::CODE_PAGE_UTF8 || page == host::CODE_PAGE_GB18030 ? WC_ERR_INVALID_CHARS : 0;
        if (flags & ~allowed) return host::WithLastError(ERROR_INVALID_FLAGS, 0);
        if ((page == host::CODE_PAGE_UTF8 || page == host::CODE_PAGE_UTF7) && (defaultChar || usedDefaultChar))
            return host::WithLastError(ERROR_INVALID_PARAMETER, 0);
    } else if (flags & ~static_cast<DWORD>(WC_NO_BEST_FIT_CHARS)) {
        return host::WithLastError(ERROR_INVALID_FLAGS, 0);
    }
    if (!host::IsModelledCodePage(page)) return host::WithLastError(ERROR_INVALID_PARAMETER, 0);
    if (!wide || wideChars == 0 || wideChars < -1 || byteCount < 0 || (byteCount > 0 && !bytes) ||
        (bytes && static_cast<const void*>(bytes) == static_cast<const void*>(wide))) {
        return host::WithLastError(ERROR_INVALID_PARAMETER, 0);
    }
    // -1: the text up to its terminator, the terminator included.
    size_t length = wideChars == -1 ? static_cast<size_t>(lstrlenW(wide)) + 1 : static_cast<size_t>(wideChars);
    host::EncodedText encoded = host::Encode(page, wide, length, !(flags & WC_NO_BEST_FIT_CHARS),
                                             defaultChar ? *defaultChar : host::DefaultChar);
    if (encoded.unmodelled)
        host::Machine::Unsimulated("WideCharToMultiByte",
                                   "a character the layer's code page " + std::to_string(page) + " does not know");
    if (encoded.invalid && (flags & WC_ERR_INVALID_CHARS)) return host::WithLastError(ERROR_NO_UNICODE_TRANSLATION, 0);
    const std::string& out = encoded.bytes;
    if (byteCount > 0) {
        // What fits is written all the same; the call fails.
        size_t written = std::min(out.size(), static_cast<size_t>(byteCount));
        std::memcpy(bytes, out.data(), written);
        if (written < out.size()) return host::WithLastError(ERROR_INSUFFICIENT_BUFFER, 0);
    }
    if (usedDefaultChar) *usedDefaultChar = encoded.usedDefault ? TRUE : FALSE;
    return static_cast<int>(out.size());
}

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR bytes, int byteCount, LPWSTR wide, int wideChars)
{
    LAYER_ENTER(0);
    UINT page = host::PageOf(codePage);
    // The pages without best fit take MB_ERR_INVALID_CHARS alone; composition is not modelled.
    DWORD allowed = host::HasBestFit(page) ? static_cast<DWORD>(MB_PRECOMPOSED | MB_ERR_INVALID_CHARS)
                                           : static_cast<DWORD>(MB_ERR_INVALID_CHARS);
    if (flags & ~allowed) return host::WithLastError(ERROR_INVALID_FLAGS, 0);
    if (!host::IsModelledCodePage(page)) return host::WithLastError(ERROR_INVALID_PARAMETER, 0);
    if (!bytes || byteCount == 0 || byteCount < -1 || wideChars < 0 || (wideChars > 0 && !wide) ||
        (wide && static_cast<const void*>(bytes) == static_cast<const void*>(wide))) {
        return host::WithLastError(ERROR_INVALID_PARAMETER, 0);
    }
    size_t length = byteCount == -1 ? std::strlen(bytes) + 1 : static_cast<size_t>(byteCount);
    host::DecodedText decoded = host::Decode(page, bytes, length);
    if (decoded.unmodelled)
        host::Machine::Unsimulated("MultiByteToWideChar",
                                   "bytes the layer's code page " + std::to_string(page) + " does not know");
    if (decoded.invalid && (flags & MB_ERR_INVALID_CHARS)) return host::WithLastError(ERROR_NO_UNICODE_TRANSLATION, 0);
    const std::u16string& text = decoded.text;
    if (wideChars == 0) return static_cast<int>(text.size());
    size_t written = std::min(text.size(), static_cast<size_t>(wideChars));
    std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(written), wide);
    if (written < text.size()) return host::WithLastError(ERROR_INSUFFICIENT_BUFFER, 0);
    return static_cast<int>(text.size());
}
