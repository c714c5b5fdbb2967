// What the host benchmarks need from the simulated machine, and nothing else. Every use of
// the machine's own interface (machine.h, heap.h, devices.h) stays in host_setup.cpp, so
// that a change of that interface is answered there alone.
#pragma once

#include <cstddef>
#include <string>

namespace bench {

// A new default machine (Windows on C:, TEMP at C:\Temp, an empty store), and the library's
// log path forgotten, as a fresh load of the library would have it.
void FreshMachine();

// Makes the current Windows installation one whose store (the inf folder of its Windows
// directory) holds `count` INFs oem0.inf, oem1.inf, ..., each a real INF of another class
// than the package's, so that a sweep of the package's class reads every one of them and
// deletes none: the store stays the same from sweep to sweep. Each store size gets its own
// installation on its own drive, made at its first use on a machine (and a machine at the
// first use after FreshMachine), so that sweeps of different sizes can alternate.
void UseStore(int count);

// The package's INF at PackageInf(), of the package's class.
void PutPackageInf();
const char16_t* PackageInf();

// Exactly `count` present devices of the package's class, each with two hardware IDs of its
// own, as a USB device reports them (with and without its revision).
void PutDevices(int count);

// The installer log: its size in bytes (0 when there is none), how often an ASCII text
// stands in it, and its removal.
size_t LogBytes();
int LogCount(const char* text);
void RemoveLog();

// The process heap since WatchHeap: the most blocks alive at one time, and the most bytes
// alive while a device's driver update ran (the moment the device's hardware-ID list is
// held); and what is alive now.
struct HeapUse {
    size_t peakBlocks = 0;
    size_t peakBytes = 0;
    size_t liveBlocks = 0;
    size_t liveBytes = 0;
};
// Starts watching the bytes alive at each driver update of the current machine, and forgets
// the peaks so far.
void WatchHeap();
HeapUse HeapSoFar();

}  // namespace bench
