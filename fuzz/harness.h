// Common ground of the fuzz targets: reading an input, naming files for the simulated
// machine, seeing what a run changed in it, and stopping at a broken oracle.
//
// Inputs are read front to back by Input; past the end every read gives zero or empty, so
// that every input, also a short one, is a complete case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>
#include <string>

#include "winapi.h"

#include "machine.h"

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool AtEnd() const { return used_ >= size_; }
    uint8_t Byte();
    // A code unit: two bytes, low byte first.
    WCHAR Unit();
    // Code units up to a zero unit (which is consumed) or the end, at most `limit` of them.
    std::u16string Text(size_t limit);
    // A name: a count byte, then either (count 0) a text as above, or the next code unit
    // repeated count times, which lets a mutation reach any length with one byte.
    std::u16string Name(size_t limit);
    // Bytes: a length (two bytes, low first, at most `limit`), then that many bytes.
    std::string Bytes(size_t limit);

private:
    const uint8_t* data_;
    size_t size_;
    size_t used_ = 0;
};

// Stops the run: the case breaks the target's oracle. libFuzzer keeps the input.
[[noreturn]] void Broken(const std::string& what);
#define EXPECT_ORACLE(condition, what)                                     \
    do {                                                                   \
        if (!(condition)) Broken(std::string(#condition " -- ") + (what)); \
    } while (0)

// A name that Windows takes for a file or folder: no control characters, none of
// \ / : * ? " < > |, no trailing dot or blank, not "." or "..", at most 255 characters and
// at most 255 bytes on the host. Empty when nothing of `text` is left.
std::u16string FileName(const std::u16string& text);

// Every file and folder of the simulated machine, as host paths below its root ("C/Temp").
std::set<std::string> MachineEntries();
// The host form below the root of an existing Windows folder or file ("C/Windows/inf").
std::string EntryOf(const std::u16string& windowsPath);
// True when the entry is there and is a folder.
bool IsFolderEntry(const std::string& entry);
// True when `entry` is `folder` itself or lies below it.
bool IsWithin(const std::string& entry, const std::string& folder);
// The name part of an entry, and its folder part.
std::string NameOf(const std::string& entry);
std::string FolderOf(const std::string& entry);
// Windows' comparison of names: ASCII letters without regard to case.
bool SameName(const std::string& a, const std::string& b);

// The class the products work on, and its GUID as the INF files of this machine give it.
extern const GUID DeviceClass;
extern const GUID OtherClass;
// The text of a Windows INF of the given class.
std::string InfOfClass(const GUID& classGuid);

// A fresh machine for one case; nothing of the previous case is left, nor its log path.
host::Machine& FreshMachine();

// The blocks, handles and library references that a finished operation must have given back.
void ExpectNothingHeld(const char* after);

// Entries planted in a folder of the simulated machine from the input.
enum class Planted { DEVICE_CLASS_INF, OTHER_CLASS_INF, OTHER_FILE, FOLDER };
struct PlantedEntry {
    std::u16string name;
    Planted what;
};

// Reads at most `most` entries: a kind byte and a name (Input::Name) each. The kind's two low bits pick
// what is planted; bit 2 puts `prefix` before the name and bit 3 `suffix` after it, so that
// the searches of the products find it; bit 4 plants a second file of the same name with
// `companion` in place of the suffix. A name that Windows cannot hold, or that the folder
// already holds under another case, is left out.
std::vector<PlantedEntry> Plant(Input& input, const std::u16string& folder, size_t most, const std::u16string& prefix,
                                const std::u16string& suffix, const std::u16string& companion);

// Windows' match of a name against "<prefix>*<suffix>", ASCII letters without regard to case.
bool MatchesAround(const std::u16string& name, const std::u16string& prefix, const std::u16string& suffix);
