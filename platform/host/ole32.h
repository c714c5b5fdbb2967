// COM base calls (ole32.dll).
#pragma once

#include "types.h"
