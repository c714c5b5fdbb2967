// The grammar of the whole installer log and of the whole cleaner log: the frame, each road,
// each step's lines, in the orders the products may write them. A log is read against it
// line by line; a log that ends early (the process was killed) must be a prefix of a log
// the grammar holds.
#include "faults.h"

#include <regex>

namespace faults {
namespace {

// Thrown when a log that may end early has ended: what was read so far is sound.
struct LogEnded {};

// A pointer: eight hexadecimal digits in a 32-bit process, sixteen in a 64-bit one.
const std::string Hex8 = "(?:[0-9A-F]{8}|[0-9A-F]{16})";
const std::string Int = "-?[0-9]+";
const std::string ClassText = "\\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\}";

class Reader {
public:
    Reader(const std::vector<std::string>& lines, bool mayEndEarly) : lines_(lines), mayEndEarly_(mayEndEarly) {}

    bool AtEnd() const { return at_ >= lines_.size(); }
    // The next line matches the pattern; at the end of a log that may end early, the log
    // ended here.
    bool Next(const std::string& pattern, std::smatch* match = nullptr)
    {
        if (AtEnd()) {
            if (mayEndEarly_) throw LogEnded();
            return false;
        }
        std::smatch local;
        std::smatch& m = match ? *match : local;
        return std::regex_match(lines_[at_], m, Regex(pattern));
    }
    // Takes the next line if it matches.
    bool Take(const std::string& pattern, std::smatch* match = nullptr)
    {
        if (!Next(pattern, match)) return false;
        ++at_;
        return true;
    }
    // The next line must match.
    void Expect(const std::string& pattern, std::smatch* match = nullptr)
    {
        if (!Take(pattern, match))
            throw std::runtime_error("line " + std::to_string(at_ + 1) + ": expected /" + pattern + "/, found " +
                                     (AtEnd() ? "the end of the log" : "\"" + lines_[at_] + "\""));
    }
    // The log ends here (or, for one that may end early, anywhere before).
    void End()
    {
        if (!AtEnd())
            throw std::runtime_error("line " + std::to_string(at_ + 1) + ": no line may follow here, found \"" +
                                     lines_[at_] + "\"");
    }
    // The log may end here: true when it does.
    bool EndsHere() const { return AtEnd(); }

private:
    static const std::regex& Regex(const std::string& pattern)
    {
        static std::map<std::string, std::regex> compiled;
        auto it = compiled.find(pattern);
        if (it == compiled.end()) it = compiled.emplace(pattern, std::regex(pattern)).first;
        return it->second;
    }
    const std::vector<std::string>& lines_;
    bool mayEndEarly_;
    size_t at_ = 0;
};

std::string Quote(const std::string& text)
{
    return std::regex_replace(text, std::regex("[.^$|()\\[\\]{}*+?\\\\]"), "\\$&");
}

// The installer log. Each function reads one operation's lines and returns what they say of
// its result where the caller needs it.
class InstallerGrammar {
public:
    explicit InstallerGrammar(Reader& in) : in(in) {}

    // The frame's opening lines; true when redirection was switched off (a revert line may follow).
    bool FrameOpening()
    {
        in.Expect("IsWow64Process: " + Hex8);
        in.Take("__IsWow64Process error: " + Int);
        std::smatch m;
        bool disabled = false;
        if (in.Take("_Wow64DisableWow64FsRedirection: " + Hex8 + " (" + Int + ")", &m)) disabled = m[1] != "0";
        in.Expect("IPROPNAME_CUSTOMACTIONDATA data \\{F72FE0D4-CBCB-407d-8814-9ED673D0DD6B\\}  \".*\"");
        return disabled;
    }
    void FrameClosing(bool disabled)
    {
        if (disabled) in.Take("_Wow64RevertWow64FsRedirection: " + Hex8 + " [1-9-][0-9]*");
    }
    bool ClassLine() { return in.Take(" .* ClassGuid: " + ClassText); }

    void RemoveDevices()
    {
        in.Expect("remove devices: " + ClassText + " \\.\\.\\.");
        if (in.Take("SetupDiGetClassDevsEx error: " + Int + " ")) return;
        int devices = 0;
        std::smatch m;
        while (in.Take("remove device " + Int + "\\.\\.\\.")) {
            ++devices;
            bool error = in.Take("remove error: 0x[0-9a-f]{8}");
            if (!in.Take("remove device: .*") && error)
                throw std::runtime_error("\"remove error\" without its \"remove device:\" line");
        }
        in.Expect("remove device count: (" + Int + ") error: " + Int, &m);
        if (std::stoi(m[1]) != devices)
            throw std::runtime_error("\"remove device count: " + m[1].str() + "\" after " + std::to_string(devices) +
                                     " devices");
    }

