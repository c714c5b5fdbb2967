// The ANSI code page and the command line: how Svcsweep turns its wide argument into the
// narrow service name, and refuses a name that does not convert exactly.
#include "harness.h"
#include "winapi.h"

#include "case_text.h"
#include "known_differences.h"
#include "setup.h"

namespace {

const UINT Windows1252 = 1252;
const int TerminatedText = -1;

}  // namespace

CONFORMANCE_CASE(wide_to_ansi_with_and_without_best_fit)
{
    // U+00E9 has its own byte in Windows-1252; the terminator is converted too.
    BOOL usedDefault = TRUE;
    CHECK_EQ(
        WideCharToMultiByte(Windows1252, WC_NO_BEST_FIT_CHARS, W("caf\u00e9"), TerminatedText, 0, 0, 0, &usedDefault),
        5);
    CHECK(!usedDefault);
    char bytes[8] = {};
    CHECK_EQ(WideCharToMultiByte(Windows1252, WC_NO_BEST_FIT_CHARS, W("caf\u00e9"), TerminatedText, bytes, 8, 0,
                                 &usedDefault),
             5);
    CHECK_EQ(std::string(bytes, 5), std::string("caf\xE9", 5));

    // U+0100 has none: best fit makes it "A"; without best fit the default character stands
    // for it, and the call says so.
    usedDefault = TRUE;
    CHECK_EQ(WideCharToMultiByte(Windows1252, 0, W("\u0100x"), TerminatedText, bytes, 8, 0, &usedDefault), 3);
    CHECK_EQ(std::string(bytes), "Ax");
    CHECK(!usedDefault);
    usedDefault = FALSE;
    CHECK_EQ(
        WideCharToMultiByte(Windows1252, WC_NO_BEST_FIT_CHARS, W("\u0100x"), TerminatedText, bytes, 8, 0, &usedDefault),
        3);
    CHECK_EQ(std::string(bytes), "?x");
    CHECK(usedDefault);

    // Too small a buffer fails.
    SetLastError(0);
    CHECK_EQ(WideCharToMultiByte(Windows1252, WC_NO_BEST_FIT_CHARS, W("caf\u00e9"), TerminatedText, bytes, 3, 0, 0), 0);
    CHECK_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

    WCHAR back[8];
    CHECK_EQ(MultiByteToWideChar(Windows1252, MB_ERR_INVALID_CHARS, "caf\xE9", TerminatedText, back, 8), 5);
    CHECK_EQ(Within(back, 8), W("caf\u00e9"));
}

// UTF-8 has no best fit: it takes no flag but WC_ERR_INVALID_CHARS, and no default character
// nor the question whether one was used; the way back is the check of an exact conversion.
CONFORMANCE_CASE(utf8_refuses_the_best_fit_flags_and_the_default_character)
{
    char bytes[8] = {};
    BOOL usedDefault = FALSE;
    const char question = '?';
    if (Checked(WINE_UTF8_TAKES_ANY_FLAGS)) {
        SetLastError(0);
        CHECK_EQ(WideCharToMultiByte(CP_UTF8, WC_NO_BEST_FIT_CHARS, W("caf\u00e9"), TerminatedText, bytes, 8, 0, 0), 0);
        CHECK_EQ(GetLastError(), ERROR_INVALID_FLAGS);
        SetLastError(0);
        CHECK_EQ(WideCharToMultiByte(CP_UTF8, 0, W("caf\u00e9"), TerminatedText, bytes, 8, 0, &usedDefault), 0);
        CHECK_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
        SetLastError(0);
        CHECK_EQ(WideCharToMultiByte(CP_UTF8, 0, W("caf\u00e9"), TerminatedText, bytes, 8, &question, 0), 0);
        CHECK_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }

    CHECK_EQ(WideCharToMultiByte(CP_UTF8, 0, W("caf\u00e9"), TerminatedText, bytes, 8, 0, 0), 6);
    CHECK_EQ(std::string(bytes), "caf\xC3\xA9");
    WCHAR back[8];
    CHECK_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, TerminatedText, back, 8), 5);
    CHECK_EQ(Within(back, 8), W("caf\u00e9"));
    // An unpaired surrogate fails only when asked to.
    const WCHAR unpaired[] = {W('a'), 0xD800, 0};
    SetLastError(0);
    CHECK_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, unpaired, TerminatedText, bytes, 8, 0, 0), 0);
    CHECK_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
    if (Checked(WINE_UTF8_TAKES_ANY_FLAGS)) {
        SetLastError(0);
        CHECK_EQ(MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "a", TerminatedText, back, 8), 0);
        CHECK_EQ(GetLastError(), ERROR_INVALID_FLAGS);
    }
}

CONFORMANCE_CASE(command_line_to_arguments)
{
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(W("Svcsweep.exe \"two words\" say\\\"hi folder\\\\name \"\" last"), &count);
    if (!CHECK(arguments != 0)) return;
    if (CHECK_EQ(count, 6)) {
        CHECK_EQ(Text(arguments[0]), W("Svcsweep.exe"));
        CHECK_EQ(Text(arguments[1]), W("two words"));
        CHECK_EQ(Text(arguments[2]), W("say\"hi"));         // \" is a quotation mark
        CHECK_EQ(Text(arguments[3]), W("folder\\\\name"));  // backslashes before no quote stay
        CHECK_EQ(Text(arguments[4]), W(""));
        CHECK_EQ(Text(arguments[5]), W("last"));
    }
    CHECK(LocalFree(arguments) == 0);

    // The process's own command line gives at least the program's name.
    LPWSTR* own = CommandLineToArgvW(GetCommandLineW(), &count);
    CHECK(own != 0 && count >= 1);
    if (own) CHECK(LocalFree(own) == 0);
}
