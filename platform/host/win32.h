// The host's stand-in for <windows.h> and the SDK headers the products include.
#pragma once

#include "types.h"
#include "kernel32.h"
#include "crt.h"
#include "cfgmgr32.h"
#include "setupapi.h"
#include "ole32.h"
#include "msi.h"
#include "advapi32.h"
#include "crt_narrow.h"
#include "security.h"
#include "version.h"
