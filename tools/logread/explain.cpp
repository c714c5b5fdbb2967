#include "explain.h"

#include <cstdlib>
#include <cstring>

#include "error_names.h"
#include "print.h"

namespace {

// Where a run stands, for a run without a session, whose result is not logged: the last
// step that decides it.
enum Stage {
    STAGE_NONE = 0,
    STAGE_MODULE,      // install: "Module filename: ..."; no INF yet
    STAGE_INF,         // install: the INF was found
    STAGE_DONE,        // install: rescan, reboot or error line; uninstall: its last step began
    STAGE_UNINSTALL,   // uninstall: "Uninstall modulefile: ..."
    STAGE_SEARCH_INF,  // uninstall: "SearchINF: ..." without its "INF: ..." yet
    STAGE_UNINSTALL_CLASS,
};

const size_t READ_BLOCK = 64 * 1024;

bool Starts(const std::string& s, const char* prefix) { return s.compare(0, std::strlen(prefix), prefix) == 0; }

bool Ends(const std::string& s, const char* suffix)
{
    size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// The number behind the last `marker` (decimal, signed, or 0x hexadecimal); false when none.
bool NumberAfterLast(const std::string& s, const char* marker, unsigned long* number)
{
    size_t at = s.rfind(marker);
    if (at == std::string::npos) return false;
    const char* text = s.c_str() + at + std::strlen(marker);
    char* end = nullptr;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        *number = std::strtoul(text + 2, &end, 16) & 0xFFFFFFFFul;
        return end != text + 2;
    }
    long value = std::strtol(text, &end, 10);
    if (end == text) return false;
    *number = static_cast<unsigned long>(value) & 0xFFFFFFFFul;
    return true;
}

// The text between the first "(" and the ")" before `tail`.
std::string Parenthesised(const std::string& s)
{
    size_t open = s.find('(');
    size_t close = s.find(')', open == std::string::npos ? 0 : open);
    if (open == std::string::npos || close == std::string::npos) return std::string();
    return s.substr(open + 1, close - open - 1);
}

// The path of "<prefix><path>: <n>".
std::string PathBeforeNumber(const std::string& s, const char* prefix)
{
    size_t start = std::strlen(prefix);
    size_t colon = s.rfind(": ");
    if (colon == std::string::npos || colon < start) return s.substr(start);
    return s.substr(start, colon - start);
}

// Advice known for an error number on a kind of line, hand-written; null when there is none.
const char* Advice(const std::string& name, const std::string& context)
{
    if (name == "ERROR_SUCCESS" || name == "CR_SUCCESS")
        return "the call failed without saying why: it left no error code (a stub, as Wine's "
               "SetupDiSetClassInstallParamsW is)";
    if (name == "ERROR_IN_WOW64")
        return "the 32-bit package ran on 64-bit Windows, where Windows refuses device installation to 32-bit "
               "code: install the x64 package";
    if (name == "ERROR_ACCESS_DENIED" || name == "CR_ACCESS_DENIED")
        return "the action did not run elevated: the custom action must be deferred and run without "
               "impersonation (msidbCustomActionTypeNoImpersonate), and drvrun must run from an elevated prompt";
    if (name == "ERROR_FILE_NOT_FOUND" && context == "file") return "no copy was there: nothing to delete";
    if (name == "ERROR_PATH_NOT_FOUND" && context == "file") return "the folder does not exist: nothing to delete";
    if (name == "ERROR_SHARING_VIOLATION" || name == "ERROR_USER_MAPPED_FILE")
        return "the file is in use (a driver that is still loaded): restart Windows, then run the action again";
    if (name == "ERROR_NOT_AN_INSTALLED_OEM_INF")
        return "Windows does not hold this file as a store package (it was copied into the inf folder by hand): "
               "the file itself was deleted directly";
    if (name == "ERROR_NO_SUCH_DEVINST" || name == "CR_NO_SUCH_DEVINST")
        return "the device went away during the run (unplugged or removed meanwhile)";
    if (name == "CR_FAILURE" && context == "rescan")
        return "the device tree was not re-enumerated: devices take the new driver when they are plugged in again "
               "or after a restart (Wine's configuration manager always answers this)";
    if (name == "ERROR_NO_DRIVER_SELECTED" || name == "ERROR_NO_COMPAT_DRIVERS")
        return "the INF has no model for this device's hardware ID: check the INF's models against "
               "`drvrun report`'s hardware IDs";
    if (name == "ERROR_INVALID_CLASS" || name == "ERROR_NO_ASSOCIATED_CLASS")
        return "the INF names no valid device setup class: the package's INF is damaged or not this family's";
    return nullptr;
}

}  // namespace

