// The process heap over the host's allocator, with bookkeeping of every live block.
#include "heap.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "kernel32.h"
#include "machine.h"

namespace host {

namespace {

ProcessHeap& State()
{
    static ProcessHeap heap;
    return heap;
}

void FreeAll(Machine&)
{
    for (auto& block : State().blocks) std::free(const_cast<void*>(block.first));
    State() = ProcessHeap();
}

const bool registered = (Machine::OnReset(FreeAll), true);

// The one heap handle the machine hands out.
int processHeapTag;

}  // namespace

ProcessHeap& Heap()
{
    (void)registered;
    return State();
}

size_t ProcessHeap::SizeOf(const void* block) const
{
    auto it = blocks.find(block);
    return it == blocks.end() ? 0 : it->second;
}

}  // namespace host

HANDLE WINAPI GetProcessHeap() { return &host::processHeapTag; }

LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes)
{
    if (host::CurrentMachine().Enter("HeapAlloc")) return nullptr;
    if (heap != GetProcessHeap()) return nullptr;
    host::ProcessHeap& state = host::Heap();
    if (state.succeedBeforeFailing == 0) return nullptr;
    if (state.succeedBeforeFailing > 0) --state.succeedBeforeFailing;
    void* block = std::malloc(bytes ? bytes : 1);
    if (!block) return nullptr;
    if (flags & HEAP_ZERO_MEMORY) std::memset(block, 0, bytes);
    state.blocks[block] = bytes;
    state.sizes.push_back(bytes);
    state.peakBlocks = std::max(state.peakBlocks, state.blocks.size());
    ++state.allocations;
    return block;
}

BOOL WINAPI HeapFree(HANDLE heap, DWORD flags, LPVOID block)
{
    (void)flags;
    host::CurrentMachine().Enter("HeapFree");
    if (!block) return TRUE;
    host::ProcessHeap& state = host::Heap();
    auto it = state.blocks.find(block);
    if (heap != GetProcessHeap() || it == state.blocks.end()) {
        ++state.badFrees;
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    state.blocks.erase(it);
    std::free(block);
    return TRUE;
}
