// The runtime's narrow calls that Svcsweep's log makes: whether the log exists, appending
// to it in text mode, and the local time of its lines.
#include "harness.h"
#include "winapi.h"

#include "setup.h"

CONFORMANCE_CASE(narrow_log_is_appended_only_when_it_exists)
{
    // Names relative to the current folder, as Svcsweep's log file is.
    CHECK(SetCurrentFolder(CaseFolder()));
    CHECK_EQ(_access("cleaner.log", 0), -1);
    CHECK(PutFile(InCase(W("cleaner.log")), "first\r\n"));
    CHECK_EQ(_access("cleaner.log", 0), 0);

    FILE* file = fopen("cleaner.log", "at");
    if (!CHECK(file != 0)) return;
    CHECK_EQ(fprintf(file, "%s", "[2024-05-17 09:41:27] line\n"), 27);
    CHECK_EQ(fputs("tail\n", file) >= 0, true);
    CHECK_EQ(fclose(file), 0);
    CHECK_EQ(FileBytes(InCase(W("cleaner.log"))), "first\r\n[2024-05-17 09:41:27] line\r\ntail\r\n");
}

CONFORMANCE_CASE(local_time_of_now_and_before_1970)
{
    __time64_t now = 0;
    __time64_t returned = _time64(&now);
    CHECK(now > 0);
    CHECK_EQ(returned, now);
    struct tm* local = _localtime64(&now);
    if (CHECK(local != 0)) {
        const int Year2000 = 100;  // years since 1900
        CHECK(local->tm_year >= Year2000);
        char text[32];
        CHECK_EQ(strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local), 19u);
    }
    // A moment before 1970 has no local time.
    __time64_t before = -1;
    CHECK(_localtime64(&before) == 0);
}
