// Bodies of the octet kernels, written once over an eight-lane vector type so that
// the scalar, SSE2 and AVX2 builds of them perform the same operations in the same
// order. Each lane runs exactly the sums of the line kernels (their lane-wise
// multiply-adds and pairwise horizontal adds), spelled out per output: a column
// pass can then keep eight columns in the lanes instead of gathering each column
// into a line. Products with the zero taps that pad the line kernels' windows are
// left out; adding such a zero can only change the sign of an exact zero, which no
// later step tells apart.
//
// Included only by the octets_*.cpp files, each with its own vector type V:
//   V::load(const float *), V::store(float *, V), V::set1(float), add, sub, mul,
//   max (as maxps: the second operand unless the first is greater), absolute,
//   cmpge, cmpgt, cmplt (all-ones lanes where true), bitAnd, bitOr;
//   V::storeSamples(std::int16_t *, V) (the float-to-sample rule on every lane); and
//   a filter tap type V::Tap made once per call by V::tap(float), with
//   V::mul(V, Tap).
#pragma once

#include <cstdint>

#include "wavelet/taps.h"

namespace octet_kernels {

using namespace wavelet_taps;

constexpr int kLanes = 8;

// Ten-tap L and H1 filters at offsets -4..+5 (index k + 4).
inline constexpr float kL[10] = {-0.0301851816f, -0.05228227f, 0.257657647f, 0.478628516f, 0.397747576f,
                                 0.397747576f,   0.0958957449f, -0.125075132f, -0.0140089914f, 0.00808809511f};
inline constexpr float kH1[10] = {0.00808809511f, 0.0140089914f, -0.125075132f, -0.225305259f, 0.173603699f,
                                  0.438768744f,   -0.00433439715f, -0.257657647f, -0.05228227f, 0.0301851816f};
static_assert(kL[0] == kForwardLEven[0] && kL[9] == kForwardLEven[9] && kH1[0] == kForwardH1Even[0] &&
                  kH1[9] == kForwardH1Even[9] && kL[0] == kForwardLOdd[2] && kH1[9] == kForwardH1Odd[11],
              "the octet taps are the line kernels' taps");

template <class V>
struct Kernels {
    using Tap = typename V::Tap;

    struct ForwardTaps {
        Tap l[10], h1[10], g[4];
        ForwardTaps() noexcept {
            for (int k = 0; k < 10; ++k) {
                l[k] = V::tap(kL[k]);
                h1[k] = V::tap(kH1[k]);
            }
            for (int k = 0; k < 4; ++k) g[k] = V::tap(kForwardH2Even[k]);
        }
    };

    // One output of a ten-tap filter from x[2m - 4 .. 2m + 5], octets at x + 8k. The
    // line kernel's lanes hold (-4, 0, +4), (-3, +1, +5), (-2, +2) and (-1, +3),
    // summed pairwise; for odd m the two-term lanes come first, which the
    // commutative outer add makes the same number.
    static V tenTap(const float *x, const Tap *t) noexcept {
        auto at = [x](int k) noexcept { return V::load(x + kLanes * k); };
        const V a = V::add(V::add(V::mul(at(0), t[0]), V::mul(at(4), t[4])), V::mul(at(8), t[8]));
        const V b = V::add(V::add(V::mul(at(1), t[1]), V::mul(at(5), t[5])), V::mul(at(9), t[9]));
        const V c = V::add(V::mul(at(2), t[2]), V::mul(at(6), t[6]));
        const V d = V::add(V::mul(at(3), t[3]), V::mul(at(7), t[7]));
        return V::add(V::add(a, b), V::add(c, d));
    }

    static void forwardOutput(const float *x, const ForwardTaps &t, float *L, float *H1, float *H2) noexcept {
        V::store(L, tenTap(x, t.l));
        V::store(H1, tenTap(x, t.h1));
        V::store(H2, h2Output(x, t.g));
    }

