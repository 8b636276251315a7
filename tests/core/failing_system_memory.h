// Makes the tests' system allocation fail on demand.
#pragma once

/// When >= 0, the allocation with this index (0-based, counted across calls) and
/// every later one fail. -1 (the default) never fails.
extern int failAllocationsFrom;

#include <cstddef>
/// When not 0, every allocation of more bytes fails: an address space with no free
/// run that long. 0 (the default) never fails.
extern std::size_t failAllocationsOver;
