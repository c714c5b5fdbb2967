// The symbolic names of the error numbers that drvmate.log carries, from the SDK headers
// (the table is generated at build time by error_names.cmake), and their meanings.
#pragma once

#include <cstddef>
#include <cstdint>

struct ErrorName {
    uint32_t number;
    const char* name;
    const char* meaning;  // the name in words: the headers carry no message texts
};

// Sorted by number; a number has one entry.
extern const ErrorName WIN32_ERROR_NAMES[];  // winerror.h and setupapi.h: what GetLastError gives
extern const size_t WIN32_ERROR_NAME_COUNT;
extern const ErrorName CONFIGRET_NAMES[];  // cfgmgr32.h: what the configuration manager returns
extern const size_t CONFIGRET_NAME_COUNT;
extern const ErrorName HRESULT_NAMES[];  // winerror.h: what COM calls return
extern const size_t HRESULT_NAME_COUNT;

// Which family a logged number belongs to: the call that gave it says.
enum class ErrorFamily { Win32, ConfigRet, HResult };

// The entry of a number in its family's table, or null.
const ErrorName* FindErrorName(ErrorFamily family, uint32_t number);
