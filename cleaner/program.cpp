// Svcsweep: removes a service that an older driver left behind, with its registry key.
//
//     Svcsweep [servicename]        the default service is "androidusb"
//
// The banner and the usage line always reach the console; the step lines reach it, and the
// log file, only when "__Svcsweep__LOG.log" exists in the current directory. The exit code
// is 0 whatever happened. A name is refused, with one line, when it cannot name exactly one
// service key: empty, with a backslash or slash, too long for the key path, or not exact in
// the ANSI code page.
#include <string.h>

#include "cleaner_log.h"
#include "svcsweep.h"
#include "winapi.h"

namespace {

const char ProgramLine[] = "Svcsweep\n";
const char VersionLine[] = "version: 1.0.001\n";
const char ContactAddress[] = "support@tesmar.example";
// The name shown in the usage line when the system passed none.
const char ProgramName[] = "Svcsweep";
const DWORD VersionRecordBytes = 148;
static_assert(sizeof(OSVERSIONINFOA) == VersionRecordBytes, "OSVERSIONINFOA");

}  // namespace

int RunSvcsweep(int argc, char* argv[])
{
    // Only for the log: the record is zeroed first, so a failed call shows 0.0.0.
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = VersionRecordBytes;
    GetVersionExA(&version);

    const char* invocation = argc > 0 && argv[0] ? argv[0] : ProgramName;
    fputs(ProgramLine, stdout);
    fputs(VersionLine, stdout);
    printf("%s\n\n\n", ContactAddress);
    printf("Usage: %s [servicename]\n\n", invocation);

    LogLine(ProgramLine);
    LogLine(VersionLine);
    LogLine("%s\n", ContactAddress);
    LogLine("OS version: %d.%d.%d\n", static_cast<int>(version.dwMajorVersion),
            static_cast<int>(version.dwMinorVersion), static_cast<int>(version.dwBuildNumber));

    // The name comes from the wide command line: argv holds it in the ANSI code page with
    // best-fit mapping, where another service's name may stand in for it.
    char name[SERVICE_NAME_BYTES];
    char reason[REFUSAL_TEXT_BYTES];
    if (!TakeServiceName(name, reason, sizeof reason) || !IsUsableServiceName(name, reason, sizeof reason)) {
        LogLine("%s", reason);
        fputs(reason, stderr);
        return 0;
    }

    DeleteNamedService(name);
    DeleteServiceKey(name);
    return 0;
}
