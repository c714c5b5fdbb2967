// The runner: every registered case in turn, each between the set-up's StartCase and
// FinishCase. This file does not include "winapi.h", so that its output goes to the real
// standard output in both builds (the host layer's printf writes to the simulated console).
#include "harness.h"

#include <cstdio>
#include <vector>

namespace {

struct Case {
    const char* name;
    CaseFunction function;
};

std::vector<Case>& Cases()
{
    static std::vector<Case> cases;
    return cases;
}

const char* running = "";
int failedChecks = 0;
std::string firstFailure;  // "what, file:line" of the case's first failed check

std::string Shown(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out.push_back(static_cast<char>(c));
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

std::string ShownText(const std::u16string& text)
{
    std::string out;
    for (char16_t unit : text) {
        if (unit >= 0x20 && unit < 0x7F && unit != u'\\') {
            out.push_back(static_cast<char>(unit));
        } else if (unit == u'\\') {
            out += "\\\\";
        } else {
            char hex[12];
            std::snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned>(unit));
            out += hex;
        }
    }
    return out;
}

bool Failed(const char* what, const char* file, int line, const std::string& detail)
{
    // The file's name only: the build's source folder says nothing about the case.
    const char* name = file;
    for (const char* c = file; *c; ++c)
        if (*c == '/' || *c == '\\') name = c + 1;
    char place[512];
    std::snprintf(place, sizeof place, "%s, %s:%d", what, name, line);
    if (failedChecks++ == 0) firstFailure = place;
    std::printf("  %s%s\n", place, detail.c_str());
    return false;
}

}  // namespace

CaseRegistration::CaseRegistration(const char* name, CaseFunction function) { Cases().push_back(Case{name, function}); }

const char* CaseName() { return running; }

bool CheckThat(bool ok, const char* what, const char* file, int line)
{
    return ok || Failed(what, file, line, std::string());
}

bool CheckNumbers(bool equal, unsigned long long actual, unsigned long long expected, const char* what,
                  const char* file, int line)
{
    if (equal) return true;
    char detail[128];
    std::snprintf(detail, sizeof detail, "\n    is:     %lld (0x%llX)\n    wanted: %lld (0x%llX)",
                  static_cast<long long>(actual), actual, static_cast<long long>(expected), expected);
    return Failed(what, file, line, detail);
}

bool CheckBytes(const std::string& actual, const std::string& expected, const char* what, const char* file, int line)
{
    if (actual == expected) return true;
    return Failed(what, file, line, "\n    is:     \"" + Shown(actual) + "\"\n    wanted: \"" + Shown(expected) + "\"");
}

bool CheckText(const std::u16string& actual, const std::u16string& expected, const char* what, const char* file,
               int line)
{
    if (actual == expected) return true;
    return Failed(what, file, line,
                  "\n    is:     L\"" + ShownText(actual) + "\"\n    wanted: L\"" + ShownText(expected) + "\"");
}

void Note(const std::string& text)
{
    std::printf("  %s\n", text.c_str());
    std::fflush(stdout);
}

int main()
{
    int passed = 0, failed = 0;
    for (const Case& c : Cases()) {
        running = c.name;
        failedChecks = 0;
        firstFailure.clear();
        StartCase();
        c.function();
        FinishCase();
        if (failedChecks == 0) {
            ++passed;
            std::printf("[ OK ] %s\n", c.name);
        } else {
            ++failed;
            std::printf("[FAIL] %s: %s\n", c.name, firstFailure.c_str());
        }
        std::fflush(stdout);
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
