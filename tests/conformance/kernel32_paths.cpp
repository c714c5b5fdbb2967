// GetFullPathNameW: what Drvmate resolves its INF and store paths with, and how it tells a
// result that fits a MAX_PATH buffer from one that does not.
#include "harness.h"
#include "winapi.h"

#include "case_text.h"
#include "setup.h"

namespace {

struct FullPath {
    DWORD length = 0;
    Text text;              // the buffer's text, when the call returned a length that fits
    WCHAR* filePart = 0;    // as the call left it
    size_t filePartAt = 0;  // its offset in the buffer; Text::npos for a null file part
};

FullPath Resolve(const Text& path, DWORD size = MAX_PATH)
{
    static WCHAR buffer[4 * MAX_PATH];
    for (WCHAR& c : buffer) c = W('#');
    FullPath result;
    result.length = GetFullPathNameW(path.c_str(), size, buffer, &result.filePart);
    if (result.length > 0 && result.length < size) result.text = Within(buffer, size);
    result.filePartAt = result.filePart ? static_cast<size_t>(result.filePart - buffer) : Text::npos;
    return result;
}

// "C:\" and nine-letter folders, then a last name that makes the path `length` characters long.
Text PathOfLength(size_t length)
{
    Text path = W("C:\\");
    while (length - path.size() > 10) path += W("aaaaaaaaa\\");
    return path + Text(length - path.size(), W('b'));
}

}  // namespace

CONFORMANCE_CASE(full_path_of_relative_names)
{
    const Text folder = CaseFolder();
    const Text parent = folder.substr(0, folder.rfind(W('\\')));
    CHECK(SetCurrentFolder(folder));

    FullPath name = Resolve(W("driver.inf"));
    CHECK_EQ(name.text, folder + W("\\driver.inf"));
    CHECK_EQ(name.length, name.text.size());
    CHECK_EQ(name.filePartAt, folder.size() + 1);

    CHECK_EQ(Resolve(W(".\\sub\\..\\driver.inf")).text, folder + W("\\driver.inf"));
    CHECK_EQ(Resolve(W("sub/driver.inf")).text, folder + W("\\sub\\driver.inf"));
    CHECK_EQ(Resolve(W("..\\driver.inf")).text, parent + W("\\driver.inf"));

    // "." is the current folder itself, without a trailing backslash; ".." its parent.
    FullPath dot = Resolve(W("."));
    CHECK_EQ(dot.text, folder);
    CHECK_EQ(dot.filePartAt, parent.size() + 1);
    CHECK_EQ(Resolve(W("..")).text, parent);
}

CONFORMANCE_CASE(full_path_keeps_a_trailing_backslash)
{
    CHECK(SetCurrentFolder(CaseFolder()));
    // A path that ends in a backslash names a folder: no file part.
    FullPath folder = Resolve(W("C:\\Program Files\\Tesmar\\drivers\\"));
    CHECK_EQ(folder.text, W("C:\\Program Files\\Tesmar\\drivers\\"));
    CHECK_EQ(folder.length, folder.text.size());
    CHECK(folder.filePart == 0);

    FullPath file = Resolve(W("C:\\Program Files\\Tesmar\\..\\Tesmar\\drivers\\driver.inf"));
    CHECK_EQ(file.text, W("C:\\Program Files\\Tesmar\\drivers\\driver.inf"));
    CHECK_EQ(file.filePartAt, Text(W("C:\\Program Files\\Tesmar\\drivers\\")).size());
}

CONFORMANCE_CASE(full_path_of_259_and_260_characters)
{
    // The result and its terminator fit a MAX_PATH buffer: its length comes back.
    const Text fits = PathOfLength(MAX_PATH - 1);
    FullPath resolved = Resolve(fits);
    CHECK_EQ(resolved.length, MAX_PATH - 1);
    CHECK_EQ(resolved.text, fits);

    // One more character does not fit: the size needed, terminator included, comes back.
    const Text tooLong = PathOfLength(MAX_PATH);
    CHECK_EQ(Resolve(tooLong).length, MAX_PATH + 1);
    CHECK_EQ(Resolve(tooLong, MAX_PATH + 1).length, MAX_PATH);

    // A relative name that comes out at 260 characters in the current folder.
    CHECK(SetCurrentFolder(CaseFolder()));
    const Text name(MAX_PATH - CaseFolder().size() - 1, W('n'));
    CHECK_EQ(Resolve(name).length, MAX_PATH + 1);
    CHECK_EQ(Resolve(name.substr(1)).length, MAX_PATH - 1);

    // The exact size: length + 1 fits, length does not.
    const Text path = W("C:\\Windows\\inf\\oem12.inf");
    CHECK_EQ(Resolve(path, static_cast<DWORD>(path.size() + 1)).length, path.size());
    CHECK_EQ(Resolve(path, static_cast<DWORD>(path.size())).length, path.size() + 1);
}
