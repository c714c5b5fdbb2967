// The one door to the platform. Product code includes this header and calls the Win32 API
// by its names; on Windows it is the SDK, on the host the project's own layer.
//
// W("text") makes a UTF-16 literal: L"text" on Windows, u"text" on the host.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>
#include <newdev.h>
#include <objbase.h>
#include <msi.h>
#include <msiquery.h>
#include <shlwapi.h>
#include <shellapi.h>
#include <regstr.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <stdio.h>
#include <time.h>
#define W(text) L##text
#else
#include "host/win32.h"
#define W(text) u##text
#endif
