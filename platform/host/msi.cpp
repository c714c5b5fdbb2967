// The installer session over the simulated machine.
#include "msi.h"

#include "kernel32.h"
#include "layer.h"

using host::CurrentMachine;

namespace {
host::InstallerSession& Session() { return host::CurrentMachine().session; }
}  // namespace

MSIHANDLE WINAPI MsiCreateRecord(UINT fields)
{
    LAYER_ENTER_QUIET(0);
    if (fields > 65535) return 0;
    MSIHANDLE handle = Session().nextHandle++;
    Session().records[handle] = host::InstallerSession::Record{fields, {}};
    ++Session().recordsCreated;
    host::CurrentMachine().HandleOpened("msirecord");
    return handle;
}

UINT WINAPI MsiRecordSetInteger(MSIHANDLE record, UINT field, int value)
{
    LAYER_ENTER_STATUS(UINT);
    auto it = Session().records.find(record);
    if (it == Session().records.end()) return ERROR_INVALID_HANDLE;
    if (field > it->second.fields) return ERROR_INVALID_PARAMETER;
    it->second.integers[field] = value;
    return ERROR_SUCCESS;
}

int WINAPI MsiProcessMessage(MSIHANDLE session, INSTALLMESSAGE type, MSIHANDLE record)
{
    LAYER_ENTER_QUIET(-1);
    auto it = Session().records.find(record);
    if (!Session().IsSession(session) || it == Session().records.end()) return -1;
    Session().messages.push_back(host::InstallerSession::Message{type, it->second.integers, it->second.fields});
    if (Session().answers.empty()) return 0;
    int answer = Session().answers.front();
    Session().answers.pop_front();
    return answer;
}

UINT WINAPI MsiCloseHandle(MSIHANDLE handle)
{
    DWORD code;
    bool fails = CurrentMachine().Enter(__func__, &code);
    if (handle == 0) return fails ? code : ERROR_SUCCESS;
    auto it = Session().records.find(handle);
    if (it == Session().records.end()) {
        if (Session().IsSession(handle)) return fails ? code : ERROR_SUCCESS;
        ++Session().badCloses;
        return ERROR_INVALID_HANDLE;
    }
    // A failure the test injected still closes the record: the caller cannot retry.
    Session().records.erase(it);
    ++Session().recordsClosed;
    host::CurrentMachine().HandleClosed("msirecord");
    return fails ? code : ERROR_SUCCESS;
}

UINT WINAPI MsiSetMode(MSIHANDLE session, MSIRUNMODE mode, BOOL state)
{
    LAYER_ENTER_STATUS(UINT);
    if (!Session().IsSession(session)) return ERROR_INVALID_HANDLE;
    if (mode != MSIRUNMODE_REBOOTATEND && mode != MSIRUNMODE_REBOOTNOW) return ERROR_ACCESS_DENIED;
    Session().modes.emplace_back(mode, state);
    return ERROR_SUCCESS;
}
