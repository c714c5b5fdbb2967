// Svcsweep's operations: delete a service through the service control manager, then its
// key under HKEY_LOCAL_MACHINE. Every step is reported through LogLine.
#pragma once

#include <stddef.h>

// "SYSTEM\CurrentControlSet\Services\" (34 characters), the name and the terminator.
const size_t SERVICE_KEY_PATH_BYTES = 260;
const size_t MAX_SERVICE_NAME_CHARS = 225;
// A name that can be accepted, with its terminator.
const size_t SERVICE_NAME_BYTES = MAX_SERVICE_NAME_CHARS + 1;
// Room for the line that says why a name is refused.
const size_t REFUSAL_TEXT_BYTES = 512;

extern const char DEFAULT_SERVICE_NAME[];

// Takes the service name from the process's wide command line: its first argument, else
// the default. The name reaches `name` (SERVICE_NAME_BYTES) only when it converts to the
// ANSI code page exactly: the narrow command line is made with best-fit mapping, which
// turns a name in fullwidth letters (U+FF56 U+FF49 ...) into the ASCII name of another
// service ("victim"). Otherwise `reason` receives the line that says why (ending with a
// newline): the command line could not be read, the name has characters that the code
// page does not hold or could not be converted, or it is longer than MAX_SERVICE_NAME_CHARS.
bool TakeServiceName(char* name, char* reason, size_t reasonSize);

// True when the name can name a service key. Otherwise `reason` receives the line that
// says why (ending with a newline): an empty name would name the Services key itself, a
// backslash or slash another key, and a longer name does not fit the key path. The key
// deletion ends in SHDeleteKeyA, which takes a whole subtree, so such a name must reach
// neither the service control manager nor the registry.
bool IsUsableServiceName(const char* name, char* reason, size_t reasonSize);

// The whole program, as its main runs it with the process's arguments: the banner and usage
// line, then the named service and its key deleted, each step logged. Returns the exit
// code, 0 whatever happened.
int RunSvcsweep(int argc, char* argv[]);

// Asks the service control manager to delete the service.
void DeleteNamedService(const char* name);
// Deletes the service's key "SYSTEM\CurrentControlSet\Services\<name>", with its subkeys
// when it has any.
void DeleteServiceKey(const char* name);
