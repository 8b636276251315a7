// The system allocation as the unit tests link it, in place of the module's: it
// fails on demand, so the paths that handle a failed allocation can be run.
#include <cstdlib>

#include "core/core.h"
#include "core/failing_system_memory.h"

int failAllocationsFrom = -1;
std::size_t failAllocationsOver = 0;

namespace {
int allocationCount = 0;
}  // namespace

void *systemAllocate(std::size_t size) noexcept {
    const int index = allocationCount++;
    if (failAllocationsFrom >= 0 && index >= failAllocationsFrom) return nullptr;
    if (failAllocationsOver > 0 && size > failAllocationsOver) return nullptr;
    return std::malloc(size);
}