void Listing::Add(const std::string& name, bool once)
{
    // As far as the kept names tell; a device whose ID was not logged is never the same.
    if (once && !name.empty())
        for (const std::string& kept : names)
            if (kept == name) return;
    ++count;
    if (names.size() < KEPT) names.push_back(name);
}

const char* RoadName(Road road)
{
    switch (road) {
    case Road::Install: return "install";
    case Road::Uninstall: return "uninstall";
    case Road::Upgrade: return "upgrade";
    case Road::IsWow64Export: return "utility export _IsWow64System";
    case Road::RescanExport: return "utility export _RescanDevices";
    default: return "unknown";
    }
}

// ---------------------------------------------------------------------------------------
// Reading

void LogExplainer::Text(const char* utf8, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        char c = utf8[i];
        if (c == '\n') {
            Line(line_);
            line_.clear();
            lineTooLong_ = false;
            continue;
        }
        if (line_.size() < LINE_LIMIT)
            line_.push_back(c);
        else
            lineTooLong_ = true;
    }
}

void LogExplainer::Problem(LogLayer, const char* where)
{
    if (problems_++ == 0) firstProblem_ = where;
}

void LogExplainer::Finish()
{
    if (!line_.empty()) {
        // The last message lacks its line end: the log was cut while a line was written.
        cutInLine_ = true;
        ++lineNumber_;
        if (open_) {
            run_.lastLine = lineNumber_;
            if (!run_.stopped) {
                run_.stopped = true;
                run_.stoppedWhy = "the log ends inside a line: it was cut while being written";
            }
        }
        line_.clear();
    }
    if (open_) EndRun();
}

void LogExplainer::Line(const std::string& line)
{
    ++lineNumber_;
    if (lineNumber_ == 1 && Starts(line, "\xEF\xBB\xBF")) byteOrderMark_ = true;
    if (lineTooLong_) {
        // Drvmate's lines hold at most 254 characters.
        if (open_) run_.lastLine = lineNumber_;
        return;
    }
    std::string text = line;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (Interpret(text)) ++recognised_;
}

void LogExplainer::StartRun(Road road, bool session)
{
    if (open_) EndRun();
    run_ = LogRun();
    run_.number = ++runs_;
    run_.firstLine = run_.lastLine = lineNumber_;
    run_.road = road;
    run_.session = session;
    open_ = true;
}

bool LogExplainer::Complete() const
{
    const LogRun& r = run_;
    if (r.road == Road::IsWow64Export || r.road == Road::RescanExport) return true;
    if (r.session) return r.hasResult;
    return r.stage == STAGE_DONE || r.stage == STAGE_MODULE || r.stage == STAGE_SEARCH_INF;
}

void LogExplainer::Derive()
{
    LogRun& r = run_;
    if (r.hasResult || r.session) return;
    if (r.road == Road::IsWow64Export || r.road == Road::RescanExport) {
        r.hasResult = true;
        r.result = r.road == Road::RescanExport && r.rescanFailed ? 2 : 0;
        return;
    }
    if (r.stage == STAGE_MODULE) {
        r.hasResult = true;
        r.result = 2;
        r.resultWhy = "no INF found in the folder (no \"infFile:\" line follows)";
    } else if (r.stage == STAGE_SEARCH_INF) {
        r.hasResult = true;
        r.result = 2;
        r.resultWhy = "no INF found in the folder (no \"INF:\" line follows)";
    } else if (r.stage == STAGE_DONE && r.resultWhy.empty()) {
        r.hasResult = true;
        r.result = r.rebootRequired ? 1 : 0;
        r.resultWhy = "from its last step (a run without a session logs no result line)";
    } else if (r.stage == STAGE_DONE) {
        r.hasResult = true;
    }
}

void LogExplainer::EndRun()
{
    if (!open_) return;
    open_ = false;
    if (!Complete() && !run_.stopped) {
        run_.stopped = true;
        run_.stoppedWhy = lineNumber_ > run_.lastLine ? "another run begins before this one reached its last step"
                                                      : "the log ends before the run reached its last step";
    }
    if (!run_.stopped) Derive();
    LogRun& r = run_;
    // What the lines leave unsaid about Windows: a sweep of the drivers folders without a
    // WOW64 one, or a 32-bit frame that never switched redirection off, is 32-bit Windows; a
    // frame on 64-bit Windows that never switched it off is the 64-bit library's.
    if (r.windows == Bits::Unknown && (r.driverFileLine || (r.session && r.library == Bits::Bits32)))
        r.windows = Bits::Bits32;
    if (r.session && r.windows == Bits::Bits64 && r.redirectionDisable < 0) r.library = Bits::Bits64;
    if (run_.stopped) anyStopped_ = true;
    if (run_.mixed) anyMixed_ = true;
    sink_.TakeRun(run_);
}

