// Windows Installer calls (msi.dll) that the custom actions make on their session.
#pragma once

#include "types.h"

typedef DWORD MSIHANDLE;

enum INSTALLMESSAGE {
    INSTALLMESSAGE_FATALEXIT = 0x00000000,
    INSTALLMESSAGE_ERROR = 0x01000000,
    INSTALLMESSAGE_WARNING = 0x02000000,
    INSTALLMESSAGE_USER = 0x03000000,
    INSTALLMESSAGE_INFO = 0x04000000,
};

enum MSIRUNMODE {
    MSIRUNMODE_ADMIN = 0,
    MSIRUNMODE_ADVERTISE = 1,
    MSIRUNMODE_MAINTENANCE = 2,
    MSIRUNMODE_ROLLBACKENABLED = 3,
    MSIRUNMODE_LOGENABLED = 4,
    MSIRUNMODE_OPERATIONS = 5,
    MSIRUNMODE_REBOOTATEND = 6,
    MSIRUNMODE_REBOOTNOW = 7,
};

// Message box flags and answers (winuser.h), as the installer's messages carry them.
#define MB_OK 0x00000000L
#define MB_ABORTRETRYIGNORE 0x00000002L
#define MB_ICONERROR 0x00000010L
#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5

MSIHANDLE WINAPI MsiCreateRecord(UINT fields);
UINT WINAPI MsiRecordSetInteger(MSIHANDLE record, UINT field, int value);
int WINAPI MsiProcessMessage(MSIHANDLE session, INSTALLMESSAGE type, MSIHANDLE record);
UINT WINAPI MsiCloseHandle(MSIHANDLE handle);
UINT WINAPI MsiSetMode(MSIHANDLE session, MSIRUNMODE mode, BOOL state);

// The SDK's scoped handle: closes a nonzero handle when it leaves scope or is replaced.
class PMSIHANDLE {
    MSIHANDLE m_h;

public:
    PMSIHANDLE() : m_h(0) {}
    PMSIHANDLE(MSIHANDLE h) : m_h(h) {}
    ~PMSIHANDLE()
    {
        if (m_h != 0) MsiCloseHandle(m_h);
    }
    void operator=(MSIHANDLE h)
    {
        if (m_h) MsiCloseHandle(m_h);
        m_h = h;
    }
    operator MSIHANDLE() { return m_h; }
    MSIHANDLE* operator&()
    {
        if (m_h) MsiCloseHandle(m_h);
        m_h = 0;
        return &m_h;
    }
};
