// The process heap over the host's allocator, with bookkeeping of every live block.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "kernel32.h"
#include "layer.h"

namespace host {

namespace {
// The one heap handle the machine hands out.
int processHeapTag;
}  // namespace

}  // namespace host

HANDLE WINAPI GetProcessHeap() { return &host::processHeapTag; }

LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes)
{
    LAYER_ENTER_QUIET(nullptr);
    if (heap != GetProcessHeap()) return nullptr;
    host::ProcessHeap& state = host::CurrentMachine().heap;
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
    DWORD code;
    bool fails = host::CurrentMachine().Enter(__func__, &code);
    if (!block) return TRUE;
    host::ProcessHeap& state = host::CurrentMachine().heap;
    auto it = state.blocks.find(block);
    if (heap != GetProcessHeap() || it == state.blocks.end()) {
        ++state.badFrees;
        return host::WithLastError(ERROR_INVALID_PARAMETER, FALSE);
    }
    // A failure the test injected still frees the block: the caller cannot retry.
    state.blocks.erase(it);
    std::free(block);
    if (fails) return host::WithLastError(code, FALSE);
    return TRUE;
}
