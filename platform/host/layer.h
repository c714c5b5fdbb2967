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

// Closes the open kernel object of that kind, the way the Close and Destroy calls do: a
// handle that is no open object of the kind counts as an invalid close and fails with
// ERROR_INVALID_HANDLE; a failure the test injected (`fails`, with `code`) still closes the
// object, since the caller cannot retry.
inline BOOL CloseObjectOfKind(HANDLE handle, const char* kind, bool fails, DWORD code)
{
    Machine& m = CurrentMachine();
    if (!m.FindKernelObject<KernelObject>(handle, kind)) {
        ++m.invalidCloses;
        return WithLastError(ERROR_INVALID_HANDLE, FALSE);
    }
    m.CloseKernelObject(handle);
    if (fails) return WithLastError(code, FALSE);
    return TRUE;
}

// The layer's function that an export of this name stands for; null when the layer has none.
FARPROC LayerFunction(const std::string& name);

}  // namespace host

// The opening of a layer call: journals the call under the name of the function it opens
// (__func__, the Win32 name) and, when a test injected a failure, returns from that function
// with what Windows reports for one. `LAYER_ENTER_AS` names the call for a function whose own
// name differs; `onFailure` may use the injected code, `injectedCode`.
#define LAYER_ENTER_AS(api, onFailure)                                            \
    do {                                                                          \
        DWORD injectedCode = 0;                                                   \
        if (::host::CurrentMachine().Enter(api, &injectedCode)) return onFailure; \
    } while (0)
// A call that fails with the last error: the injected code, and `failResult`.
#define LAYER_ENTER(failResult) LAYER_ENTER_AS(__func__, ::host::WithLastError(injectedCode, failResult))
// A call that returns its status (registry, configuration manager, installer, COM): the
// injected code, as the call's `StatusType`.
#define LAYER_ENTER_STATUS(StatusType) LAYER_ENTER_AS(__func__, static_cast<StatusType>(injectedCode))
// A call that reports a failure only by its result, leaving the last error alone.
#define LAYER_ENTER_QUIET(failResult) LAYER_ENTER_AS(__func__, failResult)
// A runtime call that fails through errno: the injected code, or `defaultErrno` when the
// test injected 0, and `failResult`.
#define LAYER_ENTER_ERRNO_AS(api, failResult, defaultErrno) \
    LAYER_ENTER_AS(api, ::host::WithErrno(injectedCode ? static_cast<int>(injectedCode) : (defaultErrno), failResult))
#define LAYER_ENTER_ERRNO(failResult, defaultErrno) LAYER_ENTER_ERRNO_AS(__func__, failResult, defaultErrno)
// A call that Windows gives no way to fail: only journalled.
#define LAYER_ENTER_INFALLIBLE() ::host::CurrentMachine().EnterInfallible(__func__)

// The object of type `Type` that `handle` stands for, as the variable `name`; a handle that is
// no open object of `kind` fails the call with ERROR_INVALID_HANDLE and `failResult`.
#define LAYER_OBJECT(Type, name, handle, kind, failResult)                      \
    Type* name = ::host::CurrentMachine().FindKernelObject<Type>(handle, kind); \
    if (!name) return ::host::WithLastError(ERROR_INVALID_HANDLE, failResult)
