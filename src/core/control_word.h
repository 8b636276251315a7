// Scope object for the SSE control/status register. Frames are computed with
// flush-to-zero, round to nearest and every exception masked except divide-by-zero,
// so that every build and every thread rounds the same way.
#pragma once

#include <xmmintrin.h>

// 0x9D80: flush-to-zero (bit 15), round to nearest (bits 13-14 clear), the
// exception masks of bits 7-12 set except divide-by-zero (bit 9 clear), and
// denormals-are-zero off (bit 6). An unmasked divide-by-zero would trap, but
// nothing a frame runs divides by zero in floating point: the temporal fit and the
// block pass multiply by the processor's reciprocal estimate, which never raises an
// exception (a zero gives infinity), the AVX2 rounding divides by its level span,
// which is at least 1, and the other divisions are integer ones. The
// word is the system's own and is kept bit for bit.
constexpr unsigned kProcControlWord = 0x9D80;

class ControlWordScope {
public:
    explicit ControlWordScope(unsigned word) noexcept : saved_(_mm_getcsr()) { _mm_setcsr(word); }
    ~ControlWordScope() { _mm_setcsr(saved_); }
    ControlWordScope(const ControlWordScope &) = delete;
    ControlWordScope &operator=(const ControlWordScope &) = delete;

private:
    unsigned saved_;
};
