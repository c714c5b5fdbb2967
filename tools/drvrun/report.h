// drvrun report: what the machine holds for the device family, for support staff. It reads
// and never changes anything: Windows and its bitness, the present and non-present devices of
// the class, the class's packages in the driver store, the package's binaries in both drivers
// folders, and the last run that drvmate.log in TEMP records.
//
//   drvrun report [--class {GUID}] [--json]
//
// Without --class the class comes from the package's INF next to drvrun.exe (the first
// "*.inf" there, as the install takes it); the binaries are the package's ".SYS" files and
// those that the INF's [SourceDisksFiles] sections name.
#pragma once

#include <cstdio>

#include "winapi.h"

const int REPORT_WRITTEN = 0;
const int REPORT_USAGE = 2;         // an unknown argument, or --class without a GUID
const int REPORT_NO_PACKAGE = 3;    // no INF next to drvrun.exe, or its class cannot be read
const int REPORT_FOREIGN_INF = 4;   // the INF is of another class than the family's
const int REPORT_NO_SETUP_API = 5;  // the system folder's setupapi.dll cannot be loaded or lacks a call

// Runs the report with the arguments that follow "report"; writes it to `out` and what stops
// it to `err`. Returns one of the codes above.
int DrvrunReport(int argc, WCHAR** argv, FILE* out, FILE* err);
