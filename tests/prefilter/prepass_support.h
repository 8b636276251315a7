// Frames for the pre-pass tests: images with guard columns and a guard row, the
// host record that points the row kernels at them, fills that provoke saturation,
// and a bit-exact compare that names the first differing sample.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "abi/host_api.h"
#include "core/core.h"
#include "host/callbacks.h"
#include "prefilter/prefilter.h"

namespace q5test {

/// A host image of w x h pixels with 4 guard columns on the right (max_w = w + 4)
/// and one guard row below.
struct Image {
    int w = 0, h = 0, pitch = 0;
    std::vector<PIXEL_YC> px;

    Image() = default;
    Image(int width, int height, PIXEL_YC fill = {0, 0, 0})
        : w(width), h(height), pitch(width + 4), px(static_cast<std::size_t>(pitch) * (height + 1), fill) {}
    PIXEL_YC &at(int x, int y) { return px[static_cast<std::size_t>(y) * pitch + x]; }
    const PIXEL_YC &at(int x, int y) const { return px[static_cast<std::size_t>(y) * pitch + x]; }
    PIXEL_YC *data() { return px.data(); }
    const PIXEL_YC *data() const { return px.data(); }
};

constexpr PIXEL_YC kGuard = {0x5A5A, 0x5A5A, 0x5A5A};

inline std::int16_t &componentOf(PIXEL_YC &p, int c) { return c == 0 ? p.y : c == 1 ? p.cb : p.cr; }
inline std::int16_t componentOf(const PIXEL_YC &p, int c) { return c == 0 ? p.y : c == 1 ? p.cb : p.cr; }

/// Output image: every sample, guards included, holds the guard pattern.
inline Image guardedOutput(int w, int h) { return Image(w, h, kGuard); }

inline FILTER_PROC_INFO procInfo(Image &edit, Image &temp) {
    FILTER_PROC_INFO fpip{};
    fpip.ycp_edit = edit.data();
    fpip.ycp_temp = temp.data();
    fpip.w = edit.w;
    fpip.h = edit.h;
    fpip.max_w = edit.pitch;
    fpip.max_h = edit.h + 1;
    return fpip;
}

enum class Fill { Random, Nominal, Skin, Int16Min, Int16Max, Alternating, NearThreshold };
inline const char *fillName(Fill f) {
    static const char *names[] = {"random", "nominal", "skin", "int16min", "int16max", "alternating",
                                  "nearThreshold"};
    return names[static_cast<int>(f)];
}
constexpr Fill kAllFills[] = {Fill::Random, Fill::Nominal, Fill::Skin, Fill::Int16Min,
                              Fill::Int16Max, Fill::Alternating, Fill::NearThreshold};

/// Fills the picture and the guard columns (the kernels must not read beyond w, but
/// what lies there should not matter either). threshold sets the noise of NearThreshold.
inline Image filledImage(int w, int h, Fill fill, std::uint32_t seed, int threshold = 40) {
    Image im(w, h);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> any(-32768, 32767), luma(0, 4095), chroma(-2048, 2047);
    std::uniform_int_distribution<int> skinY(1300, 3100), skinCb(-700, 300), skinCr(-70, 620);
    std::uniform_int_distribution<int> noise(-threshold - 2, threshold + 2), coin(0, 7);
    for (int y = 0; y <= h; ++y)
        for (int x = 0; x < im.pitch; ++x) {
            PIXEL_YC &p = im.at(x, y);
            auto set = [&](int a, int b, int c) {
                p = {static_cast<std::int16_t>(a), static_cast<std::int16_t>(b), static_cast<std::int16_t>(c)};
            };
            switch (fill) {
            case Fill::Random: set(any(rng), any(rng), any(rng)); break;
            case Fill::Nominal: set(luma(rng), chroma(rng), chroma(rng)); break;
            case Fill::Skin: set(skinY(rng), skinCb(rng), skinCr(rng)); break;
            case Fill::Int16Min: set(-32768, -32768, -32768); break;
            case Fill::Int16Max: set(32767, 32767, 32767); break;
            case Fill::Alternating: {
                const int s = (x + y) % 2 ? 32767 : -32768;
                set(s, -s - 1, s);
                break;
            }
            case Fill::NearThreshold: {
                // Flat ground, most samples within a step or two of the thresholds.
                const int n = coin(rng) == 0 ? noise(rng) * 4 : noise(rng);
                set(1000 + n, -300 + noise(rng) / 2, 200 + noise(rng) / 2);
                break;
            }
            }
        }
    return im;
}

constexpr const char *kComponentNames[3] = {"y", "cb", "cr"};

/// Expects two images equal in every sample, guards included; reports the first difference.
inline void expectSameImage(const Image &expected, const Image &actual, const std::string &what = "") {
    ASSERT_EQ(expected.px.size(), actual.px.size());
    for (std::size_t i = 0; i < expected.px.size(); ++i)
        for (int c = 0; c < 3; ++c)
            if (componentOf(expected.px[i], c) != componentOf(actual.px[i], c)) {
                ADD_FAILURE() << what << " first difference at x=" << i % expected.pitch
                              << " y=" << i / expected.pitch << " " << kComponentNames[c]
                              << ": expected " << componentOf(expected.px[i], c)
                              << ", got " << componentOf(actual.px[i], c);
                return;
            }
}

/// Samples of the picture that differ between two images.
inline int countChanged(const Image &a, const Image &b) {
    int n = 0;
    for (int y = 0; y < a.h; ++y)
        for (int x = 0; x < a.w; ++x)
            for (int c = 0; c < 3; ++c) n += componentOf(a.at(x, y), c) != componentOf(b.at(x, y), c);
    return n;
}

/// Guard columns and the guard row of an output still hold the guard pattern.
inline bool guardsIntact(const Image &out) {
    for (int y = 0; y <= out.h; ++y)
        for (int x = y == out.h ? 0 : out.w; x < out.pitch; ++x) {
            const PIXEL_YC &p = out.at(x, y);
            if (p.y != kGuard.y || p.cb != kGuard.cb || p.cr != kGuard.cr) return false;
        }
    return true;
}

struct BlockSettings {
    int fieldCount = 1, strengthA = 40, strengthB = 80;
    bool animeMode = true;
};

/// The block pass over the whole frame with one kernel.
inline Image runBlock(BlockNrRowsFn kernel, const Image &source, const BlockSettings &s,
                      PrepassScratch scratch = {}) {
    Image edit = guardedOutput(source.w, source.h), temp = guardedOutput(source.w, source.h);
    FILTER_PROC_INFO fpip = procInfo(edit, temp);
    kernel(0, source.h, s.fieldCount, &fpip, source.data(), s.strengthA, s.strengthB, s.animeMode, scratch);
    return edit;
}

/// Memory for the AVX2 kernels' rows, as the driver hands them a thread's octet
/// scratch (by default as much as the small size class has), followed by a guard
/// zone the kernels must leave alone.
class RowScratch {
public:
    RowScratch() : RowScratch(workBufferSizes({832, 512}).scratchOctets - 32) {}
    explicit RowScratch(std::size_t bytes) : bytes_(bytes), store_((bytes + kGuardBytes + 31) / 32) {
        auto *b = reinterpret_cast<unsigned char *>(store_.data());
        for (std::size_t i = bytes_; i < store_.size() * 32; ++i) b[i] = kGuardByte;
    }
    PrepassScratch view() { return {store_.data(), bytes_}; }
    bool guardIntact() const {
        const auto *b = reinterpret_cast<const unsigned char *>(store_.data());
        for (std::size_t i = bytes_; i < store_.size() * 32; ++i)
            if (b[i] != kGuardByte) return false;
        return true;
    }

private:
    static constexpr std::size_t kGuardBytes = 256;
    static constexpr unsigned char kGuardByte = 0xA5;
    struct alignas(32) Line {
        unsigned char b[32];
    };
    std::size_t bytes_;
    std::vector<Line> store_;
};

/// The kernel tables of this processor's tier, for the workers.
inline const KernelTables *processorKernels() {
    static const KernelTables tables = kernelTablesFor(kernelTier(detectCpuLevel()));
    return &tables;
}

/// The mosquito pass over the whole frame with one kernel; prev and next may be source.
inline Image runMosquito(MosquitoNrRowsFn kernel, const Image &source, const Image &prev,
                         const Image &next, int fieldCount, int strengthC, PrepassScratch scratch = {}) {
    Image edit = guardedOutput(source.w, source.h), temp = guardedOutput(source.w, source.h);
    FILTER_PROC_INFO fpip = procInfo(edit, temp);
    kernel(source.data(), prev.data(), &fpip, next.data(), fieldCount, strengthC, 0, source.h, scratch);
    return temp;
}

/// True when the border rows and columns of out equal source: rows < rowsKept and
/// >= h - rowsKept, columns 0, 1, w - 2, w - 1.
inline bool bordersCopied(const Image &source, const Image &out, int rowsKept) {
    auto same = [&](int x, int y) {
        const PIXEL_YC &a = source.at(x, y), &b = out.at(x, y);
        return a.y == b.y && a.cb == b.cb && a.cr == b.cr;
    };
    for (int y = 0; y < source.h; ++y)
        for (int x = 0; x < source.w; ++x) {
            const bool border = y < rowsKept || y >= source.h - rowsKept || x < 2 || x >= source.w - 2;
            if (border && !same(x, y)) return false;
        }
    return true;
}

}  // namespace q5test
