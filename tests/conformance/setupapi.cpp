// INF files and the driver store: how Drvmate reads an INF's class, stages its INF and
// uninstalls the store INFs of its class.
#include <vector>

#include "harness.h"
#include "winapi.h"

#include "case_text.h"
#include "conformance_class.h"
#include "known_differences.h"
#include "setup.h"

namespace {

typedef BOOL(WINAPI* UninstallFunction)(PCWSTR infName, DWORD flags, PVOID reserved);

const Text ClassName = W("TesmarConformance");

Text InfFolder()
{
    WCHAR windows[MAX_PATH];
    UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    return length && length < MAX_PATH ? Text(windows) + W("\\inf\\") : Text();
}

// "oem" and a number and ".inf", in any case.
bool IsStoreName(const Text& name)
{
    Text upper = Upper(name);
    if (upper.size() < 8 || upper.compare(0, 3, W("OEM")) != 0 || upper.compare(upper.size() - 4, 4, W(".INF")) != 0)
        return false;
    for (size_t i = 3; i < upper.size() - 4; ++i)
        if (upper[i] < W('0') || upper[i] > W('9')) return false;
    return true;
}

Text CompanionOf(const Text& infPath) { return infPath.substr(0, infPath.size() - 3) + W("PNF"); }

struct Staged {
    BOOL ok = FALSE;
    Text path;
    size_t nameAt = 0;
    DWORD required = 0;
};

// Stages an INF as Drvmate does, and has the copy and its companion taken away afterwards.
Staged Stage(const Text& source)
{
    Staged staged;
    WCHAR destination[MAX_PATH];
    WCHAR* name = 0;
    staged.ok = SetupCopyOEMInfW(source.c_str(), 0, SPOST_PATH, 0, destination, MAX_PATH, &staged.required, &name);
    if (staged.ok) {
        staged.path = Within(destination, MAX_PATH);
        staged.nameAt = name ? static_cast<size_t>(name - destination) : Text::npos;
        RemoveAfterCase(staged.path);
        RemoveAfterCase(CompanionOf(staged.path));
    }
    return staged;
}

}  // namespace

