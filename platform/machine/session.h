// The installer session that runs the custom actions, as a test scripts and reads it.
#pragma once

#include <deque>
#include <map>
#include <utility>
#include <vector>

#include "msi.h"

namespace host {

struct InstallerSession {
    struct Message {
        INSTALLMESSAGE type;
        std::map<UINT, int> integers;  // the record's integer fields
        UINT fields;                   // the record's field count
    };

    MSIHANDLE Open();  // a session handle for the custom action

    std::deque<int> answers;                         // what each message returns, in turn; 0 when none is left
    std::vector<Message> messages;                   // every message handed over
    std::vector<std::pair<MSIRUNMODE, BOOL>> modes;  // every MsiSetMode, in order
    int recordsCreated = 0;
    int recordsClosed = 0;
    int badCloses = 0;  // MsiCloseHandle on a handle that is not open

    bool RebootAtEnd() const;
    int OpenRecords() const { return recordsCreated - recordsClosed; }
    bool IsSession(MSIHANDLE handle) const;

    // The records the process has open, by handle.
    struct Record {
        UINT fields;
        std::map<UINT, int> integers;
    };
    std::map<MSIHANDLE, Record> records;
    std::vector<MSIHANDLE> sessions;
    MSIHANDLE nextHandle = 100;
};

}  // namespace host
