// The harness of the conformance cases, the same in both builds: named cases, checks that
// note what failed and where, one "[ OK ] name" or "[FAIL] name: what, file:line" line per
// case and a closing "N passed, N failed" line.
//
// A case is written once against the Win32 names of "winapi.h" and runs twice: over the
// host layer, and as a Windows program (under Wine here). Before each case the build's
// set-up gives it a fresh place to work (StartCase), and takes back afterwards what the case
// made there (FinishCase); see setup.h.
#pragma once

#include <string>
#include <type_traits>

typedef void (*CaseFunction)();

struct CaseRegistration {
    CaseRegistration(const char* name, CaseFunction function);
};

#define CONFORMANCE_CASE(name)                                 \
    static void name();                                        \
    static CaseRegistration name##_registration(#name, &name); \
    static void name()

// The name of the case that runs.
const char* CaseName();

// Each check returns whether it held, so that a case can stop what depends on it.
bool CheckThat(bool ok, const char* what, const char* file, int line);
#define CHECK(condition) CheckThat((condition) ? true : false, #condition, __FILE__, __LINE__)

bool CheckNumbers(bool equal, unsigned long long actual, unsigned long long expected, const char* what,
                  const char* file, int line);
bool CheckBytes(const std::string& actual, const std::string& expected, const char* what, const char* file, int line);
// UTF-16 text, as UTF-8 for the report.
bool CheckText(const std::u16string& actual, const std::u16string& expected, const char* what, const char* file,
               int line);

// Numbers of any integer type; `expected` is taken in the type of `actual`, so that a DWORD
// compares with -1 as Windows code does.
template <typename A, typename E>
typename std::enable_if<std::is_integral<A>::value || std::is_enum<A>::value, bool>::type CheckEqual(
    A actual, E expected, const char* what, const char* file, int line)
{
    return CheckNumbers(actual == static_cast<A>(expected), static_cast<unsigned long long>(actual),
                        static_cast<unsigned long long>(static_cast<A>(expected)), what, file, line);
}

inline bool CheckEqual(const std::string& actual, const std::string& expected, const char* what, const char* file,
                       int line)
{
    return CheckBytes(actual, expected, what, file, line);
}

// Wide text of either build: char16_t on the host, wchar_t (16 bits) on Windows.
template <typename Char>
typename std::enable_if<sizeof(Char) == 2, std::u16string>::type AsUtf16(const std::basic_string<Char>& text)
{
    return std::u16string(text.begin(), text.end());
}

template <typename Char>
typename std::enable_if<sizeof(Char) == 2, bool>::type CheckEqual(const std::basic_string<Char>& actual,
                                                                  const std::basic_string<Char>& expected,
                                                                  const char* what, const char* file, int line)
{
    return CheckText(AsUtf16(actual), AsUtf16(expected), what, file, line);
}

template <typename Char>
typename std::enable_if<sizeof(Char) == 2, bool>::type CheckEqual(const std::basic_string<Char>& actual,
                                                                  const Char* expected, const char* what,
                                                                  const char* file, int line)
{
    return CheckText(AsUtf16(actual), AsUtf16(std::basic_string<Char>(expected)), what, file, line);
}

#define CHECK_EQ(actual, expected) CheckEqual((actual), (expected), #actual " == " #expected, __FILE__, __LINE__)

// A line in the case's report that is not a check, such as a known difference of the platform.
void Note(const std::string& text);

// Provided by the build's set-up (setup_host.cpp, setup_windows.cpp): called around each case.
void StartCase();
void FinishCase();
