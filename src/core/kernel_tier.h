// The instruction-set tiers of the kernel tables.
#pragma once

/// Kernel tiers, lowest first. Every kernel family fills its table with the scalar
/// twins, then overrides it tier by tier up to the tier it is given, so capping the
/// tier forces any lower tier's kernels, all giving the same numbers. (No kernel
/// needs SSE3, though frames do: see kCpuLevelSse3.)
enum KernelTier : int { kTierScalar = 0, kTierSse2 = 1, kTierAvx2 = 2 };