void LogExplainer::Mix(const std::string& why)
{
    if (!run_.mixed) {
        run_.mixed = true;
        run_.mixedWhy = why;
    }
}

void LogExplainer::AddError(const std::string& line, unsigned long number, int family, const std::string& context)
{
    if (run_.errors.size() >= LogRun::KEPT_ERRORS) {
        ++run_.moreErrors;
        return;
    }
    ErrorLine error;
    error.line = lineNumber_;
    error.text = line;
    error.number = number;
    const ErrorName* name = FindErrorName(static_cast<ErrorFamily>(family), static_cast<uint32_t>(number));
    if (name) {
        error.name = name->name;
        error.meaning = name->meaning;
        const char* advice = Advice(error.name, context);
        if (advice) error.advice = advice;
    }
    run_.errors.push_back(error);
}

bool LogExplainer::Interpret(const std::string& line)
{
    const int WIN32 = static_cast<int>(ErrorFamily::Win32);
    const int CONFIGRET = static_cast<int>(ErrorFamily::ConfigRet);
    const int HRESULT_FAMILY = static_cast<int>(ErrorFamily::HResult);
    unsigned long number = 0;

    // A closed session run takes its frame's last line; any other line ends it.
    if (open_ && run_.frameClosing) {
        if (Starts(line, "_Wow64RevertWow64FsRedirection: ")) {
            run_.lastLine = lineNumber_;
            run_.redirectionReverted = true;
            EndRun();
            return true;
        }
        EndRun();
    }
    // The utility export _IsWow64System writes its line alone; the frame goes on after it.
    if (open_ && run_.road == Road::IsWow64Export && !Starts(line, "__IsWow64Process error: ")) {
        if (Starts(line, "_Wow64DisableWow64FsRedirection: ") || Starts(line, "IPROPNAME_CUSTOMACTIONDATA data ")) {
            run_.road = Road::Unknown;
            run_.session = true;
        } else {
            EndRun();
        }
    }

    // Lines that start a run.
    if (Starts(line, "IsWow64Process: ")) {
        if (open_ && run_.session && !run_.hasResult && run_.road != Road::Unknown) {
            run_.stopped = true;
            run_.stoppedWhy = "another run's frame begins before this run's result line";
        }
        StartRun(Road::IsWow64Export, false);
        size_t digits = line.size() - std::strlen("IsWow64Process: ");
        run_.library = digits == 16 ? Bits::Bits64 : digits == 8 ? Bits::Bits32 : Bits::Unknown;
        if (run_.library == Bits::Bits64) run_.windows = Bits::Bits64;
        return true;
    }
    if (line == "Getting Module filename...") {
        if (open_ && !run_.session && run_.road == Road::Uninstall) {
            // UpgradeDeviceDriver: the install half follows the uninstall half.
            run_.road = Road::Upgrade;
            run_.stage = STAGE_NONE;
            run_.hasResult = false;
            run_.resultWhy.clear();
            run_.rebootRequired = false;
        } else {
            StartRun(Road::Install, false);
        }
        run_.lastLine = lineNumber_;
        return true;
    }
    if (Starts(line, "Uninstall modulefile: ")) {
        if (!(open_ && run_.session && run_.road == Road::Uninstall && !run_.hasResult))
            StartRun(Road::Uninstall, false);
        run_.lastLine = lineNumber_;
        run_.stage = STAGE_UNINSTALL;
        if (run_.folder.empty()) run_.folder = line.substr(std::strlen("Uninstall modulefile: "));
        return true;
    }
    bool rescanLine = Starts(line, "CM_Locate_DevNode_Ex error: ") || Starts(line, "CM_Reenumerate_DevNode_Ex error: ");
    if (rescanLine &&
        !(open_ && run_.stage == STAGE_DONE && (run_.road == Road::Install || run_.road == Road::Upgrade)))
        StartRun(Road::RescanExport, false);

    // Any other line: of the run that is open, else of a run whose start the log lacks.
    bool known = true;
    bool startsRunless = !open_;
    if (startsRunless) {
        StartRun(Road::Unknown, false);
        run_.startsBeforeLog = true;
    }
    LogRun& r = run_;
    r.lastLine = lineNumber_;

    if (rescanLine) {
        NumberAfterLast(line, "error: ", &number);
        r.rescanFailed = true;
        AddError(line, number, CONFIGRET, "rescan");
    } else if (Starts(line, "__IsWow64Process error: ")) {
        NumberAfterLast(line, "error: ", &number);
        AddError(line, number, WIN32, "");
    } else if (Starts(line, "_Wow64DisableWow64FsRedirection: ")) {
        NumberAfterLast(line, " ", &number);
        r.redirectionDisable = static_cast<int>(number);
        r.windows = Bits::Bits64;
        r.library = Bits::Bits32;
    } else if (Starts(line, "IPROPNAME_CUSTOMACTIONDATA data ")) {
        if (!r.session && !startsRunless) Mix("a custom action's frame line without its WOW64 line before it");
        r.session = true;
        size_t quote = line.find('"');
        if (quote != std::string::npos && line.size() > quote + 1)
            r.folder = line.substr(quote + 1, line.size() - quote - 1 - (Ends(line, "\"") ? 1 : 0));
    } else if (line == "Install ...") {
        if (r.road != Road::Unknown && r.road != Road::IsWow64Export)
            Mix("\"Install ...\" inside a run of another road");
        r.road = Road::Install;
    } else if (line == "Uninstall ...") {
        if (r.road != Road::Unknown && r.road != Road::IsWow64Export)
            Mix("\"Uninstall ...\" inside a run of another road");
        r.road = Road::Uninstall;
    } else if (Starts(line, "Install result: ") || Starts(line, "Uninstall result: ")) {
        bool install = line[0] == 'I';
        // A run whose first lines the log lacks is told by its result line what it was.
        if (r.startsBeforeLog && r.road == Road::Unknown) {
            r.session = true;
            r.road = install ? Road::Install : Road::Uninstall;
        }
        if (r.hasResult) Mix("a second result line");
        if (!r.session) Mix("a custom action's result line in a run without a session");
        if (r.road != (install ? Road::Install : Road::Uninstall)) Mix("the result line of another road");
        NumberAfterLast(line, ": ", &number);
        r.hasResult = true;
        r.result = static_cast<int>(static_cast<long>(static_cast<int32_t>(number)));
        r.frameClosing = true;
    } else if (line == "Uninstall abort... ") {
        if (r.road != Road::Uninstall) Mix("an uninstall's abort inside a run of another road");
        r.aborted = true;
        r.hasResult = true;
        r.result = 2;
        r.frameClosing = true;
    } else if (Starts(line, "_Wow64RevertWow64FsRedirection: ")) {
        Mix("a revert line without its run's result line");
        r.redirectionReverted = true;
    } else if (line == "Remove Device ...") {
        ++r.removalPasses;
    } else if (Starts(line, "Module filename: ")) {
        r.stage = STAGE_MODULE;
        if (r.folder.empty()) r.folder = line.substr(std::strlen("Module filename: "));
    } else if (Starts(line, "infFile: ")) {
        if (r.stage == STAGE_MODULE) {
            r.stage = STAGE_INF;
            r.inf = line.substr(std::strlen("infFile: "));
        }
    } else if (Starts(line, "INF: ")) {
        if (r.stage == STAGE_SEARCH_INF) r.stage = STAGE_UNINSTALL_CLASS;
        if (r.inf.empty()) r.inf = line.substr(std::strlen("INF: "));
    } else if (Starts(line, "SearchINF: ")) {
        r.stage = STAGE_SEARCH_INF;
    } else if (Starts(line, " ") && line.find(" ClassGuid: {") != std::string::npos) {
        if (r.classGuid.empty()) r.classGuid = line.substr(line.find(" ClassGuid: ") + std::strlen(" ClassGuid: "));
        if (r.stage == STAGE_SEARCH_INF) r.stage = STAGE_UNINSTALL_CLASS;
    } else if (Starts(line, "CLSIDFromString error: ")) {
        NumberAfterLast(line, "error: ", &number);
        AddError(line, number, HRESULT_FAMILY, "");
        if (!r.session) {
            r.stage = STAGE_DONE;
            r.result = 2;
            r.resultWhy = "the class GUID did not parse";
        }
    } else if (line == "Install RemoveDevices ..." || line == "Install DeleteDriverPackages..." ||
               line == "RemoveDevices again..." || line == "DeleteDriverPackages..." || line == "update device..." ||
               Starts(line, "search oeminf: ") || line == "DeleteDriverPackage finish" ||
               Starts(line, "remove devices: {") || Starts(line, "add package: ")) {
    } else if (Starts(line, "remove device count: ") || Starts(line, "SetupDiEnumDeviceInfo {")) {
        // The enumeration's end: ERROR_NO_MORE_ITEMS (259) is the normal one.
        if (NumberAfterLast(line, "error: ", &number) && number != 259) AddError(line, number, WIN32, "");
    } else if (Starts(line, "remove device: ")) {
        std::string device = line.substr(std::strlen("remove device: "));
        (r.pendingRemovalFailed ? r.removalFailed : r.removed).Add(device, true);
        r.pendingRemovalFailed = false;
    } else if (Starts(line, "remove error: ")) {
        NumberAfterLast(line, "error: ", &number);
        r.pendingRemovalFailed = true;
        AddError(line, number, WIN32, "");
    } else if (Starts(line, "remove device ")) {
        r.pendingRemovalFailed = false;
    } else if (Starts(line, "SetupDiGetClassDevsEx error: ") || Starts(line, "SetupDiGetClasDevsEx {") ||
               Starts(line, "GetWindowsDir error: ") || Starts(line, "GetFullPathName (") ||
               Starts(line, "SetupCopyOEMInf (")) {
        NumberAfterLast(line, "error: ", &number);
        AddError(line, number, WIN32, "");
    } else if (Starts(line, "DeleteDriverPackage (")) {
        std::string inf = Parenthesised(line);
        if (Ends(line, ") ok")) {
            r.storeRemoved.Add(inf);
        } else {
            r.storeFailed.Add(inf);
            NumberAfterLast(line, "error: ", &number);
            AddError(line, number, WIN32, "");
        }
    } else if (Starts(line, "Delete File ")) {
        // A store file that is not found was taken away by the store's own uninstall before.
        if (NumberAfterLast(line, ": ", &number) && number != 0 && number != 2) AddError(line, number, WIN32, "file");
    } else if (Starts(line, "SearchSYS: ")) {
        if (r.stage == STAGE_UNINSTALL || r.stage == STAGE_UNINSTALL_CLASS) r.stage = STAGE_DONE;
    } else if (Starts(line, "delete driver file ") || Starts(line, "delete wow64 driver file ")) {
        bool wow64 = line[7] == 'w';
        if (wow64) r.windows = Bits::Bits64;
        r.driverFileLine = true;
        std::string path = PathBeforeNumber(line, wow64 ? "delete wow64 driver file " : "delete driver file ");
        NumberAfterLast(line, ": ", &number);
        if (number == 0)
            r.binariesDeleted.Add(path);
        else if (number == 2 || number == 3)
            r.binariesMissing.Add(path);
        else
            r.binariesFailed.Add(path);
        if (number != 0) AddError(line, number, WIN32, "file");
    } else if (Starts(line, "AddDriverPackage(")) {
        NumberAfterLast(line, "error: ", &number);
        AddError(line, number, WIN32, "");
        r.stage = STAGE_DONE;
        r.result = 2;
        r.resultWhy = "the INF could not be staged";
    } else if (Starts(line, "update (")) {
        std::string rest = line.substr(line.find(')') + 1);
        if (Starts(rest, " ok: ")) {
            std::string id = rest.substr(5);
            bool reboot = Ends(id, "(1)");
            size_t paren = id.rfind('(');
            if (paren != std::string::npos) id.erase(paren);
            r.updated.Add(id);
            if (reboot) {
                r.rebootDevices.Add(id);
                r.rebootRequired = true;
            }
        } else {
            size_t errorAt = rest.rfind(" error: ");
            r.updateFailed.Add(errorAt == std::string::npos ? rest : rest.substr(1, errorAt - 1));
            NumberAfterLast(line, "error: ", &number);
            AddError(line, number, WIN32, "");
        }
    } else if (line == "get hwIDs error...") {
        r.updateFailed.Add("(a device whose hardware IDs could not be read)");
    } else if (line == "rescan devices...") {
        r.stage = STAGE_DONE;
    } else if (Starts(line, "UpdateDeviceDriver (")) {
        r.stage = STAGE_DONE;
        if (Ends(line, "reboot required...")) {
            r.rebootRequired = true;
        } else {
            NumberAfterLast(line, "error: ", &number);
            AddError(line, number, WIN32, "");
            r.result = 2;
            r.resultWhy = "the devices could not be updated";
        }
    } else if (Starts(line, "RemoveDevices (") && Ends(line, "reboot required...")) {
        r.rebootRequired = true;
        r.stage = STAGE_DONE;
    } else {
        known = false;
    }
    if (!known && startsRunless) {
        // Not a line of Drvmate: no run begins with it.
        open_ = false;
        --runs_;
    }
    return known;
}

