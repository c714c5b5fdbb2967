// The example installer package through a product's life under Wine's msiexec, with a present
// device of the driver package's class: a major upgrade from 1.0.0 to 1.1.0, a refused
// downgrade, a repair, and an installation that fails after InstallDeviceDriver has run and
// rolls back. The packages are the build's (tests/package_life_msis.sh), in the "package-life"
// folder beside this program; 1.1.0's driver binary differs from 1.0.0's in content. Each case
// starts and ends with no version of the product installed.
#include "check.h"

#include <msi.h>
#include <setupapi.h>
#include <stdio.h>

#include <vector>

#include "decode.h"

namespace {

const wchar_t DRIVER_NAME[] = L"tesmarsample.sys";
const DWORD INSTALL_FAILURE = 1603;  // ERROR_INSTALL_FAILURE
const DWORD FUNCTION_FAILED = 1627;  // ERROR_FUNCTION_FAILED
const char PLANTED_COPY[] = "a driver binary left by an earlier installation";

// A package built for these cases, from the folder beside this program.
std::wstring Package(const wchar_t* name)
{
    wchar_t program[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring folder(program, length);
    return folder.substr(0, folder.rfind(L'\\')) + L"\\package-life\\" + name;
}

const wchar_t VERSION_1_0[] = L"drvmate-example-1.0.0.msi";
const wchar_t VERSION_1_1[] = L"drvmate-example-1.1.0.msi";
const wchar_t FAILS_AFTER_INSTALL[] = L"drvmate-example-1.0.0-fails.msi";

// One msiexec run on a package, or on a product code, with a verbose installer log in the
// case's folder; prints the exit code, which is what a deployment tool sees.
struct Msiexec {
    std::wstring folder;
    int runs = 0;

    DWORD operator()(const wchar_t* options, const wchar_t* package)
    {
        return Product(options, L"\"" + Package(package) + L"\"");
    }

    DWORD Product(const wchar_t* options, const std::wstring& product)
    {
        std::wstring log = folder + L"\\msiexec-" + std::to_wstring(++runs) + L".txt";
        DWORD code = RunToEnd(L"msiexec " + std::wstring(options) + L" " + product + L" /qn /l*v \"" + log + L"\"");
        printf("  msiexec %s %s exited with %lu\n", Utf8(options).c_str(), Utf8(product).c_str(), code);
        if (code == EndedAtLimit) RemoveLeftProducts();
        return code;
    }

    // After a run that was ended at the limit: what it left registered is removed, so that the
    // cases and programs after it start with no version of the product installed.
    static void RemoveLeftProducts();
};

// Windows Installer reports a failed installation as 1603 whatever failed; Wine 8's msiexec
// passes on the failed deferred action's own result, 1627.
DWORD FailedInstallation()
{
    bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine ? FUNCTION_FAILED : INSTALL_FAILURE;
}

// A fresh folder as TEMP, where the custom actions write drvmate.log; msiexec and the
// custom-action processes it starts inherit it.
std::wstring CaseFolder(const wchar_t* name)
{
    std::wstring folder = FreshFolder(name);
    SetEnvironmentVariableW(L"TEMP", folder.c_str());
    return folder;
}

std::string LogText(const std::wstring& folder)
{
    DecodedLog log = DecodeInstallerLog(ReadBytes(folder + L"\\drvmate.log"));
    CHECK(log.problems.empty());
    return log.text;
}

// Where a whole line first stands in the log, or npos.
size_t LineAt(const std::string& text, const std::string& line, size_t from = 0)
{
    if (from == 0 && StartsWith(text, line + "\n")) return 0;
    size_t at = text.find("\n" + line + "\n", from);
    return at == std::string::npos ? at : at + 1;
}

void Msiexec::RemoveLeftProducts()
{
    for (const std::wstring& product : RegisteredProducts()) {
        DWORD code = RunToEnd(L"msiexec /x " + product + L" /qn");
        printf("  removed %s, which it left registered: msiexec /x exited with %lu\n", Utf8(product).c_str(), code);
    }
}

std::string ProductVersion(const std::wstring& product)
{
    wchar_t version[64];
    DWORD length = 64;
    if (MsiGetProductInfoW(product.c_str(), INSTALLPROPERTY_VERSIONSTRING, version, &length) != ERROR_SUCCESS)
        return std::string();
    return Utf8(std::wstring(version, length));
}

// The one registered product's version, or "" when none or more than one is registered.
std::string InstalledVersion()
{
    std::vector<std::wstring> products = RegisteredProducts();
    if (products.size() != 1) {
        printf("  %zu products are registered\n", products.size());
        return std::string();
    }
    return ProductVersion(products[0]);
}

std::wstring SystemDriver() { return SystemDriversFolder() + DRIVER_NAME; }
std::wstring Wow64Driver() { return Wow64DriversFolder() + DRIVER_NAME; }

// The driver binary in the native drivers folder, where the device's update puts it.
std::string InstalledDriver()
{
    NativeView native;
    return ReadBytes(SystemDriver());
}

bool NoDriverBinaryLeft()
{
    bool native;
    {
        NativeView view;
        native = Exists(SystemDriver());
    }
    bool wow64 = Is64BitWindows() && Exists(Wow64Driver());
    if (native || wow64) printf("  a driver binary is left:%s%s\n", native ? " native" : "", wow64 ? " WOW64" : "");
    return !native && !wow64;
}

std::string SampleDriver() { return ReadBytes(DistFile(L"sample-driver\\tesmarsample.sys")); }
std::string Version11Driver() { return ReadBytes(Package(L"sample-1.1.0\\tesmarsample.sys")); }

std::string DriverFolder() { return Utf8(SystemFolder().substr(0, 3)) + "Program Files\\Tesmar\\drivers\\"; }

std::string DeletedLine(const std::wstring& path) { return "delete driver file " + Utf8(path) + ": 0"; }

}  // namespace

WINE_CASE(major_upgrade_removes_the_earlier_version_before_installing)
{
    Msiexec msiexec{CaseFolder(L"package-upgrade")};
    CHECK(CreateSampleDevice());
    CHECK(SampleDriver() != Version11Driver());

    CHECK(msiexec(L"/i", VERSION_1_0) == 0);
    CHECK(InstalledVersion() == "1.0.0");
    CHECK(InstalledDriver() == SampleDriver());
    DeleteFileW((msiexec.folder + L"\\drvmate.log").c_str());

    CHECK(msiexec(L"/i", VERSION_1_1) == 0);
    CHECK(InstalledVersion() == "1.1.0");  // exactly one product: 1.0.0 is gone
    CHECK(InstalledDriver() == Version11Driver());
    // 1.0.0's uninstall road ran to its end before 1.1.0's install road began.
    std::string text = LogText(msiexec.folder);
    size_t uninstall = LineAt(text, "Uninstall ...");
    size_t uninstalled = LineAt(text, "Uninstall result: 0");
    size_t install = LineAt(text, "Install ...");
    size_t installed = LineAt(text, "Install result: 0");
    CHECK(uninstall != std::string::npos && uninstalled != std::string::npos);
    CHECK(install != std::string::npos && installed != std::string::npos);
    CHECK(uninstall < uninstalled && uninstalled < install && install < installed);
    CHECK(LineAt(text, "Uninstall ...", uninstalled) == std::string::npos);  // nothing removed afterwards

    CHECK(msiexec(L"/x", VERSION_1_1) == 0);
    CHECK(RegisteredProducts().empty());
    CHECK(NoDriverBinaryLeft());
}

WINE_CASE(an_earlier_version_does_not_install_over_a_later_one)
{
    Msiexec msiexec{CaseFolder(L"package-downgrade")};
    CHECK(msiexec(L"/i", VERSION_1_1) == 0);
    DeleteFileW((msiexec.folder + L"\\drvmate.log").c_str());

    CHECK(msiexec(L"/i", VERSION_1_0) == INSTALL_FAILURE);
    CHECK(InstalledVersion() == "1.1.0");
    CHECK(InstalledDriver() == Version11Driver());
    CHECK(!Exists(msiexec.folder + L"\\drvmate.log"));  // no custom action ran

    CHECK(msiexec(L"/x", VERSION_1_1) == 0);
    CHECK(RegisteredProducts().empty());
}

WINE_CASE(repair_installs_the_driver_again)
{
    Msiexec msiexec{CaseFolder(L"package-repair")};
    CHECK(msiexec(L"/i", VERSION_1_1) == 0);
    {
        NativeView native;
        CHECK(DeleteFileW(SystemDriver().c_str()));
    }
    DeleteFileW((msiexec.folder + L"\\drvmate.log").c_str());

    // Repair by product code, in the property form of msiexec /fomus (Wine 8's msiexec /f takes
    // no product code): every feature again, files that are missing or older (o), the machine's
    // and the user's registry entries (m, u), shortcuts (s).
    std::vector<std::wstring> products = RegisteredProducts();
    CHECK(products.size() == 1);
    CHECK(!products.empty() && msiexec.Product(L"/i", products[0] + L" REINSTALL=ALL REINSTALLMODE=omus") == 0);
    CHECK(InstalledDriver() == Version11Driver());
    std::string text = LogText(msiexec.folder);
    CHECK(LineAt(text, "Install result: 0") != std::string::npos);
    CHECK(LineAt(text, "Uninstall ...") == std::string::npos);
    CHECK(InstalledVersion() == "1.1.0");

    CHECK(msiexec(L"/x", VERSION_1_1) == 0);
    CHECK(RegisteredProducts().empty());
    CHECK(NoDriverBinaryLeft());
}

WINE_CASE(a_failure_after_the_driver_install_rolls_the_driver_back)
{
    Msiexec msiexec{CaseFolder(L"package-rollback")};
    // Copies in every drivers folder, as an earlier installation leaves them: the rollback
    // deletes the package's binaries wherever they are.
    {
        NativeView native;
        CHECK(WriteBytes(SystemDriver(), PLANTED_COPY));
    }
    if (Is64BitWindows()) CHECK(WriteBytes(Wow64Driver(), PLANTED_COPY));

    CHECK(msiexec(L"/i", FAILS_AFTER_INSTALL) == FailedInstallation());
    // The install road ran to its end, then the rollback's uninstall road deleted the binaries.
    std::string text = LogText(msiexec.folder);
    size_t installed = LineAt(text, "Install result: 0");
    size_t rolledBack = LineAt(text, "Uninstall ...");
    CHECK(installed != std::string::npos && rolledBack != std::string::npos && installed < rolledBack);
    CHECK(LineAt(text, DeletedLine(SystemDriver()), rolledBack) != std::string::npos);
    CHECK(NoDriverBinaryLeft());
    CHECK(RegisteredProducts().empty());
    CHECK(!Exists(Wide(DriverFolder()) + L"tesmar-sample.inf"));  // the package's files are gone too
}
