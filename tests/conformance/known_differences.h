// The points where Wine, on which the Windows build of the cases runs here, does not do what
// Windows does. Each is listed once, in known_differences.cpp, with the case that meets it,
// how Wine differs and why; under Wine that case leaves the point unchecked and says so.
// Any other difference between a Wine run and Windows' documented behaviour fails its case.
#pragma once

enum WineDifference {
    WINE_CLASS_INSTALL_PARAMS_STUB,
    WINE_DEVNODE_STATUS_STUB,
    WINE_NO_WOW64_REFUSAL,
    WINE_OEM_INF_KEEPS_ITS_NAME,
    WINE_UNINSTALL_LEAVES_THE_PNF,
    WINE_DEVICE_ID_UNWRITTEN,
    WINE_ROOT_NOT_LOCATED,
    WINE_MODULE_NAME_UNTERMINATED,
    WINE_NO_SESSION_CODES,
    WINE_UPDATE_WITHOUT_DEVICE,
    WINE_HASHED_SHORT_NAMES,
    WINE_UTF8_TAKES_ANY_FLAGS,
    WINE_UNINSTALL_TAKES_ANY_FLAGS,
    WINE_VOLUME_PATH_OF_EMPTY_NAME,
    WINE_VOLUME_ROOT_WITHOUT_BACKSLASH,
};

// Whether the program runs on Wine: its ntdll.dll exports wine_get_version.
bool UnderWine();

// Whether the point may be checked here: always, except under Wine for a listed difference,
// where "known difference: ..." is noted instead. The difference must be listed for the case
// that asks, else the case fails.
bool Checked(WineDifference difference);