int LogExplainer::ExitCode() const
{
    if (recognised_ == 0 || byteOrderMark_) return LOG_NOT_DRVMATE;
    if (anyMixed_) return LOG_RUNS_MIXED;
    if (anyStopped_ || cutInLine_) return LOG_RUN_STOPPED;
    if (problems_) return LOG_NOT_VALID;
    return LOG_VALID;
}

// ---------------------------------------------------------------------------------------
// What the results mean

std::string CustomActionOutcome(const LogRun& r)
{
    if (!r.hasResult) return std::string();
    char text[200];
    if (r.road == Road::IsWow64Export) return "_IsWow64System returned its flag (the log does not show it)";
    if (r.road == Road::RescanExport) return "_RescanDevices returned 0 (it always does)";
    if (!r.session) {
        if (r.road == Road::Upgrade) return "UpgradeDeviceDriver returned 0 (it always does); drvrun prints 0";
        std::snprintf(text, sizeof text, "%s with a null session returned %d, which drvrun prints unchanged",
                      r.road == Road::Install ? "InstallDeviceDriver" : "UninstallDeviceDriver", r.result);
        return text;
    }
    if (r.road == Road::Install) {
        if (r.result == 0) return "InstallDeviceDriver returned 0 (ERROR_SUCCESS)";
        if (r.result == 1) return "InstallDeviceDriver asked for a reboot at the end (MsiSetMode) and returned 0";
        return "InstallDeviceDriver returned 1603 (ERROR_INSTALL_FAILURE)";
    }
    if (r.aborted)
        return "UninstallDeviceDriver asked for a reboot at the end and returned 1641 (ERROR_SUCCESS_REBOOT_INITIATED)";
    return "UninstallDeviceDriver returned 0 (ERROR_SUCCESS), whatever the uninstall's result";
}

