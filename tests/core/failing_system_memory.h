// Makes the tests' system allocation fail on demand.
#pragma once

/// When >= 0, the allocation with this index (0-based, counted across calls) and
/// every later one fail. -1 (the default) never fails.
extern int failAllocationsFrom;