CONFORMANCE_CASE(inf_class_of_an_inf)
{
    const Text inf = InCase(W("conformance.inf"));
    CHECK(PutFile(inf, ConformanceInf()));
    GUID guid = {};
    WCHAR name[MAX_CLASS_NAME_LEN];
    DWORD required = 0;
    CHECK(SetupDiGetINFClassW(inf.c_str(), &guid, name, MAX_CLASS_NAME_LEN, &required));
    CHECK(IsEqualGUID(guid, ConformanceClass));
    CHECK_EQ(Within(name, MAX_CLASS_NAME_LEN), ClassName);
    CHECK_EQ(required, ClassName.size() + 1);

    // A UTF-16 INF, as the system's own INFs often are, reads the same.
    const Text unicode = InCase(W("unicode.inf"));
    CHECK(PutFile(unicode, "\xFF\xFE" + Utf16Bytes(Wide(ConformanceInf()))));
    guid = GUID();
    CHECK(SetupDiGetINFClassW(unicode.c_str(), &guid, name, MAX_CLASS_NAME_LEN, 0));
    CHECK(IsEqualGUID(guid, ConformanceClass));

    SetLastError(0);
    CHECK(!SetupDiGetINFClassW(InCase(W("missing.inf")).c_str(), &guid, name, MAX_CLASS_NAME_LEN, 0));
    CHECK_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

CONFORMANCE_CASE(copy_oem_inf_stages_the_inf_in_the_inf_folder)
{
    const Text source = InCase(W("conformance.inf"));
    CHECK(PutFile(source, ConformanceInf()));
    Staged staged = Stage(source);
    if (!CHECK(staged.ok)) return;
    CHECK_EQ(staged.required, staged.path.size() + 1);
    if (!CHECK(staged.nameAt != Text::npos)) return;
    CHECK(SameName(staged.path.substr(0, staged.nameAt), InfFolder()));
    if (Checked(WINE_OEM_INF_KEEPS_ITS_NAME)) CHECK(IsStoreName(staged.path.substr(staged.nameAt)));
    CHECK_EQ(FileBytes(staged.path), ConformanceInf());

    // The same INF again: the copy already there, by the same name.
    Staged again = Stage(source);
    CHECK(again.ok);
    CHECK_EQ(again.path, staged.path);

    // A destination buffer too small fails and says the size needed.
    WCHAR small[4];
    DWORD required = 0;
    SetLastError(0);
    CHECK(!SetupCopyOEMInfW(source.c_str(), 0, SPOST_PATH, 0, small, 4, &required, 0));
    CHECK_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    CHECK_EQ(required, staged.path.size() + 1);
}

CONFORMANCE_CASE(original_name_of_an_inf_staged_in_the_store)
{
    const Text source = InCase(W("original.inf"));
    CHECK(PutFile(source, ConformanceInf()));
    Staged staged = Stage(source);
    if (!CHECK(staged.ok && staged.nameAt != Text::npos)) return;

    // The size needed first, then a buffer one byte short of it, then the whole of it.
    DWORD required = 0;
    CHECK(SetupGetInfInformationW(staged.path.c_str(), INFINFO_INF_NAME_IS_ABSOLUTE, 0, 0, &required));
    if (!CHECK(required >= sizeof(SP_INF_INFORMATION))) return;
    std::vector<BYTE> block(required);
    PSP_INF_INFORMATION information = reinterpret_cast<PSP_INF_INFORMATION>(block.data());
    SetLastError(0);
    CHECK(!SetupGetInfInformationW(staged.path.c_str(), INFINFO_INF_NAME_IS_ABSOLUTE, information, required - 1, 0));
    CHECK_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    if (!CHECK(SetupGetInfInformationW(staged.path.c_str(), INFINFO_INF_NAME_IS_ABSOLUTE, information, required, 0)))
        return;
    CHECK_EQ(information->InfCount, 1u);
    CHECK_EQ(information->InfStyle, static_cast<DWORD>(INF_STYLE_WIN4));

    // The name the INF came with, whatever the store named its copy; the INF names no catalog.
    SP_ORIGINAL_FILE_INFO_W original;
    original.cbSize = sizeof original;
    CHECK(SetupQueryInfOriginalFileInformationW(information, 0, 0, &original));
    CHECK(SameName(Within(original.OriginalInfName, MAX_PATH), W("original.inf")));
    if (Checked(WINE_OEM_INF_KEEPS_ITS_NAME))
        CHECK(!SameName(Within(original.OriginalInfName, MAX_PATH), staged.path.substr(staged.nameAt)));
    CHECK_EQ(Within(original.OriginalCatalogName, MAX_PATH), Text());

    // A record of another size is refused.
    original.cbSize = sizeof original - 1;
    SetLastError(0);
    CHECK(!SetupQueryInfOriginalFileInformationW(information, 0, 0, &original));
    CHECK_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);

    // An INF the store did not publish is its own original.
    const Text other = InCase(W("unstaged.inf"));
    CHECK(PutFile(other, ConformanceInf()));
    required = 0;
    CHECK(SetupGetInfInformationW(other.c_str(), INFINFO_INF_NAME_IS_ABSOLUTE, 0, 0, &required));
    block.assign(required, 0);
    information = reinterpret_cast<PSP_INF_INFORMATION>(block.data());
    original.cbSize = sizeof original;
    if (CHECK(SetupGetInfInformationW(other.c_str(), INFINFO_INF_NAME_IS_ABSOLUTE, information, required, 0)) &&
        CHECK(SetupQueryInfOriginalFileInformationW(information, 0, 0, &original)))
        CHECK(SameName(Within(original.OriginalInfName, MAX_PATH), W("unstaged.inf")));

    SetLastError(0);
    CHECK(!SetupGetInfInformationW(InCase(W("missing.inf")).c_str(), INFINFO_INF_NAME_IS_ABSOLUTE, 0, 0, &required));
    CHECK_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

CONFORMANCE_CASE(uninstall_oem_inf_removes_the_inf_and_its_companion)
{
    const Text source = InCase(W("conformance.inf"));
    CHECK(PutFile(source, ConformanceInf()));
    Staged staged = Stage(source);
    if (!CHECK(staged.ok && staged.nameAt != Text::npos)) return;
    const Text name = staged.path.substr(staged.nameAt);
    CHECK(IsThere(staged.path));

    // Bound at run time, as Drvmate binds it.
    HMODULE setupapi = LoadLibraryW(W("setupapi.dll"));
    if (!CHECK(setupapi != 0)) return;
    UninstallFunction uninstall =
        reinterpret_cast<UninstallFunction>(GetProcAddress(setupapi, "SetupUninstallOEMInfW"));
    if (CHECK(uninstall != 0)) {
        // Flags beyond SUOI_FORCEDELETE are refused, and nothing is removed.
        const DWORD unknownFlag = 0x80000000;
        SetLastError(0);
        BOOL refused = !uninstall(name.c_str(), unknownFlag, 0);
        if (Checked(WINE_UNINSTALL_TAKES_ANY_FLAGS)) {
            CHECK(refused);
            CHECK_EQ(GetLastError(), ERROR_INVALID_FLAGS);
            CHECK(IsThere(staged.path));
        }
        if (!refused) {
            staged = Stage(source);  // Wine removed it: stage it again
            if (!CHECK(staged.ok && staged.nameAt != Text::npos)) return;
        }
        CHECK(uninstall(staged.path.substr(staged.nameAt).c_str(), SUOI_FORCEDELETE, 0));
        CHECK(!IsThere(staged.path));
        if (Checked(WINE_UNINSTALL_LEAVES_THE_PNF)) CHECK(!IsThere(CompanionOf(staged.path)));
        // Once gone, it cannot go again.
        CHECK(!uninstall(name.c_str(), SUOI_FORCEDELETE, 0));
    }
    CHECK(FreeLibrary(setupapi));
}