std::string MsiexecOutcome(const LogRun& r)
{
    if (!r.session || !r.hasResult) return std::string();
    if (r.road == Road::Install) {
        if (r.result == 0) return "0: success, unless a later action fails";
        if (r.result == 1) return "3010 (ERROR_SUCCESS_REBOOT_REQUIRED): installed, a restart is needed";
        return "1603 (ERROR_INSTALL_FAILURE): the installation fails and is rolled back (the rollback runs "
               "UninstallDeviceDriver: the next run of this log)";
    }
    if (r.aborted)
        return "1603 (ERROR_INSTALL_FAILURE): under a checked return the removal fails and is rolled back; the "
               "product stays";
    return "0: success, unless a later action fails";
}

std::vector<std::string> RunAdvice(const LogRun& r)
{
    std::vector<std::string> advice;
    if (r.library == Bits::Bits32 && r.windows == Bits::Bits64 && r.session)
        advice.push_back(
            "the 32-bit package ran on 64-bit Windows: it removes and updates no device there; install "
            "the x64 package");
    if (r.session && r.road == Road::Install && r.hasResult && r.result == 1)
        advice.push_back(
            "reboot at the end: with a user interface Windows Installer asks the user to restart when the "
            "installation ends; with /qn nobody is asked, msiexec ends with 3010 and the deployment tool "
            "must restart the machine");
    if (r.removalPasses > 1) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "a device removal needed a restart: the user was shown Error 25000 (Abort, Retry, Ignore) and "
                      "chose Retry %d time(s)",
                      r.removalPasses - 1);
        advice.push_back(text);
    }
    if (r.aborted)
        advice.push_back(
            "the user chose Abort at Error 25000: the removal stopped before any store package or binary "
            "went; Windows restarts at the end of the installation only if it completes");
    if (!r.session && r.rebootRequired)
        advice.push_back(
            "a device needs a restart before the change takes effect: drvrun printed result 1; restart "
            "Windows");
    return advice;
}

