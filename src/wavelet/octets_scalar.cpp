// Scalar twins of the octet kernels: the same template bodies over eight plain
// floats, each operation spelled as the SSE instruction defines it.
#include <cstdint>
#include <cstring>

#include "wavelet/octet_kernels.h"
#include "wavelet/sample_conversion.h"
#include "wavelet/wavelet.h"

namespace {

struct ScalarOctet {
    float v[8];
    using Tap = float;

    static std::uint32_t bits(float f) noexcept {
        std::uint32_t b;
        std::memcpy(&b, &f, sizeof b);
        return b;
    }
    static float fromBits(std::uint32_t b) noexcept {
        float f;
        std::memcpy(&f, &b, sizeof f);
        return f;
    }
    template <class F>
    static ScalarOctet each(F f) noexcept {
        ScalarOctet r;
        for (int k = 0; k < 8; ++k) r.v[k] = f(k);
        return r;
    }
    static float mask(bool b) noexcept { return fromBits(b ? 0xFFFFFFFFu : 0u); }

    static ScalarOctet load(const float *p) noexcept { return each([&](int k) { return p[k]; }); }
    static void store(float *p, const ScalarOctet &a) noexcept {
        for (int k = 0; k < 8; ++k) p[k] = a.v[k];
    }
    static void storeSamples(std::int16_t *p, const ScalarOctet &a) noexcept {
        for (int k = 0; k < 8; ++k) p[k] = floatToSample(a.v[k]);
    }
    static ScalarOctet set1(float x) noexcept { return each([&](int) { return x; }); }
    static Tap tap(float x) noexcept { return x; }
    static ScalarOctet mul(const ScalarOctet &a, Tap t) noexcept {
        return each([&](int k) { return a.v[k] * t; });
    }
    static ScalarOctet add(const ScalarOctet &a, const ScalarOctet &b) noexcept {
        return each([&](int k) { return a.v[k] + b.v[k]; });
    }
    static ScalarOctet sub(const ScalarOctet &a, const ScalarOctet &b) noexcept {
        return each([&](int k) { return a.v[k] - b.v[k]; });
    }
    static ScalarOctet mul(const ScalarOctet &a, const ScalarOctet &b) noexcept {
        return each([&](int k) { return a.v[k] * b.v[k]; });
    }
    // maxps: the second operand unless the first is greater (so also on NaN).
    static ScalarOctet max(const ScalarOctet &a, const ScalarOctet &b) noexcept {
        return each([&](int k) { return a.v[k] > b.v[k] ? a.v[k] : b.v[k]; });
    }
    static ScalarOctet absolute(const ScalarOctet &a) noexcept {
        return each([&](int k) { return fromBits(bits(a.v[k]) & 0x7FFFFFFFu); });
    }
    static ScalarOctet cmpge(const ScalarOctet &a, const ScalarOctet &b) noexcept {
        return each([&](int k) { return mask(a.v[k] >= b.v[k]); });
    }
    static ScalarOctet cmpgt(const ScalarOctet &a, const ScalarOctet &b) noexcept {
        return each([&](int k) { return mask(a.v[k] > b.v[k]); });
    }
    static ScalarOctet cmplt(const ScalarOctet &a, const ScalarOctet &b) noexcept {
        return each([&](int k) { return mask(a.v[k] < b.v[k]); });
    }
    static ScalarOctet bitAnd(const ScalarOctet &a, const ScalarOctet &b) noexcept {
        return each([&](int k) { return fromBits(bits(a.v[k]) & bits(b.v[k])); });
    }
    static ScalarOctet bitOr(const ScalarOctet &a, const ScalarOctet &b) noexcept {
        return each([&](int k) { return fromBits(bits(a.v[k]) | bits(b.v[k])); });
    }
};

}  // namespace

Q5_DEFINE_OCTET_KERNELS(ScalarOctet, Scalar)