    static void forward(int N, const float *source, float *bandBuffer, float *h2Buffer) noexcept {
        const ForwardTaps t;
        const int n = N / 2;
        float *L = bandBuffer, *H1 = bandBuffer + kLanes * n, *H2 = h2Buffer + kLanes * n;
        // Outputs 0, 1 reach back past x[0], outputs n-2, n-1 past x[N-1]: their
        // windows are assembled first.
        auto wrapped = [&](int m) noexcept {
            alignas(32) float window[10 * kLanes];
            for (int k = 0; k < 10; ++k) {
                int i = 2 * m - 4 + k;
                i = i < 0 ? i + N : (i >= N ? i - N : i);
                for (int lane = 0; lane < kLanes; ++lane) window[kLanes * k + lane] = source[kLanes * i + lane];
            }
            forwardOutput(window, t, L + kLanes * m, H1 + kLanes * m, H2 + kLanes * m);
        };
        wrapped(0);
        wrapped(1);
        // The straight outputs one filter at a time, so that its taps stay in
        // registers: all twenty-four at once do not fit, and every multiply would
        // then load its tap as well as its sample. Each output is the same sum.
        tenTapRun(source, t.l, L, 2, n - 2);
        tenTapRun(source, t.h1, H1, 2, n - 2);
        h2Run(source, t.g, H2, 2, n - 2);
        wrapped(n - 2);
        wrapped(n - 1);
    }

    // A filter's taps as separate values: local copies the compiler keeps in
    // registers through a loop, where an array in memory would be reloaded.
    template <int Count>
    struct HeldTaps {
        Tap t[Count];
        explicit HeldTaps(const Tap *from) noexcept {
            for (int k = 0; k < Count; ++k) t[k] = from[k];
        }
    };

    static void tenTapRun(const float *x, const Tap *taps, float *out, int first, int end) noexcept {
        const HeldTaps<10> held(taps);
        for (int m = first; m < end; ++m) V::store(out + kLanes * m, tenTap(x + kLanes * (2 * m - 4), held.t));
    }

    static V h2Output(const float *x, const Tap *g) noexcept {
        auto at = [x](int k) noexcept { return V::load(x + kLanes * k); };
        return V::add(V::add(V::mul(at(4), g[0]), V::mul(at(5), g[1])), V::add(V::mul(at(6), g[2]), V::mul(at(7), g[3])));
    }

    static void h2Run(const float *x, const Tap *taps, float *out, int first, int end) noexcept {
        const HeldTaps<4> held(taps);
        for (int m = first; m < end; ++m) V::store(out + kLanes * m, h2Output(x + kLanes * (2 * m - 4), held.t));
    }

    // The structure test of one band at one position, as the line kernel's single
    // compare of max(|bend|, |at|).
    static V structure(V before, V at, V after, V T, Tap two) noexcept {
        const V bend = V::sub(V::sub(V::mul(at, two), before), after);
        return V::cmpge(V::max(V::absolute(bend), V::absolute(at)), T);
    }

    // The flat mask and the coring of one level's detail positions [n, 2n) in one
    // sweep; the mask of a position needs its neighbours before they are cored, so
    // the sweep carries them along.
    template <bool KeepSmall>
    static void shrink(int n, float *bandBuffer, float *h2Buffer, float flatThreshold, float coefThreshold,
                       float keepSmallBound) noexcept {
        float *u = bandBuffer + kLanes * n, *v = h2Buffer + kLanes * n;
        const V T = V::set1(flatThreshold), P = V::set1(keepSmallBound);
        const V C = V::set1(coefThreshold == 0.0f ? kZeroThresholdReplacement : coefThreshold);
        const Tap two = V::tap(2.0f);
        V atU = V::load(u), atV = V::load(v);
        V beforeU = atU, beforeV = atV;  // the edge value repeated
        for (int i = 0; i < n; ++i) {
            const bool last = i == n - 1;
            const V afterU = last ? atU : V::load(u + kLanes * (i + 1));
            const V afterV = last ? atV : V::load(v + kLanes * (i + 1));
            V marked = V::bitOr(structure(beforeU, atU, afterU, T, two), structure(beforeV, atV, afterV, T, two));
            if (KeepSmall)
                marked = V::bitOr(marked, V::bitOr(V::cmplt(V::absolute(atU), P), V::cmplt(V::absolute(atV), P)));
            V::store(u + kLanes * i, V::bitAnd(atU, V::bitOr(marked, V::cmpgt(V::absolute(atU), C))));
            V::store(v + kLanes * i, V::bitAnd(atV, V::bitOr(marked, V::cmpgt(V::absolute(atV), C))));
            beforeU = atU;
            beforeV = atV;
            atU = afterU;
            atV = afterV;
        }
    }

    struct InverseTaps {
        Tap t[2][12];
        InverseTaps() noexcept {
            for (int k = 0; k < 12; ++k) {
                t[0][k] = V::tap(kInverseEven[k]);
                t[1][k] = V::tap(kInverseOdd[k]);
            }
        }
    };