// ---------------------------------------------------------------------------------------
// Printing

namespace {

const char* BitsName(Bits bits)
{
    return bits == Bits::Bits32 ? "32-bit" : bits == Bits::Bits64 ? "64-bit" : "unknown";
}

std::string WindowsLine(const LogRun& r)
{
    std::string text = std::string(BitsName(r.windows)) + " Windows";
    if (r.library != Bits::Unknown) text += ", " + std::string(BitsName(r.library)) + " Drvmate.dll";
    if (r.library == Bits::Bits32 && r.windows == Bits::Bits64) text += " under WOW64";
    if (!r.session) return text + "; redirection not changed (no session)";
    if (r.redirectionDisable > 0) return text + "; file-system redirection off for the run";
    if (r.redirectionDisable == 0) return text + "; switching redirection off failed: it stayed on";
    if (r.library == Bits::Bits32 && r.windows == Bits::Bits64) return text + "; redirection stayed on";
    return text + "; no redirection (not under WOW64)";
}

void PrintListing(FILE* out, const char* indent, const char* label, const Listing& listing)
{
    if (listing.count == 0) return;
    std::fprintf(out, "%s%s: %zu", indent, label, listing.count);
    for (size_t i = 0; i < listing.names.size(); ++i)
        std::fprintf(out, "%s%s", i == 0 ? " (" : ", ",
                     listing.names[i].empty() ? "no ID logged" : listing.names[i].c_str());
    if (listing.count > listing.names.size()) std::fprintf(out, ", and %zu more", listing.count - listing.names.size());
    std::fprintf(out, "%s\n", listing.names.empty() ? "" : ")");
}

}  // namespace

