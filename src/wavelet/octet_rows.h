// Moving data between eight ordinary lines (rows of a plane, or the lines of one
// ring slot) and an octet line, where position i of line k is float 8i + k. Four
// positions of the eight lines at a time, by two 4 x 4 transposes; plain SSE, so
// any pass may use them. Octet lines are 16-byte aligned.
#pragma once

#include <xmmintrin.h>

namespace octet_rows {

constexpr int kLanes = 8;

/// Positions [first, first + count) (multiples of 4) of eight lines into the octet
/// line. Line k's four positions j .. j+3 are read at line(k, j), an aligned float*.
template <class LineAt>
inline void gather(LineAt line, int first, int count, float *octet) noexcept {
    for (int j = first; j < first + count; j += 4) {
        float *out = octet + kLanes * j;
        for (int half = 0; half < 2; ++half) {
            __m128 r0 = _mm_load_ps(line(4 * half, j)), r1 = _mm_load_ps(line(4 * half + 1, j));
            __m128 r2 = _mm_load_ps(line(4 * half + 2, j)), r3 = _mm_load_ps(line(4 * half + 3, j));
            _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
            _mm_store_ps(out + 4 * half, r0);
            _mm_store_ps(out + kLanes + 4 * half, r1);
            _mm_store_ps(out + 2 * kLanes + 4 * half, r2);
            _mm_store_ps(out + 3 * kLanes + 4 * half, r3);
        }
    }
}

/// Positions [first, first + count) of the octet line out to the first `lanes`
/// lines; line k's positions j .. j+3 go to line(k, j), an aligned float*.
template <class LineAt>
inline void scatter(const float *octet, int first, int count, int lanes, LineAt line) noexcept {
    for (int j = first; j < first + count; j += 4) {
        const float *at = octet + kLanes * j;
        for (int half = 0; half < 2 && 4 * half < lanes; ++half) {
            __m128 r0 = _mm_load_ps(at + 4 * half), r1 = _mm_load_ps(at + kLanes + 4 * half);
            __m128 r2 = _mm_load_ps(at + 2 * kLanes + 4 * half), r3 = _mm_load_ps(at + 3 * kLanes + 4 * half);
            _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
            const __m128 out[4] = {r0, r1, r2, r3};
            for (int k = 0; k < 4 && 4 * half + k < lanes; ++k) _mm_store_ps(line(4 * half + k, j), out[k]);
        }
    }
}

/// As scatter to eight lines, but sixteen positions at a time, each line's 64 bytes
/// stored whole with non-temporal stores: for lines nothing reads soon, which then
/// cost no read for ownership and leave the cache to the work. first and count are
/// multiples of 16, and line(k, j) is 64-byte aligned at such j. The caller fences
/// before another thread reads the lines.
template <class LineAt>
inline void stream(const float *octet, int first, int count, LineAt line) noexcept {
    for (int j = first; j < first + count; j += 16) {
        for (int half = 0; half < 2; ++half) {
            __m128 t[4][4];  // [position quad][line]
            for (int q = 0; q < 4; ++q) {
                const float *at = octet + kLanes * (j + 4 * q) + 4 * half;
                __m128 r0 = _mm_load_ps(at), r1 = _mm_load_ps(at + kLanes);
                __m128 r2 = _mm_load_ps(at + 2 * kLanes), r3 = _mm_load_ps(at + 3 * kLanes);
                _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
                t[q][0] = r0;
                t[q][1] = r1;
                t[q][2] = r2;
                t[q][3] = r3;
            }
            for (int k = 0; k < 4; ++k) {
                float *out = line(4 * half + k, j);
                for (int q = 0; q < 4; ++q) _mm_stream_ps(out + 4 * q, t[q][k]);
            }
        }
    }
}

}  // namespace octet_rows