    // Output pair m from L[m-2 .. m+2] (octets at l + 8k), H1[m-2 .. m+2] (at h) and
    // H2[m-1], H2[m] (at d0 and d1).
    // One output of pair m (even or odd by the taps) from L[m-2 .. m+2] (octets at
    // l + 8k), H1[m-2 .. m+2] (at h) and H2[m-1], H2[m] (at d0 and d1).
    static V inverseOutput(const float *l, const float *h, const float *d0, const float *d1, const Tap *t) noexcept {
        auto L = [l](int k) noexcept { return V::load(l + kLanes * k); };
        auto H = [h](int k) noexcept { return V::load(h + kLanes * k); };
        const V l0 = V::add(V::add(V::mul(L(0), t[0]), V::mul(H(0), t[4])), V::mul(L(4), t[8]));
        const V l1 = V::add(V::add(V::mul(L(1), t[1]), V::mul(H(1), t[5])), V::mul(H(4), t[9]));
        const V l2 = V::add(V::add(V::mul(L(2), t[2]), V::mul(H(2), t[6])), V::mul(V::load(d0), t[10]));
        const V l3 = V::add(V::add(V::mul(L(3), t[3]), V::mul(H(3), t[7])), V::mul(V::load(d1), t[11]));
        return V::add(V::add(l0, l1), V::add(l2, l3));
    }

    static void inversePair(const float *l, const float *h, const float *d0, const float *d1,
                            const InverseTaps &taps, float *out) noexcept {
        for (int parity = 0; parity < 2; ++parity)
            V::store(out + kLanes * parity, inverseOutput(l, h, d0, d1, taps.t[parity]));
    }

    // The straight pairs' outputs of one parity, its twelve taps held in registers
    // (both parities' twenty-four would come from memory, one load per multiply).
    static void inverseRun(const float *L, const float *H1, const float *H2, const Tap *taps, int parity,
                           int first, int end, float *output) noexcept {
        const HeldTaps<12> held(taps);
        for (int m = first; m < end; ++m)
            V::store(output + 2 * kLanes * m + kLanes * parity,
                     inverseOutput(L + kLanes * (m - 2), H1 + kLanes * (m - 2), H2 + kLanes * (m - 1),
                                   H2 + kLanes * m, held.t));
    }

    static void inverse(const float *bandBuffer, const float *h2Buffer, int n, float *output) noexcept {
        const InverseTaps t;
        const float *L = bandBuffer, *H1 = bandBuffer + kLanes * n, *H2 = h2Buffer + kLanes * n;
        // Pairs 0, 1 reach back past the band starts, pairs n-2, n-1 past their ends.
        auto wrapped = [&](int m) noexcept {
            alignas(32) float l[5 * kLanes], h[5 * kLanes];
            for (int k = 0; k < 5; ++k) {
                int i = m - 2 + k;
                i = i < 0 ? i + n : (i >= n ? i - n : i);
                for (int lane = 0; lane < kLanes; ++lane) {
                    l[kLanes * k + lane] = L[kLanes * i + lane];
                    h[kLanes * k + lane] = H1[kLanes * i + lane];
                }
            }
            inversePair(l, h, H2 + kLanes * (m == 0 ? n - 1 : m - 1), H2 + kLanes * m, t, output + 2 * kLanes * m);
        };
        wrapped(0);
        wrapped(1);
        // The output never overlaps the bands, so the two parities can run apart.
        inverseRun(L, H1, H2, t.t[0], 0, 2, n - 2, output);
        inverseRun(L, H1, H2, t.t[1], 1, 2, n - 2, output);
        wrapped(n - 2);
        wrapped(n - 1);
    }

