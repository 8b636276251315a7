// Helpers for the wavelet kernel tests: 16-byte aligned float lines with guard
// zones, seeded fills, bit-exact comparison, and the band lengths the passes use.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "core/core.h"
#include "support/support.h"
#include "wavelet/line_kernels.h"
#include "wavelet/wavelet.h"

namespace q5test {

/// A float line of `size` values, 16-byte aligned, between two guard zones of a
/// byte pattern that no kernel writes.
class GuardedLine {
public:
    static constexpr int kGuard = 16;
    static constexpr std::uint32_t kPattern = 0x7FA5A5A5u;  // a quiet NaN

    explicit GuardedLine(int size) : size_(size), storage_(size + 2 * kGuard + 4) {
        auto address = reinterpret_cast<std::uintptr_t>(storage_.data());
        int skip = static_cast<int>(((16 - address % 16) % 16) / sizeof(float));
        base_ = storage_.data() + skip;
        fillPattern(0, size_ + 2 * kGuard);
    }
    GuardedLine(const GuardedLine &) = delete;
    GuardedLine &operator=(const GuardedLine &) = delete;

    float *data() { return base_ + kGuard; }
    const float *data() const { return base_ + kGuard; }
    float &operator[](int i) { return data()[i]; }
    float operator[](int i) const { return data()[i]; }
    int size() const { return size_; }

    /// Sets positions [first, end) to the guard pattern (parts a kernel must not touch).
    void poison(int first, int end) { fillPattern(kGuard + first, kGuard + end); }

    /// Whether [first, end) and both guard zones still hold the pattern.
    bool untouched(int first, int end) const {
        return holdsPattern(0, kGuard) && holdsPattern(kGuard + size_, 2 * kGuard + size_) &&
               holdsPattern(kGuard + first, kGuard + end);
    }

private:
    void fillPattern(int first, int end) {
        for (int i = first; i < end; ++i) std::memcpy(base_ + i, &kPattern, 4);
    }
    bool holdsPattern(int first, int end) const {
        for (int i = first; i < end; ++i)
            if (std::memcmp(base_ + i, &kPattern, 4) != 0) return false;
        return true;
    }

    int size_;
    std::vector<float> storage_;
    float *base_;
};

inline bool cpuHasSse3() { return detectCpuLevel() == 2; }

/// Kinds of input: uniform noise of video scale, large magnitudes, tiny
/// magnitudes (near the flush-to-zero range), and a flat ground with small noise.
enum class Fill { Random, Large, Tiny, FlatNoise };

inline void fillLine(float *line, int count, std::mt19937 &rng, Fill kind = Fill::Random) {
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (int i = 0; i < count; ++i) {
        switch (kind) {
        case Fill::Random: line[i] = 3000.0f * unit(rng); break;
        case Fill::Large: line[i] = (i % 2 ? 1.0f : -1.0f) * 3.0e4f * (1.0f + 0.1f * unit(rng)); break;
        case Fill::Tiny: line[i] = 1.0e-37f * unit(rng); break;
        case Fill::FlatNoise: line[i] = 500.0f + 2.0f * unit(rng); break;
        }
    }
}

/// Compares [first, end) of two lines bit for bit and reports the first difference.
inline ::testing::AssertionResult bitExact(const float *expected, const float *actual, int first,
                                           int end) {
    for (int i = first; i < end; ++i) {
        if (std::memcmp(expected + i, actual + i, 4) != 0)
            return ::testing::AssertionFailure()
                   << "first difference at " << i << ": expected " << expected[i] << ", got "
                   << actual[i];
    }
    return ::testing::AssertionSuccess();
}

/// Input lengths N of every forward level the passes run: rows and columns of the
/// three size classes, all luma levels and the five chroma levels.
inline std::vector<int> forwardLengths() {
    return {2048, 1536, 1280, 1024, 832, 768, 640, 512, 416, 384, 320, 256,
            208,  192,  160,  128,  104, 80,  64,  32};
}

/// The kernel tables to check properties on: scalar always, SSE2 and AVX2 when the
/// processor has them.
inline std::vector<std::pair<const char *, const WaveletKernels *>> kernelTables() {
    std::vector<std::pair<const char *, const WaveletKernels *>> tables = {
        {"scalar", &kWaveletScalar}};
    if (cpuHasSse3()) tables.push_back({"SSE2", &kWaveletSse2});
    if (cpuHasSse3() && cpuHasAvx2()) tables.push_back({"AVX2", &kWaveletAvx2});
    return tables;
}

/// The one-line reference kernels, named for the tests' messages.
inline std::vector<std::pair<const char *, const LineKernels *>> lineKernelTables() {
    return {{"scalar", &kScalarLineKernels}};
}

}  // namespace q5test
