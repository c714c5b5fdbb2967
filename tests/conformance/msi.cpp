// Windows Installer records and messages: what Drvmate's retry prompt builds, and what the
// calls give without a session (the field runner's null session handle).
#include "harness.h"
#include "winapi.h"

#include "known_differences.h"
#include "setup.h"

namespace {

const int PromptError = 25000;  // the package's Error table entry
const INSTALLMESSAGE Prompt = static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_USER | MB_ABORTRETRYIGNORE | MB_ICONERROR);
const int InvalidArgument = -1;  // MsiProcessMessage: an invalid parameter or handle

}  // namespace

CONFORMANCE_CASE(record_and_message_without_a_session)
{
    MSIHANDLE record = MsiCreateRecord(1);
    if (!CHECK(record != 0)) return;
    CHECK_EQ(MsiRecordSetInteger(record, 1, PromptError), static_cast<UINT>(ERROR_SUCCESS));
    // A field the record does not have is refused.
    CHECK_EQ(MsiRecordSetInteger(record, 2, PromptError), static_cast<UINT>(ERROR_INVALID_PARAMETER));

    int answer = MsiProcessMessage(0, Prompt, record);
    UINT modeSet = MsiSetMode(0, MSIRUNMODE_REBOOTATEND, TRUE);
    if (Checked(WINE_NO_SESSION_CODES)) {
        CHECK_EQ(answer, InvalidArgument);
        CHECK_EQ(modeSet, static_cast<UINT>(ERROR_INVALID_HANDLE));
    }

    CHECK_EQ(MsiCloseHandle(record), static_cast<UINT>(ERROR_SUCCESS));
    CHECK_EQ(MsiCloseHandle(record), static_cast<UINT>(ERROR_INVALID_HANDLE));
    CHECK_EQ(MsiCloseHandle(0), static_cast<UINT>(ERROR_SUCCESS));
}

CONFORMANCE_CASE(scoped_record_handle_closes_once)
{
    // PMSIHANDLE closes what it holds when it goes and when it is given another handle.
    MSIHANDLE first = MsiCreateRecord(1);
    MSIHANDLE second = MsiCreateRecord(1);
    if (!CHECK(first != 0 && second != 0)) return;
    {
        PMSIHANDLE scoped(first);
        scoped = second;
        CHECK_EQ(MsiCloseHandle(first), static_cast<UINT>(ERROR_INVALID_HANDLE));
    }
    CHECK_EQ(MsiCloseHandle(second), static_cast<UINT>(ERROR_INVALID_HANDLE));
}
