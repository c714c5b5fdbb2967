// The process heap of the simulated machine: every block HeapAlloc gave out and HeapFree has
// not taken back, so that tests can see how much memory an operation holds and when.
#pragma once

#include <cstddef>
#include <map>
#include <vector>

namespace host {

struct ProcessHeap {
    ProcessHeap() = default;
    ProcessHeap(const ProcessHeap&) = delete;
    ProcessHeap& operator=(const ProcessHeap&) = delete;
    ~ProcessHeap();  // frees what the process left behind

    std::map<const void*, size_t> blocks;  // live blocks and their sizes
    size_t peakBlocks = 0;                 // most blocks alive at one time
    int allocations = 0;                   // successful HeapAlloc calls
    int badFrees = 0;                      // HeapFree calls on a block that is not live
    std::vector<size_t> sizes;             // the size of every successful HeapAlloc, in order
    int succeedBeforeFailing = -1;         // allocations that still succeed; -1: no limit

    // Lets `count` more allocations succeed and fails every later one.
    void FailAfter(int count) { succeedBeforeFailing = count; }

    size_t LiveBlocks() const { return blocks.size(); }
    // Size of the live block at `block`, or 0.
    size_t SizeOf(const void* block) const;
};

}  // namespace host
