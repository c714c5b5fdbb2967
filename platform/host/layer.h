// What the layer's source files share: the machine they work on and the layer's own functions
// that a module's exports name. Not reached from winapi.h.
#pragma once

#include <string>

#include <errno.h>

#include "kernel32.h"
#include "machine.h"
#include "types.h"

namespace host {

// A failure path in one line: sets the calling thread's last error, or the runtime's errno,
// and hands back what the call returns on that failure.
template <typename Result>
Result WithLastError(DWORD code, Result result)
{
    SetLastError(code);
    return result;
}
template <typename Result>
Result WithErrno(int code, Result result)
{
    errno = code;
    return result;
}

// The layer's function that an export of this name stands for; null when the layer has none.
FARPROC LayerFunction(const std::string& name);

}  // namespace host