    static void mergeLowBand(const float *bandBuffer, int n, float *output, long outputStep) noexcept {
        const float *L = bandBuffer, *H1 = bandBuffer + kLanes * n;
        Tap a[4], b[4];
        for (int k = 0; k < 4; ++k) {
            a[k] = V::tap(kMergeL[k]);
            b[k] = V::tap(kMergeH1[k]);
        }
        for (int j = 0; j < n; ++j) {
            // Offsets -1 .. +2, periodic.
            const int i0 = j == 0 ? n - 1 : j - 1, i2 = j + 1 >= n ? j + 1 - n : j + 1,
                      i3 = j + 2 >= n ? j + 2 - n : j + 2;
            V s = V::mul(V::load(L + kLanes * i0), a[0]);
            s = V::add(s, V::mul(V::load(H1 + kLanes * i0), b[0]));
            s = V::add(s, V::mul(V::load(L + kLanes * j), a[1]));
            s = V::add(s, V::mul(V::load(H1 + kLanes * j), b[1]));
            s = V::add(s, V::mul(V::load(L + kLanes * i2), a[2]));
            s = V::add(s, V::mul(V::load(H1 + kLanes * i2), b[2]));
            s = V::add(s, V::mul(V::load(L + kLanes * i3), a[3]));
            s = V::add(s, V::mul(V::load(H1 + kLanes * i3), b[3]));
            V::store(output + outputStep * j, s);
        }
    }

    // The last vertical level rebuilt along the rows, straight to samples: plane
    // rows 2p and 2p + 1 from low-band rows p (l) and p - 1 (lb) and high-band rows
    // p (hi) and p - 1 (hb), count positions (a multiple of 8), eight neighbouring
    // positions in the lanes. Each position is the orthogonal Daubechies-4 inverse
    // step of its column, the line kernel's sums in its order.
    static void synthesizeRowPair(const float *l, const float *lb, const float *hi, const float *hb, int count,
                                  std::int16_t *even, std::int16_t *odd, bool wantEven, bool wantOdd) noexcept {
        const Tap e0 = V::tap(h0), e1 = V::tap(h2), e2 = V::tap(h3), e3 = V::tap(h1);
        const Tap o0 = V::tap(h1), o1 = V::tap(h3), o2 = V::tap(-h2), o3 = V::tap(-h0);
        for (int c = 0; c < count; c += kLanes) {
            const V vl = V::load(l + c), vlb = V::load(lb + c);
            const V vh = V::load(hi + c), vhb = V::load(hb + c);
            // The four products summed in the line kernel's order.
            auto row = [&](Tap t0, Tap t1, Tap t2, Tap t3) noexcept {
                V s = V::mul(vl, t0);
                s = V::add(s, V::mul(vlb, t1));
                s = V::add(s, V::mul(vh, t2));
                return V::add(s, V::mul(vhb, t3));
            };
            if (wantEven) V::storeSamples(even + c, row(e0, e1, e2, e3));
            if (wantOdd) V::storeSamples(odd + c, row(o0, o1, o2, o3));
        }
    }
};

}  // namespace octet_kernels

// Defines the five octet kernels with the given name suffix over vector type V.
#define Q5_DEFINE_OCTET_KERNELS(V, Suffix)                                                                  \
    void forwardOctets##Suffix(int N, const float *source, float *bandBuffer, float *h2Buffer) noexcept {  \
        octet_kernels::Kernels<V>::forward(N, source, bandBuffer, h2Buffer);                                \
    }                                                                                                       \
    void shrinkOctets##Suffix(int n, float *bandBuffer, float *h2Buffer, float flatThreshold,               \
                              float coefThreshold, float keepSmallBound) noexcept {                         \
        if (keepSmallBound > 0.0f)                                                                          \
            octet_kernels::Kernels<V>::shrink<true>(n, bandBuffer, h2Buffer, flatThreshold, coefThreshold,  \
                                                    keepSmallBound);                                        \
        else                                                                                                \
            octet_kernels::Kernels<V>::shrink<false>(n, bandBuffer, h2Buffer, flatThreshold, coefThreshold, \
                                                     keepSmallBound);                                       \
    }                                                                                                       \
    void inverseOctets##Suffix(const float *bandBuffer, const float *h2Buffer, int n, float *output)        \
        noexcept {                                                                                          \
        octet_kernels::Kernels<V>::inverse(bandBuffer, h2Buffer, n, output);                                \
    }                                                                                                       \
    void mergeLowBandOctets##Suffix(const float *bandBuffer, int n, float *output, long outputStep)         \
        noexcept {                                                                                          \
        octet_kernels::Kernels<V>::mergeLowBand(bandBuffer, n, output, outputStep);                         \
    }                                                                                                       \
    void synthesizeRowPair##Suffix(const float *l, const float *lb, const float *hi, const float *hb,      \
                                   int count, std::int16_t *even, std::int16_t *odd, bool wantEven,         \
                                   bool wantOdd) noexcept {                                                 \
        octet_kernels::Kernels<V>::synthesizeRowPair(l, lb, hi, hb, count, even, odd, wantEven, wantOdd);   \
    }
