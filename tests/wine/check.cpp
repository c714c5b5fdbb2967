#include "check.h"

#include <stdio.h>

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

std::vector<std::wstring>& Arguments()
{
    static std::vector<std::wstring> arguments;
    return arguments;
}

int failures;

}  // namespace

CaseRegistration::CaseRegistration(const char* name, CaseFunction function)
{
    Cases().push_back(Case{name, function});
}

bool CheckThat(bool ok, const char* what, const char* file, int line)
{
    if (!ok) {
        ++failures;
        printf("  %s:%d: check failed: %s\n", file, line, what);
    }
    return ok;
}

static std::string Shown(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F) out.push_back(static_cast<char>(c));
        else if (c == '\n') out += "\\n";
        else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

bool CheckEqual(const std::string& actual, const std::string& expected, const char* what, const char* file,
                int line)
{
    if (actual == expected) return true;
    ++failures;
    printf("  %s:%d: %s\n    is:     \"%s\"\n    wanted: \"%s\"\n", file, line, what, Shown(actual).c_str(),
           Shown(expected).c_str());
    return false;
}

const std::wstring& Argument(int index)
{
    static const std::wstring none;
    return index < static_cast<int>(Arguments().size()) ? Arguments()[index] : none;
}

std::wstring DistFile(const wchar_t* name)
{
    std::wstring folder = Argument(0);
    if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
    return folder + name;
}

std::string ReadBytes(const std::wstring& path)
{
    std::string bytes;
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) return bytes;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, n);
    fclose(file);
    return bytes;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (!file) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && ok;
}

std::string Utf8(const std::wstring& text)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), 0, 0, 0, 0);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, 0, 0);
    return out;
}

std::wstring Wide(const std::string& text)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), 0, 0);
    std::wstring out(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

std::string TextModeBytes(const std::wstring& text)
{
    std::string bytes;
    for (wchar_t unit : text) {
        unsigned char low = static_cast<unsigned char>(unit & 0xFF), high = static_cast<unsigned char>(unit >> 8);
        for (unsigned char b : {low, high}) {
            if (b == 0x0A) bytes.push_back('\x0D');
            bytes.push_back(static_cast<char>(b));
        }
    }
    return bytes;
}

std::wstring FreshFolder(const wchar_t* name)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + name;
    // Empty it: the cases of one run share a prefix.
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW((folder + L"\\" + data.cFileName).c_str());
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    CreateDirectoryW(folder.c_str(), 0);
    return folder;
}

int wmain(int argc, wchar_t** argv)
{
    for (int i = 1; i < argc; ++i) Arguments().push_back(argv[i]);
    int passed = 0, failed = 0;
    for (const Case& c : Cases()) {
        int before = failures;
        c.function();
        if (failures == before) {
            ++passed;
            printf("[ OK ] %s\n", c.name);
        } else {
            ++failed;
            printf("[FAIL] %s\n", c.name);
        }
        fflush(stdout);
    }
    printf("%d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
