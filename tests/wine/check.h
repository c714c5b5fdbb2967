// A small harness for the test programs that run under Wine: named cases, checks that note
// what failed, and a closing "N passed, N failed" line.
#pragma once

#include <windows.h>

#include <string>

typedef void (*CaseFunction)();

struct CaseRegistration {
    CaseRegistration(const char* name, CaseFunction function);
};

#define WINE_CASE(name)                                          \
    static void name();                                          \
    static CaseRegistration name##_registration(#name, &name);   \
    static void name()

bool CheckThat(bool ok, const char* what, const char* file, int line);
#define CHECK(condition) CheckThat((condition), #condition, __FILE__, __LINE__)
bool CheckEqual(const std::string& actual, const std::string& expected, const char* what, const char* file,
                int line);
#define CHECK_EQ(actual, expected) CheckEqual((actual), (expected), #actual, __FILE__, __LINE__)

// Arguments the program was started with, after its name.
const std::wstring& Argument(int index);
// A file of the folder with the 64-bit deliverables, which test.sh passes as the first argument.
std::wstring DistFile(const wchar_t* name);

// Files and text.
std::string ReadBytes(const std::wstring& path);
bool WriteBytes(const std::wstring& path, const std::string& bytes);
std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& text);
// The bytes that a wide text reaches a file with through a text-mode stream.
std::string TextModeBytes(const std::wstring& text);
// A fresh, empty folder under the Wine prefix's temporary folder.
std::wstring FreshFolder(const wchar_t* name);
