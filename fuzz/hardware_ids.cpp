// A device's hardware-ID list from any property bytes, size and registry type.
//
// Input: the registry type (REG_MULTI_SZ for most values of the first byte, else the byte
// itself), a byte that lets the first N allocations succeed (N = byte - 1; 0 lets every one
// succeed), a flags byte (1: the whole driver update runs on the device), the property's
// size in bytes (two bytes, low first, up to 20000), then the bytes that fill it, repeated.
//
// Oracles: the list holds exactly the strings of the data cut at size / 2 characters and
// closed by two terminators, up to the first empty string, each pointing into the buffer
// kept one slot before the list; a property larger than the first read's 8192 bytes is read
// again only as REG_MULTI_SZ, into exactly size / 2 + 2 characters; a failed allocation
// gives no list; the driver update offers the first string as the hardware ID, and a list
// without strings offers none; every block is released and the device set destroyed.
#include <string>
#include <vector>

#include "devices.h"
#include "harness.h"
#include "heap.h"
#include "installer.h"

namespace {

const size_t LARGEST_PROPERTY = 20000;
const DWORD FIRST_READ_BYTES = 8192;
const uint8_t OTHER_TYPES_FROM = 0xF0;
enum Flags { RUN_UPDATE = 1 };

const WCHAR InfPath[] = W("C:\\Driver\\fuzz.inf");

std::vector<std::u16string> Strings(const std::string& bytes)
{
    std::u16string units;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                              (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    units.push_back(0);
    units.push_back(0);
    std::vector<std::u16string> strings;
    for (size_t at = 0; units[at]; at += strings.back().size() + 1) strings.push_back(units.c_str() + at);
    return strings;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input input(data, size);
    host::Machine& m = FreshMachine();
    uint8_t typeByte = input.Byte();
    DWORD type = typeByte >= OTHER_TYPES_FROM ? typeByte - OTHER_TYPES_FROM : REG_MULTI_SZ;
    int allocations = static_cast<int>(input.Byte()) - 1;
    uint8_t flags = input.Byte();
    size_t length = input.Byte();
    length |= static_cast<size_t>(input.Byte()) << 8;
    if (length > LARGEST_PROPERTY) length %= LARGEST_PROPERTY;
    std::string fill;
    while (!input.AtEnd()) fill.push_back(static_cast<char>(input.Byte()));
    std::string bytes;
    for (size_t i = 0; i < length; ++i) bytes.push_back(fill.empty() ? 0 : fill[i % fill.size()]);

    host::CurrentMachine().devices.Add(DeviceClass).Property(SPDRP_HARDWAREID, type, bytes);
    std::vector<std::u16string> expected = Strings(bytes);
    bool readAgain = length > FIRST_READ_BYTES;
    bool listExpected = !readAgain || type == REG_MULTI_SZ;
    int needed = (readAgain && listExpected ? 2 : 1) + (listExpected ? 1 : 0);
    if (allocations >= 0) {
        host::CurrentMachine().heap.FailAfter(allocations);
        if (allocations < needed) listExpected = false;
    }

    DeviceDriverInstaller installer;
    if (flags & RUN_UPDATE) {
        m.WriteFile(InfPath, InfOfClass(DeviceClass));
        int result = installer.UpdateDeviceDriver(InfPath);
        EXPECT_ORACLE(result == 0, "the update of one device fails the call");
        const auto& updates = host::CurrentMachine().devices.updates;
        if (listExpected && !expected.empty()) {
            EXPECT_ORACLE(updates.size() == 1 && updates[0].hardwareId == expected[0], "the first hardware ID offered");
        } else {
            EXPECT_ORACLE(updates.empty(), "an update without a hardware ID");
        }
        ExpectNothingHeld("UpdateDeviceDriver");
        return 0;
    }

    HDEVINFO devices = SetupDiGetClassDevsExW(&DeviceClass, nullptr, nullptr, DIGCF_PRESENT, nullptr, nullptr, nullptr);
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    EXPECT_ORACLE(devices != INVALID_HANDLE_VALUE && SetupDiEnumDeviceInfo(devices, 0, &device), "the device");
    WCHAR** list = installer.GetHardwareIds(devices, &device, SPDRP_HARDWAREID);
    const std::vector<size_t>& sizes = host::CurrentMachine().heap.sizes;
    EXPECT_ORACLE(!sizes.empty() || allocations == 0, "no buffer asked for");
    if (!sizes.empty()) EXPECT_ORACLE(sizes[0] == FIRST_READ_BYTES + 2 * sizeof(WCHAR), "the first buffer's size");
    if (readAgain && type == REG_MULTI_SZ && sizes.size() > 1)
        EXPECT_ORACLE(sizes[1] == (length / 2 + 2) * sizeof(WCHAR), "the second buffer's size");
    EXPECT_ORACLE((list != nullptr) == listExpected, "a list given or refused wrongly");
    if (list) {
        const WCHAR* buffer = reinterpret_cast<const WCHAR*>(list[-1]);
        size_t bufferChars = host::CurrentMachine().heap.SizeOf(buffer) / sizeof(WCHAR);
        EXPECT_ORACLE(bufferChars > 0, "the list does not keep its buffer");
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_ORACLE(list[i] != nullptr, "a string missing from the list");
            EXPECT_ORACLE(list[i] >= buffer && list[i] < buffer + bufferChars, "a string outside the buffer");
            EXPECT_ORACLE(std::u16string(list[i]) == expected[i], "a string of the list");
        }
        EXPECT_ORACLE(list[expected.size()] == nullptr, "the list does not end after its strings");
    }
    installer.FreeMultiSzList(list);
    SetupDiDestroyDeviceInfoList(devices);
    ExpectNothingHeld("GetHardwareIds");
    return 0;
}
