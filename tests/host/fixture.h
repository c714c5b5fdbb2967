// Common ground of the host tests: a fresh simulated machine and a freshly loaded library,
// and at the end of every test the balance of what it took from the machine.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "decode.h"
#include "heap.h"
#include "layer.h"
#include "log.h"
#include "machine.h"
#include "msi.h"

// A drvmate.log as Drvmate writes it: UTF-16LE, each line end stored as 0D 0A 00.
inline std::string DrvmateLogBytes(const std::string& text)
{
    std::string bytes;
    for (char c : text) {
        if (c == '\n') bytes += '\r';
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

// Everything written to a temporary stream, from its start.
inline std::string ReadBack(FILE* stream)
{
    std::string text;
    std::rewind(stream);
    char block[4096];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, stream)) > 0) text.append(block, n);
    return text;
}

class MachineTest : public ::testing::Test {
public:
    // The function a module's export hands out: a test's own, else the layer's.
    static FARPROC Exported(const std::u16string& module, const char* name)
    {
        FARPROC own = host::CurrentMachine().modules[module].exports[name];
        return own ? own : host::LayerFunction(name);
    }

    // A kernel32 export's address as the frame's lines print it.
    static std::string Kernel32Export(const char* name) { return Hex8(Exported(u"kernel32.dll", name)); }

    // A pointer as the log prints it: eight upper-case hexadecimal digits.
    static std::string Hex8(const void* p)
    {
        char text[16];
        std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)));
        return text;
    }
    static std::string Hex8(FARPROC p) { return Hex8(reinterpret_cast<const void*>(p)); }

protected:
    ~MachineTest() override
    {
        if (machine && !balanceChecked)
            ADD_FAILURE() << "the fixture's TearDown did not reach MachineTest::TearDown: the balance went unchecked";
    }

    void SetUp() override
    {
        // A test that sets the machine up again halfway has its first half checked here.
        if (machine) ExpectBalanced();
        machine = &host::ResetMachine();
        ForgetLogPath();
    }

    // A fixture that adds checks of its own overrides TearDown and calls this one last.
    void TearDown() override
    {
        ExpectBalanced();
        balanceChecked = true;
    }

    // Everything the test took from the machine was given back: every handle of every kind
    // (file searches, device information sets, streams, service manager and service handles,
    // registry keys, installer records), every library reference, every heap block; and
    // nothing was closed or freed that was not open.
    void ExpectBalanced() const
    {
        for (const auto& kind : machine->openHandles)
            EXPECT_EQ(kind.second, 0) << "\"" << kind.first << "\" handles left open (or closed too often)";
        for (const auto& module : machine->modules)
            EXPECT_EQ(module.second.references, 0) << host::U8(module.first) << " left loaded";
        EXPECT_EQ(host::CurrentMachine().heap.LiveBlocks(), 0u) << "heap blocks left behind";
        EXPECT_EQ(host::CurrentMachine().heap.badFrees, 0) << "a heap block freed that was not live";
        EXPECT_EQ(host::CurrentMachine().session.badCloses, 0) << "an installer handle closed that was not open";
        EXPECT_EQ(machine->invalidCloses, 0) << "a handle, descriptor or local block closed that was not open";
    }

    host::Machine& m() { return *machine; }

    static std::u16string LogPath() { return u"C:\\Temp\\drvmate.log"; }

    // The installer log's raw bytes, and its lines as text (the decoder must find it valid).
    std::string LogBytes() const { return machine->ReadFile(LogPath()); }
    std::string LogText() const
    {
        DecodedLog log = DecodeInstallerLog(LogBytes());
        EXPECT_TRUE(log.problems.empty()) << (log.problems.empty() ? "" : log.problems[0]);
        return log.text;
    }
    std::vector<std::string> LogLines() const
    {
        std::vector<std::string> lines;
        std::string text = LogText(), line;
        for (char c : text) {
            if (c == '\n') {
                lines.push_back(line);
                line.clear();
            } else
                line.push_back(c);
        }
        if (!line.empty()) lines.push_back(line);
        return lines;
    }

    host::Machine* machine = nullptr;

private:
    bool balanceChecked = false;
};

inline std::string Bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values) s.push_back(static_cast<char>(v));
    return s;
}
