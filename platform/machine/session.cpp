#include "session.h"

#include <algorithm>

namespace host {

MSIHANDLE InstallerSession::Open()
{
    MSIHANDLE handle = nextHandle++;
    sessions.push_back(handle);
    return handle;
}

bool InstallerSession::IsSession(MSIHANDLE handle) const
{
    return std::find(sessions.begin(), sessions.end(), handle) != sessions.end();
}

bool InstallerSession::RebootAtEnd() const
{
    bool on = false;
    for (const auto& mode : modes)
        if (mode.first == MSIRUNMODE_REBOOTATEND) on = mode.second != FALSE;
    return on;
}

}  // namespace host