    // 0 when the sweep ran (its result), 2 when it did not.
    int DeleteDriverPackages(bool infPath)
    {
        if (infPath && !ClassLine()) return 2;
        if (in.Take("GetWindowsDir error: " + Int)) return 2;
        // Given a GUID text that does not parse, the sweep writes nothing at all.
        if (!infPath && !in.Next("search oeminf: .*")) return 2;
        in.Expect("search oeminf: .*");
        while (in.Take("infFile: .*")) {
            if (!ClassLine()) continue;
            if (in.Take("DeleteDriverPackage \\(.*\\) (ok|error: " + Int + ")")) {
                in.Expect("Delete File .*: " + Int);
                in.Take("Delete File .*\\.PNF: " + Int);
            }
        }
        if (in.Take("DeleteDriverPackage error: " + Int)) return 2;
        in.Expect("DeleteDriverPackage finish");
        return 0;
    }

    void DeleteDriverFiles()
    {
        if (!in.Take("SearchSYS: .*")) return;
        while (in.Take("delete driver file .*: " + Int) || in.Take("delete wow64 driver file .*: " + Int)) {
        }
    }

    // UpdateDeviceDriver's lines: 0, 1 or 2.
    int UpdateDeviceDriver()
    {
        if (!ClassLine()) return 2;
        if (!in.Take("update device\\.\\.\\.")) return 0;
        if (in.Take("SetupDiGetClasDevsEx " + ClassText + " error: " + Int)) return 0;
        int devices = 0, reboot = 0;
        std::smatch m;
        for (;;) {
            if (in.Take("get hwIDs error\\.\\.\\.")) {
            } else if (in.Take("update \\(.*\\) ok: .*\\(([01])\\)", &m)) {
                if (m[1] == "1") reboot = 1;
            } else if (in.Take("update \\(.*\\) .* error: 0x[0-9a-f]{8}")) {
            } else {
                break;
            }
            ++devices;
        }
        in.Expect("SetupDiEnumDeviceInfo " + ClassText + " devcount:(" + Int + ") error: " + Int, &m);
        if (std::stoi(m[1]) != devices)
            throw std::runtime_error("\"devcount:" + m[1].str() + "\" after " + std::to_string(devices) + " devices");
        return reboot;
    }

    // InstallPackage: its result (0, 1 or 2).
    int InstallPackage(bool folder)
    {
        if (!folder) {
            in.Expect("Getting Module filename\\.\\.\\.");
            if (in.EndsHere() || in.Take("GetModuleFileName error: " + Int)) return End(2);
        }
        if (in.Take("package folder too long: .*")) return End(2);
        in.Expect("Module filename: .*");
        if (in.Take("not a package folder: .*") || in.Take("package folder too long: .*")) return End(2);
        if (!in.Take("infFile: .*")) return End(2);
        if (in.Take("INF path too long: .*")) return End(2);
        if (ClassLine()) {
            in.Expect("Install RemoveDevices \\.\\.\\.");
            RemoveDevices();
            in.Expect("Install DeleteDriverPackages\\.\\.\\.");
            DeleteDriverPackages(true);
        }
        DeleteDriverFiles();
        in.Expect("add package: .*");
        if (in.Take("GetFullPathName \\(.*\\) error: " + Int) || in.Take("SetupCopyOEMInf \\(.*\\) error: " + Int)) {
            in.Expect("AddDriverPackage\\(.*\\) error: " + Int);
            return End(2);
        }
        // A staged package whose update step failed before any line of its own.
        if (in.Take("AddDriverPackage\\(.*\\) error: " + Int)) return End(2);
        int update = UpdateDeviceDriver();
        if (update == 0) {
            in.Expect("rescan devices\\.\\.\\.");
            if (!in.Take("CM_Locate_DevNode_Ex error: " + Int)) in.Take("CM_Reenumerate_DevNode_Ex error: " + Int);
            return 0;
        }
        if (update == 1) {
            in.Expect("UpdateDeviceDriver \\(.*\\) reboot required\\.\\.\\.");
            return 1;
        }
        in.Expect("UpdateDeviceDriver \\(.*\\) error: " + Int);
        return 2;
    }

    // UninstallPackage: its result (0, 1 or 2).
    int UninstallPackage(bool classText, bool folder)
    {
        if (!folder && (in.EndsHere() || in.Take("GetModuleFileName error: " + Int))) return End(2);
        if (in.Take("package folder too long: .*")) return End(2);
        if (!folder && !in.Next("Uninstall modulefile: .*")) return End(2);
        in.Expect("Uninstall modulefile: .*");
        if (in.Take("not a package folder: .*")) return End(2);
        if (!classText) {
            in.Expect("SearchINF: .*");
            if (!in.Take("infFile: .*")) return End(2);
            in.Expect("INF: .*");
            if (!ClassLine()) return End(2);
        } else if (in.Take("CLSIDFromString error: 0x[0-9a-f]{8}\\.\\.\\.")) {
            return End(2);
        }
        in.Expect("RemoveDevices again\\.\\.\\.");
        RemoveDevices();
        in.Expect("DeleteDriverPackages\\.\\.\\.");
        DeleteDriverPackages(!classText);
        DeleteDriverFiles();
        if (in.Take("RemoveDevices \\(.*\\) reboot required\\.\\.\\.")) return 1;
        return 0;
    }

