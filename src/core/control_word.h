// Scope object for the SSE control/status register. Frames are computed with
// flush-to-zero, round to nearest and every exception masked except divide-by-zero,
// so that every build and every thread rounds the same way.
#pragma once

#include <xmmintrin.h>

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
