// Common ground of Svcsweep's host tests: a fresh machine whose current directory is
// C:\Work, the program run in-process with a command line, and the texts of its console and
// its log.
#pragma once

#include "fixture.h"
#include "startup.h"

#include <initializer_list>
#include <string>
#include <vector>

#include "svcsweep.h"
#include "winapi.h"

class CleanerTest : public MachineTest {
protected:
    static constexpr const char* Program = "C:\\Tools\\Svcsweep.exe";
    static constexpr const char* LogName = "__Svcsweep__LOG.log";
    // The machine's clock as local time in the line prefix.
    static constexpr const char* Stamp = "[2024-05-17 09:41:27] ";
    static constexpr const char* ServicesKey = "SYSTEM\\CurrentControlSet\\Services\\";

    void SetUp() override
    {
        MachineTest::SetUp();
        m().MakeFolder(u"C:\\Work");
        m().currentDirectory = u"C:\\Work";
    }

    void CreateLog() { m().WriteFile(LogPath(), ""); }
    static std::u16string LogPath() { return u"C:\\Work\\__Svcsweep__LOG.log"; }
    std::string LogFile() const { return machine->ReadFile(LogPath()); }

    // Runs the program as `program` with these arguments (UTF-8), each quoted on the command
    // line where it needs to be; expects the exit code 0.
    void Run(std::vector<std::string> arguments = {}, const char* program = Program)
    {
        std::u16string line = host::U16(program);
        if (line.find_first_of(u" \t") != std::u16string::npos) line = u"\"" + line + u"\"";
        for (const auto& argument : arguments) line += u" " + Quoted(host::U16(argument));
        RunCommandLine(line);
    }
    // Runs the program started with this command line; expects the exit code 0. main() gets
    // the narrow arguments the runtime makes of it: each in the ANSI code page, best fit.
    void RunCommandLine(const std::u16string& line)
    {
        host::CurrentMachine().commandLine = line;
        narrowArguments.clear();
        for (const auto& argument : host::SplitCommandLine(line))
            narrowArguments.push_back(host::BestFitAnsi(argument));
        std::vector<std::string> texts = narrowArguments;
        std::vector<char*> argv;
        for (auto& text : texts) argv.push_back(&text[0]);
        argv.push_back(nullptr);
        EXPECT_EQ(RunSvcsweep(static_cast<int>(texts.size()), argv.data()), 0);
    }
    // An argument as a command line holds it: in quotes when it is empty or has blanks or
    // quotes, with the backslashes before a quote or the closing quote doubled.
    static std::u16string Quoted(const std::u16string& argument)
    {
        if (!argument.empty() && argument.find_first_of(u" \t\"") == std::u16string::npos) return argument;
        std::u16string out = u"\"";
        size_t backslashes = 0;
        for (char16_t c : argument) {
            if (c == u'\\') {
                ++backslashes;
                continue;
            }
            out.append(c == u'"' ? 2 * backslashes + 1 : backslashes, u'\\');
            backslashes = 0;
            out.push_back(c);
        }
        out.append(2 * backslashes, u'\\');
        return out + u"\"";
    }
    // The narrow argument vector main() got in the last run.
    std::vector<std::string> narrowArguments;

    static std::string Out() { return host::CurrentMachine().console.out; }
    static std::string Err() { return host::CurrentMachine().console.err; }

    // What the banner and the usage line print, before any step line.
    static std::string Banner(const std::string& program = Program)
    {
        return "Svcsweep\nversion: 1.0.001\nsupport@tesmar.example\n\n\nUsage: " + program + " [servicename]\n\n";
    }
    // The lines every run logs first (the machine is Windows 10.0.19045).
    static std::vector<std::string> Header(const std::string& version = "10.0.19045")
    {
        return {"Svcsweep\n", "version: 1.0.001\n", "support@tesmar.example\n", "OS version: " + version + "\n"};
    }
    // Lines as logged: each with the time prefix.
    static std::string Logged(const std::vector<std::string>& lines)
    {
        std::string text;
        for (const auto& line : lines) text += Stamp + line;
        return text;
    }
    static std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b)
    {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }
    // Text as a text-mode stream stores it: every newline as carriage return and line feed.
    static std::string Crlf(const std::string& text)
    {
        std::string out;
        for (char c : text) {
            if (c == '\n') out.push_back('\r');
            out.push_back(c);
        }
        return out;
    }
    // The steps of the key deletion when the key is missing.
    static std::vector<std::string> MissingKeySteps(const std::string& name)
    {
        std::string key = ServicesKey + name;
        return {"Prepare clean the register for the service: " + name + "\n",
                " failed to open the service-key: " + key + ", error = 2\n",
                "RegDeleteKey could not delete the service-key : " + key + " error = 2\n",
                "SHDeleteKey could not delete the service-key : " + key + " error = 2\n"};
    }
    // Expects the log file and the console to hold exactly these step lines after the header.
    void ExpectLogged(const std::vector<std::string>& steps)
    {
        std::string logged = Logged(Join(Header(), steps));
        EXPECT_EQ(Out(), Banner() + logged);
        EXPECT_EQ(LogFile(), Crlf(logged));
    }
    // Every test ends with this check (MachineTest::TearDown); a test may also make it
    // halfway.
    void ExpectNoHandlesLeft() const { ExpectBalanced(); }
};