    // Marks where a road ends early: nothing of the operation follows.
    int End(int result) { return result; }

    Reader& in;
};

}  // namespace

LogReading ReadInstallerLog(Road road, bool session, const std::vector<std::string>& lines, bool mayEndEarly)
{
    LogReading reading;
    Reader in(lines, mayEndEarly);
    InstallerGrammar g(in);
    try {
        switch (road) {
        case Road::Install:
            if (!session) {
                reading.result = g.InstallPackage(false);
            } else {
                bool disabled = g.FrameOpening();
                in.Expect("Install \\.\\.\\.");
                int result = g.InstallPackage(true);
                std::smatch m;
                in.Expect("Install result: (" + Int + ")", &m);
                if (std::stoi(m[1]) != result)
                    throw std::runtime_error("\"Install result: " + m[1].str() + "\" after a road that gives " +
                                             std::to_string(result));
                g.FrameClosing(disabled);
                reading.result = result == 2 ? ERROR_INSTALL_FAILURE : ERROR_SUCCESS;
            }
            break;
        case Road::Uninstall:
            if (!session) {
                reading.result = g.UninstallPackage(true, false);
            } else {
                // A class text that does not parse ends the export before the frame, silently.
                if (in.EndsHere() && !mayEndEarly) {
                    reading.result = 2;
                    break;
                }
                bool disabled = g.FrameOpening();
                in.Expect("Uninstall \\.\\.\\.");
                reading.result = ERROR_SUCCESS;
                for (;;) {
                    in.Expect("Remove Device \\.\\.\\.");
                    g.RemoveDevices();
                    if (in.Next("Remove Device \\.\\.\\.")) continue;
                    if (in.Take("Uninstall abort\\.\\.\\. ")) {
                        reading.result = ERROR_SUCCESS_REBOOT_INITIATED;
                        break;
                    }
                    int result = g.UninstallPackage(true, true);
                    std::smatch m;
                    in.Expect("Uninstall result: (" + Int + ")", &m);
                    if (std::stoi(m[1]) != result)
                        throw std::runtime_error("\"Uninstall result: " + m[1].str() + "\" after a road that gives " +
                                                 std::to_string(result));
                    break;
                }
                g.FrameClosing(disabled);
            }
            break;
        case Road::Upgrade:
            g.UninstallPackage(false, false);
            g.InstallPackage(false);
            reading.result = ERROR_SUCCESS;
            break;
        case Road::Svcsweep: throw std::logic_error("not an installer road");
        }
        in.End();
        reading.complete = true;
    } catch (const LogEnded&) {
        reading.complete = false;
    } catch (const std::exception& e) {
        reading.problem = e.what();
    }
    return reading;
}

LogReading ReadCleanerLog(const std::string& service, const std::vector<std::string>& lines, bool mayEndEarly)
{
    // Each line: the local time in brackets and a blank, or a lone "[" when no time could be
    // formed, and the message.
    std::vector<std::string> messages;
    LogReading reading;
    for (const std::string& line : lines) {
        static const std::regex stamped("\\[[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\] (.*)");
        std::smatch m;
        if (std::regex_match(line, m, stamped))
            messages.push_back(m[1]);
        else if (!line.empty() && line[0] == '[')
            messages.push_back(line.substr(1));
        else {
            reading.problem = "a line without its time prefix: \"" + line + "\"";
            return reading;
        }
    }
    Reader in(messages, mayEndEarly);
    std::string name = Quote(service);
    std::string key = Quote("SYSTEM\\CurrentControlSet\\Services\\" + service);
    try {
        in.Expect("Svcsweep");
        in.Expect("version: 1\\.0\\.001");
        in.Expect("[^ ]+@[^ ]+");
        in.Expect("OS version: [0-9]+\\.[0-9]+\\.[0-9]+");
        // A name that cannot be taken is refused before anything is touched.
        if (in.Take(".*: nothing is deleted")) {
            in.End();
            reading.complete = true;
            reading.result = 0;
            return reading;
        }
        in.Expect("Prepare delete the service: " + name);
        if (!in.Take("The Service Control Manager could not be opened: " + Int) &&
            !in.Take("The " + name + " Service could not be opened: " + Int) &&
            !in.Take("Success to delete service " + name))
            in.Expect("The " + name + " Service could not be deleted: " + Int);
        in.Expect("Prepare clean the register for the service: " + name);
        in.Take(" failed to open the service-key: " + key + ", error = " + Int);
        if (!in.Take("RegDeleteKey success to delete service-key: " + key)) {
            in.Expect("RegDeleteKey could not delete the service-key : " + key + " error = " + Int);
            if (!in.Take("SHDeleteKey success to delete service-key: " + key))
                in.Expect("SHDeleteKey could not delete the service-key : " + key + " error = " + Int);
        }
        in.End();
        reading.complete = true;
        reading.result = 0;
    } catch (const LogEnded&) {
        reading.complete = false;
    } catch (const std::exception& e) {
        reading.problem = e.what();
    }
    return reading;
}

}  // namespace faults
