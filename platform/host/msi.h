// Windows Installer calls (msi.dll) that the custom actions make on their session.
#pragma once

#include "types.h"

typedef uint32_t MSIHANDLE;
