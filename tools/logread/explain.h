// Explains a drvmate.log run by run: which road each run took (install, uninstall, upgrade, a
// utility export), with or without an installer session, on which Windows, what it removed,
// updated, deleted and found missing, its result and what msiexec makes of it, and the name,
// meaning and, where one is known, advice for every error number on its lines.
//
// The explainer reads the decoded text as a LogDecoderSink, a line at a time, and hands each
// run to a RunSink when the run ends. A run holds at most a fixed number of names and error
// lines (the rest are counted), so its memory does not grow with the log.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "decode.h"

// Exit codes of `logread --explain` beyond those of print.h (0 valid, 1 bytes not valid, 2
// unreadable). The weightiest finding decides: 5, then 4, 3, 1.
const int LOG_RUN_STOPPED = 3;  // a run ends before its last step: the log ends mid-run, or the next run cut it off
const int LOG_RUNS_MIXED = 4;   // lines of one run stand inside another: two runs wrote at once
const int LOG_NOT_DRVMATE = 5;  // empty, or no line is one that Drvmate writes

enum class Road { Unknown, Install, Uninstall, Upgrade, IsWow64Export, RescanExport };
enum class Bits { Unknown, Bits32, Bits64 };

// Names of one kind in a run: all are counted, the first few kept.
struct Listing {
    static const size_t KEPT = 20;
    size_t count = 0;
    std::vector<std::string> names;
    // With `once`, a name already kept is not counted again (a device in a later removal pass).
    void Add(const std::string& name, bool once = false);
};

// A line that carries an error number, with what the number means.
struct ErrorLine {
    long line = 0;
    std::string text;
    unsigned long number = 0;
    std::string name;  // symbolic name, or empty when no header names the number
    std::string meaning;
    std::string advice;  // empty when none is known
};

struct LogRun {
    static const size_t KEPT_ERRORS = 100;

    int number = 0;
    long firstLine = 0, lastLine = 0;
    Road road = Road::Unknown;
    bool session = false;          // an installer session: the custom-action frame ran
    bool startsBeforeLog = false;  // its first lines are not in the log
    Bits windows = Bits::Unknown;  // of Windows
    Bits library = Bits::Unknown;  // of the Drvmate.dll that ran (from the width of a logged address)
    int redirectionDisable = -1;   // the disable call's result; -1: not called
    bool redirectionReverted = false;
    std::string folder, inf, classGuid;

    Listing removed, removalFailed, updated, updateFailed, rebootDevices;
    Listing storeRemoved, storeFailed;
    Listing binariesDeleted, binariesMissing, binariesFailed;
    int removalPasses = 0;        // "Remove Device ..." lines: the retry loop's passes
    bool aborted = false;         // Abort at the retry prompt
    bool rebootRequired = false;  // a step logged that a reboot is required
    bool rescanFailed = false;

    bool hasResult = false;  // the result is known (logged, or follows from the last step)
    int result = 2;          // the operation result: 0 done, 1 done with a reboot needed, 2 failed
    std::string resultWhy;   // how the result is known, when it was not logged
    bool stopped = false;    // ends before its last step
    std::string stoppedWhy;
    bool mixed = false;  // a line of another run stands inside it
    std::string mixedWhy;

    std::vector<ErrorLine> errors;
    size_t moreErrors = 0;

    // Internal progress of the reading.
    int stage = 0;
    bool frameClosing = false;
    bool pendingRemovalFailed = false;
    bool driverFileLine = false;  // a "delete driver file" line: the drivers folders were swept
};

const char* RoadName(Road road);
// What the custom action, or the runner without a session, returned and what msiexec makes of
// it: one line each. Empty where it does not apply.
std::string CustomActionOutcome(const LogRun& run);
std::string MsiexecOutcome(const LogRun& run);
// Advice on the run as a whole: reboot requests and what the user sees, the WOW64 refusal.
std::vector<std::string> RunAdvice(const LogRun& run);

class RunSink {
public:
    virtual ~RunSink() {}
    virtual void TakeRun(const LogRun& run) = 0;
};

class LogExplainer : public LogDecoderSink {
public:
    explicit LogExplainer(RunSink& sink) : sink_(sink) {}
    LogExplainer(const LogExplainer&) = delete;
    LogExplainer& operator=(const LogExplainer&) = delete;

    void Text(const char* utf8, size_t size) override;
    void Problem(LogLayer layer, const char* where) override;
    // After the decoder's Finish: hands over the last run.
    void Finish();

    long Lines() const { return lineNumber_; }
    long RecognisedLines() const { return recognised_; }
    int Runs() const { return runs_; }
    size_t Problems() const { return problems_; }
    const std::string& FirstProblem() const { return firstProblem_; }
    bool CutInLine() const { return cutInLine_; }
    bool ByteOrderMark() const { return byteOrderMark_; }
    // The exit code that the findings call for.
    int ExitCode() const;

private:
    static const size_t LINE_LIMIT = 2048;

    void Line(const std::string& line);
    bool Interpret(const std::string& line);  // false: not a line Drvmate writes
    void StartRun(Road road, bool session);
    void EndRun();
    bool Complete() const;
    void Mix(const std::string& why);
    void AddError(const std::string& line, unsigned long number, int family, const std::string& context);
    void Derive();

    RunSink& sink_;
    std::string line_;
    bool lineTooLong_ = false;
    long lineNumber_ = 0;
    long recognised_ = 0;
    int runs_ = 0;
    bool open_ = false;
    LogRun run_;
    bool anyStopped_ = false, anyMixed_ = false;
    size_t problems_ = 0;
    std::string firstProblem_;
    bool cutInLine_ = false;
    bool byteOrderMark_ = false;
};

// Prints each run as text as it ends.
class RunTextPrinter : public RunSink {
public:
    explicit RunTextPrinter(FILE* out) : out_(out) {}
    void TakeRun(const LogRun& run) override;

private:
    FILE* out_;
};

// Keeps the last run.
class LastRunKeeper : public RunSink {
public:
    void TakeRun(const LogRun& run) override
    {
        last = run;
        any = true;
    }
    LogRun last;
    bool any = false;
};

void PrintRunText(const LogRun& run, FILE* out, const char* indent);
void PrintRunJson(const LogRun& run, FILE* out);
// A JSON string literal of UTF-8 text.
std::string JsonString(const std::string& text);

// `logread --explain`: reads the log in fixed blocks, prints each run, then one line of
// findings; returns the exit code.
int ExplainInstallerLog(FILE* log, const char* name, FILE* out, FILE* err);
