// The names that each of the product's four searches meets, and whether it takes them: a
// table that the pure match and the searches on volumes with and without short names share.
#pragma once

#include "winapi.h"

// What each of the four searches takes of the names that the system reports. Windows matches a
// pattern against a file's 8.3 short name too, so a search for "*.SYS" also reports
// "bystander.sys_old" (BYSTAN~1.SYS); the searches take only the names that match by themselves.
struct FoundName {
    const char* search;
    const WCHAR* pattern;
    const WCHAR* name;
    bool taken;
};

inline const FoundName FOUND_NAMES[] = {
    {"install's and uninstall's INF", W("*.inf"), W("tesmar-sample.inf"), true},
    {"install's and uninstall's INF", W("*.inf"), W("TESMAR.INF"), true},
    {"install's and uninstall's INF", W("*.inf"), W("driver.x86.inf"), true},
    {"install's and uninstall's INF", W("*.inf"), W("driver.inf_old"), false},  // DRIVER~1.INF
    {"install's and uninstall's INF", W("*.inf"), W("notes.info"), false},      // NOTES~1.INF
    {"install's and uninstall's INF", W("*.inf"), W("driver.inf.bak"), false},
    {"install's and uninstall's INF", W("*.inf"), W("inf"), false},
    {"store's OEM INFs", W("oem*.inf"), W("oem5.inf"), true},
    {"store's OEM INFs", W("oem*.inf"), W("OEM12.INF"), true},
    {"store's OEM INFs", W("oem*.inf"), W("oem5.inf_old"), false},  // OEM5~1.INF: its sweep would delete oem5.PNF
    {"store's OEM INFs", W("oem*.inf"), W("oemsetup.information"), false},
    {"store's OEM INFs", W("oem*.inf"), W("xoem5.inf"), false},
    {"store's OEM INFs", W("oem*.inf"), W("oe.inf"), false},
    {"package's driver files", W("*.SYS"), W("tesmarsample.sys"), true},
    {"package's driver files", W("*.SYS"), W("USBTESMAR.SYS"), true},
    {"package's driver files", W("*.SYS"), W("bystander.sys_old"), false},  // BYSTAN~1.SYS
    {"package's driver files", W("*.SYS"), W("driver.system"), false},
    {"package's driver files", W("*.SYS"), W("sys"), false},
};
