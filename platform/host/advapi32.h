// Service control manager and registry calls (advapi32.dll) and shlwapi's SHDeleteKeyA.
#pragma once

#include "types.h"
