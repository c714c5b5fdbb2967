// The runtime's wide streams and formatting, as msvcrt.dll does them: the bytes of
// Drvmate's log come from here.
#include "harness.h"
#include "winapi.h"

#include <stdarg.h>

#include "case_text.h"
#include "setup.h"

namespace {

const WCHAR Filler = W('#');
const int Units = 64;

// Through _vsnwprintf, as the log formats its lines.
int Format(WCHAR* buffer, size_t count, const WCHAR* format, ...)
{
    va_list values;
    va_start(values, format);
    int n = _vsnwprintf(buffer, count, format, values);
    va_end(values);
    return n;
}

// What a text-mode stream writes for the bytes of wide text: every 0x0A byte as 0x0D 0x0A.
std::string TextModeBytes(const Text& text)
{
    std::string out;
    for (char byte : Utf16Bytes(text)) {
        if (byte == '\n') out.push_back('\r');
        out.push_back(byte);
    }
    return out;
}

bool Append(const Text& path, const WCHAR* mode, const Text& text)
{
    FILE* stream = _wfsopen(path.c_str(), mode, _SH_DENYNO);
    if (!CHECK(stream != 0)) return false;
    CHECK_EQ(fwrite(text.c_str(), sizeof(WCHAR), text.size(), stream), text.size());
    return CHECK_EQ(fclose(stream), 0);
}

}  // namespace

CONFORMANCE_CASE(stream_opened_at_appends_in_text_mode)
{
    const Text log = InCase(W("drvmate.log"));
    CHECK(PutFile(log, "ab"));
    Append(log, W("at"), W("x wide\n"));
    CHECK_EQ(FileBytes(log), std::string("abx\0 \0w\0i\0d\0e\0\r\n\0", 17));
    Append(log, W("at"), W("z\n"));
    CHECK_EQ(FileBytes(log), std::string("ab") + TextModeBytes(W("x wide\n")) + TextModeBytes(W("z\n")));

    // "at" makes a missing file; "ab" writes the bytes unchanged.
    const Text fresh = InCase(W("fresh.log"));
    Append(fresh, W("at"), W("1\n"));
    CHECK_EQ(FileBytes(fresh), std::string("1\0\r\n\0", 5));
    Append(fresh, W("ab"), W("2\n"));
    CHECK_EQ(FileBytes(fresh), std::string("1\0\r\n\0"
                                           "2\0\n\0",
                                           9));
}

CONFORMANCE_CASE(stream_over_a_file_handle_appends_in_text_mode)
{
    // The log's own chain: a handle opened for appending, a descriptor that owns it, and a
    // stream that owns the descriptor; fclose closes all three.
    const Text log = InCase(W("drvmate.log"));
    CHECK(PutFile(log, "ab"));
    HANDLE file = CreateFileW(log.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, 0);
    if (!CHECK(file != INVALID_HANDLE_VALUE)) return;
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND | _O_TEXT | _O_WRONLY);
    if (!CHECK(descriptor >= 0)) {
        CloseHandle(file);
        return;
    }
    FILE* stream = _wfdopen(descriptor, W("at"));
    if (!CHECK(stream != 0)) {
        _close(descriptor);
        return;
    }
    const Text line = W("remove device: ROOT\\0000\n");
    CHECK_EQ(fwrite(line.c_str(), sizeof(WCHAR), line.size(), stream), line.size());
    CHECK_EQ(fclose(stream), 0);
    CHECK_EQ(FileBytes(log), "ab" + TextModeBytes(line));
}

CONFORMANCE_CASE(wide_formatting_of_the_log)
{
    WCHAR text[Units];
    CHECK_EQ(Format(text, Units, W("%s|%d|%c"), W("wide"), -5, W('w')), 9);
    CHECK_EQ(Within(text, Units), W("wide|-5|w"));
    CHECK_EQ(_snwprintf(text, Units, W("[%s]"), W("infFile")), 9);
    CHECK_EQ(Within(text, Units), W("[infFile]"));

    // %p: two upper-case hexadecimal digits per byte of a pointer, leading zeros included.
    void* pointer = reinterpret_cast<void*>(static_cast<uintptr_t>(0x1234ABCD));
    Text digits(2 * sizeof(void*) - 8, W('0'));
    CHECK_EQ(Format(text, Units, W("%p"), pointer), static_cast<int>(2 * sizeof(void*)));
    CHECK_EQ(Within(text, Units), digits + W("1234ABCD"));
    CHECK_EQ(Format(text, Units, W("%p"), static_cast<void*>(0)), static_cast<int>(2 * sizeof(void*)));
    CHECK_EQ(Within(text, Units), Text(2 * sizeof(void*), W('0')));

    // The class GUID as the log prints it.
    const GUID guid = {0xF72FE0D4, 0xCBCB, 0x407d, {0x88, 0x14, 0x9E, 0xD6, 0x73, 0xD0, 0xDD, 0x6B}};
    Format(text, Units, W("{%.8x-%.4x-%.4x-%.2x%.2x-%.2x%.2x%.2x%.2x%.2x%.2x}"), guid.Data1, guid.Data2, guid.Data3,
           guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6],
           guid.Data4[7]);
    CHECK_EQ(Within(text, Units), W("{f72fe0d4-cbcb-407d-8814-9ed673d0dd6b}"));
    Format(text, Units, W("%.8x %.4x %.2x 0x%08x"), 0x1a, 0x7d, 0x9, 0xE0000235);
    CHECK_EQ(Within(text, Units), W("0000001a 007d 09 0xe0000235"));

    // A precision cuts a string.
    Format(text, Units, W("%.3s..."), W("folder"));
    CHECK_EQ(Within(text, Units), W("fol..."));
}

CONFORMANCE_CASE(wide_formatting_that_does_not_fit)
{
    WCHAR text[Units];
    // Shorter than the count: terminated, its length back.
    for (WCHAR& c : text) c = Filler;
    CHECK_EQ(Format(text, 7, W("%s"), W("abcdef")), 6);
    CHECK_EQ(Within(text, Units), W("abcdef"));
    // Exactly the count: no terminator, the count back.
    for (WCHAR& c : text) c = Filler;
    CHECK_EQ(Format(text, 6, W("%s"), W("abcdef")), 6);
    CHECK_EQ(Text(text, 7), W("abcdef#"));
    // Longer: the count of units written, no terminator, a negative value back.
    for (WCHAR& c : text) c = Filler;
    CHECK(Format(text, 3, W("%s"), W("abcdef")) < 0);
    CHECK_EQ(Text(text, 4), W("abc#"));
    for (WCHAR& c : text) c = Filler;
    CHECK(_snwprintf(text, 3, W("%d"), 123456) < 0);
    CHECK_EQ(Text(text, 4), W("123#"));
}
