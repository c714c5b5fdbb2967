// The fault explorer: every platform call of a run made to fail, and the run killed at every
// call, for each scenario of a matrix; after each such run the invariants are checked and a
// clean run of the same export must bring the machine to the state a clean run leaves.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "machine.h"

namespace faults {

enum class Road { Install, Uninstall, Upgrade, Svcsweep };
enum class Arch { X86, Wow64, X64 };  // 32-bit Windows; a 32-bit process on 64-bit Windows; a 64-bit process
enum class Answer { None, Retry, Abort, Ignore };
enum class ServiceCase { Present, Absent, MarkedForDeletion, WithSubkeys };

// What the machine holds before the run.
struct Content {
    int devices = 1;            // present devices of the class
    bool rebootDevice = false;  // the second (or only) one needs a reboot after removal and update
    bool phantom = false;       // a device of the class that is not attached
    int storeOfClass = 1;       // earlier packages of the class in the driver store
    bool storeOther = true;     // a package of another class in the store
    int binaries = 1;           // the package's binary in 0, 1 (native) or 2 (both) drivers folders
};

struct Scenario {
    std::string name;
    Road road = Road::Install;
    Arch arch = Arch::X86;
    bool session = true;
    Answer answer = Answer::None;
    Content content;
    ServiceCase service = ServiceCase::Present;
};

std::vector<Scenario> Matrix();
// The scenarios that ./test.sh walks whole.
std::vector<std::string> Sample();

// The errors to walk for a call: the codes Microsoft documents for it, two where several
// are; none for a call Windows gives no way to fail.
struct DocumentedError {
    DWORD code;
    const char* name;
};
const std::vector<DocumentedError>& DocumentedErrors(const std::string& api);
// Calls that give back what the process holds and keep it when they fail: after such a
// failure one handle stays open by design.
bool ReleaseKeepsOnFailure(const std::string& api);
// Calls whose failure drops at most one log line and changes nothing else.
bool IsLogCall(Road road, const std::string& api);
// The log line a failure of the call must leave (a regular expression with the code in
// it), or empty where no line is owed.
std::string LineOwed(const std::string& api, DWORD code);

// What a log says.
struct LogReading {
    bool complete = false;  // the whole log was read; else it ended early
    long result = -1;       // the export's result its lines imply
    std::string problem;    // where it breaks the grammar; empty when it does not
};
LogReading ReadInstallerLog(Road road, bool session, const std::vector<std::string>& lines, bool mayEndEarly);
LogReading ReadCleanerLog(const std::string& service, const std::vector<std::string>& lines, bool mayEndEarly);

// An outcome the design cannot avoid, tied to its scenarios and call: every point that
// matches it is accepted, and an entry that no run of a walked scenario meets is a stale one.
struct AcceptedOutcome {
    const char* scenarios;  // a regular expression over scenario names
    const char* kind;       // "fail" or "stop"
    const char* api;        // the call
    int occurrence;         // which call of that name (from 0), or -1 for each of them
    const char* check;      // the invariant it breaks
    const char* reason;
};
extern const std::vector<AcceptedOutcome> AcceptedOutcomes;

// A failing point kept as a reproducer: a scenario, the call by name and occurrence, and a
// code (0: the process is killed there).
struct Reproducer {
    const char* scenario;
    const char* api;
    int occurrence;  // from 0; -1 for the last one
    DWORD code;
    const char* finding;
};
extern const std::vector<Reproducer> Reproducers;

}  // namespace faults
