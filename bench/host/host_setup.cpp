// The benchmarks' machine, set up through the host layer's machine interface. This is the
// one file that names it.
#include "host_setup.h"

#include <algorithm>
#include <map>

#include "devices.h"
#include "heap.h"
#include "layer.h"
#include "log.h"
#include "machine.h"
#include "setupapi.h"

namespace bench {

namespace {

// {F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}, the package's class.
const GUID PackageClass = {0xF72FE0D4, 0xCBCB, 0x407d, {0x88, 0x14, 0x9E, 0xD6, 0x73, 0xD0, 0xDD, 0x6B}};
const char PackageClassText[] = "{F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}";
const char OtherClassText[] = "{4d36e978-e325-11ce-bfc1-08002be10318}";

const std::u16string LogPath = u"C:\\Temp\\drvmate.log";
const char16_t PackageInfPath[] = u"C:\\pkg\\tesmar.inf";
// The drive of the first store's Windows installation; each further store gets the next one.
const char16_t FIRST_STORE_DRIVE = u'C';
// The product ID of the first device; each further device gets the next one.
const int FIRST_PRODUCT_ID = 1000;

// A driver package's INF as vendors write them: version, models, install and file sections.
std::string Inf(const std::string& classGuid, const std::string& className, const std::string& hardwareId)
{
    return "; " + className +
           " driver package\r\n"
           "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=" +
           className + "\r\nClassGUID=" + classGuid +
           "\r\nProvider=%Vendor%\r\nDriverVer=01/01/2024,1.0.0.0\r\n\r\n"
           "[Manufacturer]\r\n%Vendor%=Models,NTamd64\r\n\r\n"
           "[Models.NTamd64]\r\n%Device%=Install," +
           hardwareId +
           "\r\n\r\n"
           "[Install]\r\nCopyFiles=Files\r\n\r\n[Files]\r\ndevice.sys\r\n\r\n"
           "[DestinationDirs]\r\nDefaultDestDir=12\r\n\r\n"
           "[SourceDisksNames]\r\n1=%Disk%\r\n\r\n[SourceDisksFiles]\r\ndevice.sys=1\r\n\r\n"
           "[Strings]\r\nVendor=\"Vendor\"\r\nDevice=\"Device\"\r\nDisk=\"Driver disk\"\r\n";
}

typedef BOOL(WINAPI* UpdateDriverFunction)(HWND, LPCWSTR, LPCWSTR, DWORD, PBOOL);

UpdateDriverFunction layerUpdate;
size_t bytesAtUpdates;

// The stores made on the current machine: INF count -> the drive of their Windows folder.
std::map<int, char16_t> storeDrives;
bool storesOnThisMachine = false;

size_t LiveBytes()
{
    size_t bytes = 0;
    for (const auto& block : host::CurrentMachine().heap.blocks) bytes += block.second;
    return bytes;
}

// Notes the bytes alive, then updates as the layer does.
BOOL WINAPI WatchedUpdate(HWND parent, LPCWSTR hardwareId, LPCWSTR infPath, DWORD flags, PBOOL reboot)
{
    bytesAtUpdates = std::max(bytesAtUpdates, LiveBytes());
    return layerUpdate(parent, hardwareId, infPath, flags, reboot);
}

}  // namespace

void FreshMachine()
{
    host::ResetMachine();
    ForgetLogPath();
    storeDrives.clear();
    storesOnThisMachine = false;
    bytesAtUpdates = 0;
}

void UseStore(int count)
{
    if (!storesOnThisMachine) {
        FreshMachine();
        storesOnThisMachine = true;
    }
    host::Machine& machine = host::CurrentMachine();
    auto known = storeDrives.find(count);
    bool made = known != storeDrives.end();
    char16_t drive = made ? known->second : static_cast<char16_t>(FIRST_STORE_DRIVE + storeDrives.size());
    std::u16string windows = std::u16string(1, drive) + u":\\Windows";
    machine.InstallWindowsAt(windows);
    if (made) return;
    storeDrives[count] = drive;
    for (int i = 0; i < count; ++i) {
        std::string number = std::to_string(i);
        machine.WriteFile(windows + u"\\inf\\oem" + host::U16(number) + u".inf",
                          Inf(OtherClassText, "Ports", "ROOT\\VENDOR_PORT_" + number));
    }
}

void PutPackageInf()
{
    host::CurrentMachine().WriteFile(PackageInfPath, Inf(PackageClassText, "TesmarUsb", "USB\\VID_1234&PID_0001"));
}

const char16_t* PackageInf() { return PackageInfPath; }

void PutDevices(int count)
{
    host::CurrentMachine().devices.devices.clear();
    for (int i = 0; i < count; ++i) {
        std::u16string id = u"USB\\VID_1234&PID_" + host::U16(std::to_string(FIRST_PRODUCT_ID + i));
        host::CurrentMachine().devices.Add(PackageClass).HardwareIds({id + u"&REV_0100", id});
    }
}

size_t LogBytes()
{
    host::Machine& machine = host::CurrentMachine();
    return machine.Exists(LogPath) ? machine.ReadFile(LogPath).size() : 0;
}

int LogCount(const char* text)
{
    host::Machine& machine = host::CurrentMachine();
    if (!machine.Exists(LogPath)) return 0;
    std::string log = machine.ReadFile(LogPath), units;
    for (const char* c = text; *c; ++c) units += std::string{*c, 0};
    int count = 0;
    for (size_t at = log.find(units); at != std::string::npos; at = log.find(units, at + units.size())) ++count;
    return count;
}

void RemoveLog() { host::CurrentMachine().Remove(LogPath); }

void WatchHeap()
{
    host::CurrentMachine().heap.peakBlocks = host::CurrentMachine().heap.LiveBlocks();
    bytesAtUpdates = 0;
    FARPROC& update = host::CurrentMachine().modules[u"newdev.dll"].exports["UpdateDriverForPlugAndPlayDevicesW"];
    if (update == reinterpret_cast<FARPROC>(&WatchedUpdate)) return;
    layerUpdate = reinterpret_cast<UpdateDriverFunction>(
        update ? update : host::LayerFunction("UpdateDriverForPlugAndPlayDevicesW"));
    update = reinterpret_cast<FARPROC>(&WatchedUpdate);
}

HeapUse HeapSoFar()
{
    HeapUse use;
    use.peakBlocks = host::CurrentMachine().heap.peakBlocks;
    use.peakBytes = bytesAtUpdates;
    use.liveBlocks = host::CurrentMachine().heap.LiveBlocks();
    use.liveBytes = LiveBytes();
    return use;
}

}  // namespace bench
