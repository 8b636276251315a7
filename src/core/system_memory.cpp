// Where the working buffers' memory comes from. A file of its own so that the unit
// tests can link a version that fails on demand in its place.
#include <cstdlib>

#include "core/core.h"

void *systemAllocate(std::size_t size) noexcept { return std::malloc(size); }