void PrintRunText(const LogRun& r, FILE* out, const char* indent)
{
    std::fprintf(out, "%sRun %d, lines %ld-%ld: %s, %s\n", indent, r.number, r.firstLine, r.lastLine, RoadName(r.road),
                 r.road == Road::IsWow64Export || r.road == Road::RescanExport
                     ? "called directly"
                     : (r.session ? "with an installer session (a custom action)"
                                  : "without a session (drvrun, or a program next to the package)"));
    std::string in = std::string(indent) + "  ";
    const char* i = in.c_str();
    if (r.startsBeforeLog) std::fprintf(out, "%sits first lines are not in the log\n", i);
    std::fprintf(out, "%sWindows: %s\n", i, WindowsLine(r).c_str());
    if (!r.folder.empty()) std::fprintf(out, "%sfolder: %s\n", i, r.folder.c_str());
    if (!r.inf.empty()) std::fprintf(out, "%sINF: %s\n", i, r.inf.c_str());
    if (!r.classGuid.empty()) std::fprintf(out, "%sclass: %s\n", i, r.classGuid.c_str());
    PrintListing(out, i, "devices removed", r.removed);
    PrintListing(out, i, "devices not removed", r.removalFailed);
    PrintListing(out, i, "devices updated", r.updated);
    PrintListing(out, i, "devices not updated", r.updateFailed);
    PrintListing(out, i, "devices needing a reboot", r.rebootDevices);
    PrintListing(out, i, "store packages removed", r.storeRemoved);
    PrintListing(out, i, "store packages not uninstalled", r.storeFailed);
    PrintListing(out, i, "binaries deleted", r.binariesDeleted);
    PrintListing(out, i, "binaries missing", r.binariesMissing);
    PrintListing(out, i, "binaries not deleted", r.binariesFailed);
    if (r.stopped) std::fprintf(out, "%sSTOPPED: %s\n", i, r.stoppedWhy.c_str());
    if (r.mixed) std::fprintf(out, "%sMIXED: %s\n", i, r.mixedWhy.c_str());
    if (r.hasResult && r.road != Road::IsWow64Export && r.road != Road::RescanExport) {
        const char* meaning = r.aborted       ? "stopped by Abort at the retry prompt"
                              : r.result == 0 ? "done"
                              : r.result == 1 ? "done, a reboot is needed"
                                              : "failed";
        std::fprintf(out, "%sresult: %d, %s%s%s\n", i, r.result, meaning, r.resultWhy.empty() ? "" : "; ",
                     r.resultWhy.c_str());
    } else if (!r.hasResult && !r.stopped) {
        std::fprintf(out, "%sresult: not logged\n", i);
    }
    std::string ca = CustomActionOutcome(r), msi = MsiexecOutcome(r);
    if (!ca.empty()) std::fprintf(out, "%sreturned: %s\n", i, ca.c_str());
    if (!msi.empty()) std::fprintf(out, "%smsiexec: %s\n", i, msi.c_str());
    for (const std::string& advice : RunAdvice(r)) std::fprintf(out, "%sadvice: %s\n", i, advice.c_str());
    for (const ErrorLine& e : r.errors) {
        std::fprintf(out, "%sline %ld: %s\n", i, e.line, e.text.c_str());
        if (e.name.empty())
            std::fprintf(out, "%s  0x%08lX: no SDK header names this number\n", i, e.number);
        else
            std::fprintf(out, "%s  %s (0x%08lX, %lu): %s\n", i, e.name.c_str(), e.number, e.number, e.meaning.c_str());
        if (!e.advice.empty()) std::fprintf(out, "%s  advice: %s\n", i, e.advice.c_str());
    }
    if (r.moreErrors) std::fprintf(out, "%s... and %zu more lines with an error number\n", i, r.moreErrors);
}

void RunTextPrinter::TakeRun(const LogRun& run)
{
    PrintRunText(run, out_, "");
    std::fprintf(out_, "\n");
}

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

namespace {

void PrintJsonListing(FILE* out, const char* key, const Listing& listing)
{
    std::fprintf(out, ", %s: {\"count\": %zu, \"names\": [", JsonString(key).c_str(), listing.count);
    for (size_t i = 0; i < listing.names.size(); ++i)
        std::fprintf(out, "%s%s", i ? ", " : "", JsonString(listing.names[i]).c_str());
    std::fprintf(out, "]}");
}

}  // namespace

