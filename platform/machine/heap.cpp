#include "heap.h"

#include <cstdlib>

namespace host {

ProcessHeap::~ProcessHeap()
{
    for (auto& block : blocks) std::free(const_cast<void*>(block.first));
}

size_t ProcessHeap::SizeOf(const void* block) const
{
    auto it = blocks.find(block);
    return it == blocks.end() ? 0 : it->second;
}

}  // namespace host