void PrintRunJson(const LogRun& r, FILE* out)
{
    std::fprintf(out, "{\"run\": %d, \"firstLine\": %ld, \"lastLine\": %ld, \"road\": %s, \"session\": %s", r.number,
                 r.firstLine, r.lastLine, JsonString(RoadName(r.road)).c_str(), r.session ? "true" : "false");
    std::fprintf(out, ", \"windows\": %s, \"library\": %s, \"redirectionOff\": %s",
                 JsonString(BitsName(r.windows)).c_str(), JsonString(BitsName(r.library)).c_str(),
                 r.redirectionDisable > 0 ? "true" : "false");
    std::fprintf(out, ", \"folder\": %s, \"inf\": %s, \"class\": %s", JsonString(r.folder).c_str(),
                 JsonString(r.inf).c_str(), JsonString(r.classGuid).c_str());
    PrintJsonListing(out, "devicesRemoved", r.removed);
    PrintJsonListing(out, "devicesNotRemoved", r.removalFailed);
    PrintJsonListing(out, "devicesUpdated", r.updated);
    PrintJsonListing(out, "devicesNotUpdated", r.updateFailed);
    PrintJsonListing(out, "devicesNeedingReboot", r.rebootDevices);
    PrintJsonListing(out, "storePackagesRemoved", r.storeRemoved);
    PrintJsonListing(out, "storePackagesNotUninstalled", r.storeFailed);
    PrintJsonListing(out, "binariesDeleted", r.binariesDeleted);
    PrintJsonListing(out, "binariesMissing", r.binariesMissing);
    PrintJsonListing(out, "binariesNotDeleted", r.binariesFailed);
    if (r.hasResult)
        std::fprintf(out, ", \"result\": %d", r.result);
    else
        std::fprintf(out, ", \"result\": null");
    std::fprintf(out, ", \"aborted\": %s, \"stopped\": %s, \"mixed\": %s", r.aborted ? "true" : "false",
                 r.stopped ? "true" : "false", r.mixed ? "true" : "false");
    std::fprintf(out, ", \"returned\": %s, \"msiexec\": %s", JsonString(CustomActionOutcome(r)).c_str(),
                 JsonString(MsiexecOutcome(r)).c_str());
    std::fprintf(out, ", \"advice\": [");
    std::vector<std::string> advice = RunAdvice(r);
    for (size_t i = 0; i < advice.size(); ++i) std::fprintf(out, "%s%s", i ? ", " : "", JsonString(advice[i]).c_str());
    std::fprintf(out, "], \"errors\": [");
    for (size_t i = 0; i < r.errors.size(); ++i) {
        const ErrorLine& e = r.errors[i];
        std::fprintf(out,
                     "%s{\"line\": %ld, \"text\": %s, \"number\": %lu, \"name\": %s, \"meaning\": %s, \"advice\": %s}",
                     i ? ", " : "", e.line, JsonString(e.text).c_str(), e.number, JsonString(e.name).c_str(),
                     JsonString(e.meaning).c_str(), JsonString(e.advice).c_str());
    }
    std::fprintf(out, "], \"moreErrors\": %zu}", r.moreErrors);
}

int ExplainInstallerLog(FILE* log, const char* name, FILE* out, FILE* err)
{
    RunTextPrinter printer(out);
    LogExplainer explainer(printer);
    LogDecoder decoder(explainer);
    std::vector<char> block(READ_BLOCK);
    size_t n;
    while ((n = std::fread(block.data(), 1, block.size(), log)) > 0) decoder.Feed(block.data(), n);
    decoder.Finish();
    explainer.Finish();

    int code = explainer.ExitCode();
    std::fprintf(out, "%s: %ld lines, %d runs\n", name, explainer.Lines(), explainer.Runs());
    if (explainer.ByteOrderMark())
        std::fprintf(err,
                     "%s: not a drvmate log: it starts with a byte-order mark (as a UTF-16 msiexec /l*v log "
                     "does; Drvmate writes none)\n",
                     name);
    else if (explainer.Lines() == 0)
        std::fprintf(err, "%s: not a drvmate log: it is empty\n", name);
    else if (explainer.RecognisedLines() == 0)
        std::fprintf(err,
                     "%s: not a drvmate log: none of its %ld lines is one that Drvmate writes (a drvmate.log is "
                     "UTF-16LE without byte-order mark)\n",
                     name, explainer.Lines());
    if (explainer.CutInLine())
        std::fprintf(err, "%s: the log ends inside a line: it was cut while being written\n", name);
    if (explainer.Problems())
        std::fprintf(err,
                     "%s: %zu places where the bytes are not a valid log; the first: %s (logread without "
                     "--explain lists them)\n",
                     name, explainer.Problems(), explainer.FirstProblem().c_str());
    if (code == LOG_RUNS_MIXED)
        std::fprintf(err, "%s: lines of different runs are mixed: two runs wrote into the log at once\n", name);
    if (code == LOG_RUN_STOPPED) std::fprintf(err, "%s: a run stopped before its end\n", name);
    return code;
}
