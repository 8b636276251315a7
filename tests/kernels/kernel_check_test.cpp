// Every entry of every family's kernel table, on every tier this processor runs,
// against the scalar twin's entry: bit for bit, on random and extreme input, over
// the lengths and settings the stages use, with guard zones before and after every
// buffer a kernel is handed. The seed is printed; Q5_TEST_SEED replays it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "core/control_word.h"
#include "core/core.h"
#include "host/callbacks.h"
#include "kernels/guarded.h"
#include "output/rounding.h"
#include "prefilter/prefilter.h"
#include "prefilter/prepass_support.h"
#include "support/support.h"
#include "temporal/temporal.h"
#include "wavelet/wavelet.h"

using q5check::Guarded;
using q5check::same;

namespace {

constexpr int kLanes = 8;

// ---- Wavelet --------------------------------------------------------------------

// Octet lines of video-scale noise, large values of alternating sign, values near
// the flush-to-zero range and flat ground, a different kind in neighbouring lanes.
void fillOctets(Guarded<float> &line, std::mt19937 &rng) {
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (std::size_t i = 0; i < line.size(); ++i) {
        const float u = unit(rng);
        switch ((i + i / kLanes) % 4) {
        case 0: line[i] = 3000.0f * u; break;
        case 1: line[i] = (i % 2 ? 1.0f : -1.0f) * 3.0e4f * (1.0f + 0.1f * u); break;
        case 2: line[i] = 1.0e-37f * u; break;
        default: line[i] = 500.0f + 2.0f * u; break;
        }
    }
}

// Input lengths N of every forward level the passes run (every size class, luma
// and chroma, rows and columns).
constexpr int kForwardLengths[] = {2048, 1536, 1280, 1024, 832, 768, 640, 512, 416, 384,
                                   320,  256,  208,  192,  160, 128, 104, 80,  64,  32};

void checkForwardOctets(const KernelTables &ref, const KernelTables &simd, std::mt19937 &rng) {
    for (int N : kForwardLengths) {
        SCOPED_TRACE(testing::Message() << "N=" << N);
        Guarded<float> source(kLanes * N), band(kLanes * N), h2(kLanes * N);
        fillOctets(source, rng);
        Guarded<float> simdBand(band), simdH2(h2);
        ref.wavelet->forwardOctets(N, source.data(), band.data(), h2.data());
        simd.wavelet->forwardOctets(N, source.data(), simdBand.data(), simdH2.data());
        EXPECT_TRUE(same(band, simdBand)) << "band buffer";
        EXPECT_TRUE(same(h2, simdH2)) << "H2 buffer";
    }
}

void checkShrinkOctets(const KernelTables &ref, const KernelTables &simd, std::mt19937 &rng) {
    // Thresholds around the fills' scale, 0 (coring's own) and a negative flat one.
    const float thresholds[][2] = {{20.0f, 10.0f}, {1000.0f, 500.0f}, {0.0f, 0.0f}, {-1.0f, 3.0f}, {2.5f, 1.25f}};
    for (int N : kForwardLengths)
        for (const auto &t : thresholds)
            for (float keepSmall : {0.0f, 0.4f}) {
                const int n = N / 2;
                SCOPED_TRACE(testing::Message() << "n=" << n << " flat=" << t[0] << " coef=" << t[1]
                                                << " keepSmall=" << keepSmall);
                Guarded<float> band(kLanes * N), h2(kLanes * N);
                fillOctets(band, rng);
                fillOctets(h2, rng);
                Guarded<float> simdBand(band), simdH2(h2);
                ref.wavelet->shrinkOctets(n, band.data(), h2.data(), t[0], t[1], keepSmall);
                simd.wavelet->shrinkOctets(n, simdBand.data(), simdH2.data(), t[0], t[1], keepSmall);
                EXPECT_TRUE(same(band, simdBand)) << "band buffer";
                EXPECT_TRUE(same(h2, simdH2)) << "H2 buffer";
            }
}

void checkInverseOctets(const KernelTables &ref, const KernelTables &simd, std::mt19937 &rng) {
    for (int N : kForwardLengths) {
        const int n = N / 2;
        SCOPED_TRACE(testing::Message() << "n=" << n);
        Guarded<float> band(kLanes * N), h2(kLanes * N), out(kLanes * N);
        fillOctets(band, rng);
        fillOctets(h2, rng);
        Guarded<float> simdOut(out);
        ref.wavelet->inverseOctets(band.data(), h2.data(), n, out.data());
        simd.wavelet->inverseOctets(band.data(), h2.data(), n, simdOut.data());
        EXPECT_TRUE(same(out, simdOut));
    }
}

void checkMergeLowBandOctets(const KernelTables &ref, const KernelTables &simd, std::mt19937 &rng) {
    for (int N : kForwardLengths)
        for (long step : {long{kLanes}, 3L * kLanes}) {
            const int n = N / 2;
            SCOPED_TRACE(testing::Message() << "n=" << n << " step=" << step);
            Guarded<float> band(kLanes * N), out(static_cast<std::size_t>(step * n));
            fillOctets(band, rng);
            Guarded<float> simdOut(out);
            ref.wavelet->mergeLowBandOctets(band.data(), n, out.data(), step);
            simd.wavelet->mergeLowBandOctets(band.data(), n, simdOut.data(), step);
            EXPECT_TRUE(same(out, simdOut)) << "(between the steps nothing is written)";
        }
}

void checkSynthesizeRowPair(const KernelTables &ref, const KernelTables &simd, std::mt19937 &rng) {
    std::uniform_real_distribution<float> value(-5000.0f, 9000.0f);
    std::uniform_int_distribution<int> halves(-20000, 20000), pick(0, 15);
    for (int count : {8, 16, 24, 40, 720, 1920, 2048})
        for (int want = 1; want < 4; ++want) {
            SCOPED_TRACE(testing::Message() << "count=" << count << " even=" << (want & 1) << " odd=" << (want >> 1));
            std::vector<Guarded<float>> rows(4, Guarded<float>(count));
            for (Guarded<float> &r : rows)
                for (int j = 0; j < count; ++j) {
                    // Mostly plain values, some exact halves (the rounding's ties), some
                    // beyond the sample range, infinities and NaNs.
                    const int kind = pick(rng);
                    r[j] = kind < 10   ? value(rng)
                           : kind < 13 ? halves(rng) * 0.5f
                           : kind == 13 ? (j % 2 ? 1.0e6f : -1.0e6f)
                           : kind == 14 ? std::numeric_limits<float>::infinity()
                                        : std::numeric_limits<float>::quiet_NaN();
                }
            Guarded<std::int16_t> even(count), odd(count);
            Guarded<std::int16_t> simdEven(even), simdOdd(odd);
            ref.wavelet->synthesizeRowPair(rows[0].data(), rows[1].data(), rows[2].data(), rows[3].data(), count,
                                           even.data(), odd.data(), want & 1, want >> 1);
            simd.wavelet->synthesizeRowPair(rows[0].data(), rows[1].data(), rows[2].data(), rows[3].data(), count,
                                            simdEven.data(), simdOdd.data(), want & 1, want >> 1);
            EXPECT_TRUE(same(even, simdEven)) << "even row";
            EXPECT_TRUE(same(odd, simdOdd)) << "odd row";
        }
}

// ---- Pre-passes -----------------------------------------------------------------

// An output image of the host's shape (pitch w + 4, a row below the picture) inside
// guard zones; every pixel the pass does not write keeps the pattern.
struct OutputImage {
    int w, h, pitch;
    Guarded<PIXEL_YC> px;
    OutputImage(int width, int height) : w(width), h(height), pitch(width + 4), px(pitch * (height + 1)) {}
};

FILTER_PROC_INFO procInfo(OutputImage &edit, OutputImage &temp) {
    FILTER_PROC_INFO fpip{};
    fpip.ycp_edit = edit.px.data();
    fpip.ycp_temp = temp.px.data();
    fpip.w = edit.w;
    fpip.h = edit.h;
    fpip.max_w = edit.pitch;
    fpip.max_h = edit.h + 1;
    return fpip;
}

// The fills of the pre-pass tests, and their flat ground with noise around the
// thresholds moved against either end of the 16-bit range, where every sum and
// correction saturates.
struct PrepassFill {
    q5test::Fill fill;
    int shift;
};
std::vector<PrepassFill> prepassFills() {
    std::vector<PrepassFill> fills;
    for (q5test::Fill fill : q5test::kAllFills) fills.push_back({fill, 0});
    fills.push_back({q5test::Fill::NearThreshold, 31760});
    fills.push_back({q5test::Fill::NearThreshold, -33760});
    return fills;
}
q5test::Image prepassImage(int w, int h, PrepassFill f, std::uint32_t seed, int threshold) {
    q5test::Image im = q5test::filledImage(w, h, f.fill, seed, threshold);
    auto moved = [&](std::int16_t v, int by) { return static_cast<std::int16_t>(std::clamp(v + by, -32768, 32767)); };
    if (f.shift)
        for (PIXEL_YC &p : im.px) p = {moved(p.y, f.shift), moved(p.cb, f.shift), moved(p.cr, f.shift)};
    return im;
}

// The thread's scratch the AVX2 rows keep their rings in: none, some too small for
// a frame's rows, and as much as the small size class gives.
std::vector<std::size_t> scratchSizes() {
    return {0, 64, 20000, workBufferSizes({832, 512}).scratchOctets - 32};
}

// The pass over the whole frame, in one call or in two bands (as two threads split
// it), with the scratch (if any) ahead of a guard zone.
template <class Run>
OutputImage runBands(int w, int h, std::size_t scratchBytes, bool split, Run run) {
    OutputImage edit(w, h), temp(w, h);
    FILTER_PROC_INFO fpip = procInfo(edit, temp);
    q5test::RowScratch scratch(scratchBytes);
    const PrepassScratch given = scratchBytes ? scratch.view() : PrepassScratch{};
    if (split) {
        run(fpip, 0, h / 2, given);
        run(fpip, h / 2, h, given);
    } else {
        run(fpip, 0, h, given);
    }
    EXPECT_TRUE(scratch.guardIntact()) << "written past the scratch it was given";
    return run.writesEdit ? std::move(edit) : std::move(temp);
}

void checkBlockNrRows(const KernelTables &ref, const KernelTables &simd, std::mt19937 &rng) {
    using namespace q5test;
    struct Setting {
        int fieldCount, strengthA, strengthB;
        bool anime;
    } const settings[] = {{1, 40, 80, true},  {2, 40, 80, false},   {1, 0, 0, false},      {2, 8, 16, false},
                          {1, 160, 320, true}, {1, 37, 75, false},  {2, 30000, 32767, false}, {1, 3000, -3000, false},
                          {2, 12000, 24000, false}, {2, 40, -80, false}};
    for (PrepassFill fill : prepassFills())
        for (const Setting &s : settings)
            for (auto [w, h] : {std::pair{16, 16}, std::pair{32, 20}, std::pair{48, 32}, std::pair{80, 20},
                                std::pair{224, 20}})
                for (std::size_t bytes : scratchSizes()) {
                    const std::uint32_t seed = rng();
                    const bool split = h == 32;
                    SCOPED_TRACE(testing::Message() << fillName(fill.fill) << "+" << fill.shift << " " << w << "x" << h
                                                    << " f=" << s.fieldCount << " A=" << s.strengthA << " B="
                                                    << s.strengthB << " anime=" << s.anime << " scratch=" << bytes);
                    const Image source = prepassImage(w, h, fill, seed, s.strengthA / 4 + 1);
                    auto with = [&](const KernelTables &k) {
                        struct {
                            const KernelTables &k;
                            const Image &source;
                            const Setting &s;
                            bool writesEdit = true;
                            void operator()(FILTER_PROC_INFO &fpip, int begin, int end, PrepassScratch scratch) const {
                                k.prefilter->blockNrRows(begin, end, s.fieldCount, &fpip, source.data(), s.strengthA,
                                                         s.strengthB, s.anime, scratch);
                            }
                        } run{k, source, s};
                        return runBands(w, h, bytes, split, run);
                    };
                    const OutputImage scalar = with(ref), kernel = with(simd);
                    const ::testing::AssertionResult result = same(scalar.px, kernel.px);
                    EXPECT_TRUE(result);
                    if (!result) return;  // the first differing case says enough
                }
}

void checkMosquitoNrRows(const KernelTables &ref, const KernelTables &simd, std::mt19937 &rng) {
    using namespace q5test;
    for (PrepassFill fill : prepassFills())
        for (int t : {0, 40, 450, 1800, 20000})
            for (int f : {1, 2})
                for (auto [w, h] : {std::pair{16, 12}, std::pair{48, 32}, std::pair{400, 12}})
                    for (std::size_t bytes : {std::size_t{0}, scratchSizes().back()})
                        for (int variant = 0; variant < 3; ++variant) {
                            const std::uint32_t seed = rng();
                            SCOPED_TRACE(testing::Message() << fillName(fill.fill) << "+" << fill.shift << " " << w
                                                            << "x" << h << " t=" << t << " f=" << f << " scratch="
                                                            << bytes << " variant " << variant);
                            const Image source = prepassImage(w, h, fill, seed, 20);
                            const Image other = prepassImage(w, h, fill, seed + 1, 20);
                            Image next = prepassImage(w, h, fill, seed + 2, 20);
                            if (variant == 2) {
                                // A row near zero takes a short form of the search; a
                                // neighbour 32768 from the target must keep it from there.
                                std::uniform_int_distribution<int> coin(0, 7);
                                for (PIXEL_YC &p : next.px)
                                    if (coin(rng) == 0) p = {32763, 29768, -30268};
                            }
                            // variant 1: the first frame of a clip, its own previous frame.
                            const Image &prev = variant == 1 ? source : other;
                            auto with = [&](const KernelTables &k) {
                                struct {
                                    const KernelTables &k;
                                    const Image &source, &prev, &next;
                                    int f, t;
                                    bool writesEdit = false;
                                    void operator()(FILTER_PROC_INFO &fpip, int begin, int end,
                                                    PrepassScratch scratch) const {
                                        k.prefilter->mosquitoNrRows(source.data(), prev.data(), &fpip, next.data(), f,
                                                                    t, begin, end, scratch);
                                    }
                                } run{k, source, prev, next, f, t};
                                return runBands(w, h, bytes, h == 32, run);
                            };
                            const OutputImage scalar = with(ref), kernel = with(simd);
                            const ::testing::AssertionResult result = same(scalar.px, kernel.px);
                            EXPECT_TRUE(result);
                            if (!result) return;
                        }
}

// ---- Temporal -------------------------------------------------------------------

// The current and the next frame's full slots of `lines` ring lines of len
// positions, and the previous frame's coarsest bands (a sixteenth of each line) in
// its past slot: the current frame's values, and neighbours close to them (most
// within the threshold) or anything at all (NaN and infinity included) where the
// slot is marked empty.
struct Ring {
    Guarded<float> a, b, past;
    Ring(long lines, int len, const TemporalJob &job, std::mt19937 &rng)
        : a(kFullSlots * lines * len), b(kFullSlots * lines * len), past(kPastSlots * lines * (len / 16)) {
        std::uniform_real_distribution<float> value(-3000.0f, 3000.0f), step(-60.0f, 60.0f);
        std::uniform_int_distribution<int> pick(0, 9);
        const long slot = lines * len, band = len / 16;
        const auto neighbour = [&](float c, bool empty) {
            const int kind = pick(rng);
            return !empty || kind < 6 ? c + step(rng)
                   : kind < 8         ? std::numeric_limits<float>::quiet_NaN()
                                      : std::numeric_limits<float>::infinity();
        };
        for (long i = 0; i < slot; ++i) {
            const float c = value(rng);
            a[job.curSlot * slot + i] = c;
            a[job.nextSlot * slot + i] = neighbour(c, job.nextEmpty);
            if (i % len < band) past[(job.prevSlot * lines + i / len) * band + i % len] = neighbour(c, job.prevEmpty);
            for (int s = 0; s < kFullSlots; ++s) b[s * slot + i] = value(rng);
        }
    }
};

// One line of each frame, as the fit reads them.
struct FitLines {
    Guarded<float> prev, cur, next;
    FitLines(int count, const TemporalJob &job, std::mt19937 &rng) : prev(count), cur(count), next(count) {
        std::uniform_real_distribution<float> value(-3000.0f, 3000.0f), step(-60.0f, 60.0f);
        std::uniform_int_distribution<int> pick(0, 9);
        const auto neighbour = [&](float c, bool empty) {
            const int kind = pick(rng);
            return !empty || kind < 6 ? c + step(rng)
                   : kind < 8         ? std::numeric_limits<float>::quiet_NaN()
                                      : std::numeric_limits<float>::infinity();
        };
        for (int i = 0; i < count; ++i) {
            cur[i] = value(rng);
            prev[i] = neighbour(cur[i], job.prevEmpty);
            next[i] = neighbour(cur[i], job.nextEmpty);
        }
    }
};

void checkTemporalFit(const KernelTables &ref, const KernelTables &simd, std::mt19937 &rng) {
    for (int count : {4, 8, 12, 60, 64, 132})
        for (int frame = 0; frame < 3; ++frame)
            for (int empty = 0; empty < 4; ++empty)
                for (float threshold : {0.0f, 40.01f, 1.0e9f}) {
                    SCOPED_TRACE(testing::Message() << "count=" << count << " frame=" << frame << " prev empty "
                                                    << (empty & 1) << " next empty " << (empty >> 1)
                                                    << " threshold=" << threshold);
                    const TemporalJob job = makeTemporalJob(frame, empty & 1, empty >> 1);
                    const FitLines l(count, job, rng);
                    Guarded<float> out(count), simdOut(count);
                    ref.temporal->temporalFit(job, count, threshold, out.data(), l.prev.data(), l.cur.data(),
                                              l.next.data());
                    simd.temporal->temporalFit(job, count, threshold, simdOut.data(), l.prev.data(), l.cur.data(),
                                               l.next.data());
                    EXPECT_TRUE(same(out, simdOut));
                }
}

void checkRebuildOctet(const KernelTables &ref, const KernelTables &simd, std::mt19937 &rng) {
    constexpr long kLines = 16;
    for (int len : {64, 192, 512, 832, 1280, 2048})
        for (int empty = 0; empty < 4; ++empty) {
            SCOPED_TRACE(testing::Message() << "len=" << len << " prev empty " << (empty & 1) << " next empty "
                                            << (empty >> 1));
            const TemporalParams params{makeTemporalJob(4, empty & 1, empty >> 1), 40.01f, false, {}};
            const Ring ring(kLines, len, params.job, rng);
            const long first = 8;  // the second octet of lines
            auto rebuild = [&](const KernelTables &k, std::vector<Guarded<float>> &lines) {
                OctetBuffers b{lines[0].data(), lines[1].data(), lines[2].data(), lines[3].data()};
                k.temporal->rebuildOctet(params, ring.a.data(), ring.b.data(), ring.past.data(), kLines, first, len, b);
                for (int i = 0; i < 4; ++i)
                    if (b.band == lines[i].data()) return i;
                return -1;
            };
            std::vector<Guarded<float>> lines(4, Guarded<float>(kLanes * len)), simdLines(lines);
            const int at = rebuild(ref, lines), simdAt = rebuild(simd, simdLines);
            ASSERT_EQ(at, simdAt) << "the rebuilt octet is left in another buffer";
            ASSERT_GE(at, 0);
            EXPECT_TRUE(same(lines[at], simdLines[at])) << "the rebuilt octet";
            for (const Guarded<float> &l : simdLines) EXPECT_TRUE(l.guardsIntact()) << "an octet line's guard zone";
        }
}

// ---- Rounding -------------------------------------------------------------------

// Flat 8 x 8 regions with a little noise, busy ones, and ones at the 16-bit extremes.
void fillRoundingImage(PIXEL_YC *image, int w, int h, long pitch, std::mt19937 &rng) {
    auto uni = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const int extremes[] = {-32768, -32760, 32767, 32759, 29999, 30012};
    for (int ry = 0; ry < h; ry += 8)
        for (int rx = 0; rx < w; rx += 8) {
            const int kind = uni(0, 9), spread = uni(0, 9);
            const int by = uni(-300, 5000), bc = uni(-2100, 2100), br = uni(-2100, 2100);
            for (int y = ry; y < std::min(ry + 8, h); ++y)
                for (int x = rx; x < std::min(rx + 8, w); ++x) {
                    auto s = [](int v) { return static_cast<std::int16_t>(v); };
                    PIXEL_YC &p = image[y * pitch + x];
                    if (kind < 6)
                        p = {s(by + uni(0, spread)), s(bc + uni(0, spread)), s(br + uni(0, spread))};
                    else if (kind < 9)
                        p = {s(uni(0, 4095)), s(uni(-2048, 2047)), s(uni(-2048, 2047))};
                    else
                        p = {s(extremes[uni(0, 5)]), s(extremes[uni(0, 5)]), s(extremes[uni(0, 5)])};
                }
        }
}

// A frame of w x h in a host image of pitch w + 8 inside guard zones, its
// remainder arrays exactly as long as the widest block needs (or one short, which
// the pass must round plainly without touching them), leftovers of earlier passes in
// them.
struct RoundingFrame {
    int w, h, count;
    Guarded<PIXEL_YC> image;
    Guarded<std::int16_t> remainders;
    FILTER_PROC_INFO fpip{};
    RoundingFrame(int width, int height, int frame, bool tight, std::mt19937 &rng)
        : w(width), h(height), count(width / 4 + (tight ? 15 : 14)), image((width + 8) * height),
          remainders(3 * count) {
        fillRoundingImage(image.data(), w, h, w + 8, rng);
        for (std::size_t i = 0; i < remainders.size(); ++i) remainders[i] = static_cast<std::int16_t>(rng() % 16);
        fpip.w = w;
        fpip.h = h;
        fpip.max_w = w + 8;
        fpip.max_h = h;
        fpip.frame = frame;
    }
    RoundingFrame(const RoundingFrame &o)
        : w(o.w), h(o.h), count(o.count), image(o.image), remainders(o.remainders), fpip(o.fpip) {}
    FILTER_PROC_INFO *info() {
        fpip.ycp_edit = image.data();
        return &fpip;
    }
};

struct RoundingCase {
    int w, strength;
    bool fields, tight;
};
std::vector<RoundingCase> roundingCases() {
    std::vector<RoundingCase> cases;
    for (int w : {16, 48, 720, 1920})
        for (int strength : {0, 7, 16, 32, 511})
            for (bool fields : {false, true}) cases.push_back({w, strength, fields, true});
    cases.push_back({64, 16, false, false});
    return cases;
}

void checkRoundingRows(const KernelTables &ref, const KernelTables &simd, std::mt19937 &rng) {
    for (const RoundingCase &c : roundingCases())
        for (int call = 0; call < 2; ++call) {
            SCOPED_TRACE(testing::Message() << "w=" << c.w << " strength=" << c.strength << " fields=" << c.fields
                                            << (c.tight ? "" : " arrays one short") << " call " << call);
            RoundingFrame scalar(c.w, 40, 11 + call, c.tight, rng), kernel(scalar);
            const RoundingParams params{c.strength, c.fields, {}};
            const int first = call ? 8 : 0, limit = call ? 40 : 32;
            ref.rounding->roundingRows(scalar.info(), &params, first, limit, scalar.remainders.data(), scalar.count);
            simd.rounding->roundingRows(kernel.info(), &params, first, limit, kernel.remainders.data(), kernel.count);
            EXPECT_TRUE(same(scalar.image, kernel.image)) << "image";
            EXPECT_TRUE(same(scalar.remainders, kernel.remainders)) << "remainders";
        }
}

// A pass set up over rows [0, 24) of the frame, as the luma sweep does it.
bool beginPass(RoundingFrame &f, const RoundingParams &params, RoundingPass &pass) {
    return beginRoundingPass(f.info(), &params, 0, f.remainders.data(), f.count, pass);
}

void expectSamePass(const RoundingPass &scalar, const RoundingPass &kernel) {
    for (int c = 0; c < 3; ++c) EXPECT_EQ(scalar.lane[c], kernel.lane[c]) << "register " << c << " after the pass";
}

void checkRoundingGroups(const KernelTables &ref, const KernelTables &simd, std::mt19937 &rng) {
    for (const RoundingCase &c : roundingCases()) {
        if (!c.tight) continue;
        SCOPED_TRACE(testing::Message() << "w=" << c.w << " strength=" << c.strength << " fields=" << c.fields);
        RoundingFrame scalar(c.w, 24, 5, true, rng), kernel(scalar);
        const RoundingParams params{c.strength, c.fields, {}};
        RoundingPass a, b;
        ASSERT_TRUE(beginPass(scalar, params, a) && beginPass(kernel, params, b));
        for (int f = 0; f < a.fieldStep; ++f) {
            seedRoundingField(a, c.w);
            seedRoundingField(b, c.w);
            // The field's groups in two calls, as the sweep hands them over.
            const int split = 4 * a.fieldStep;
            ref.rounding->roundingGroups(scalar.info(), a, f, 0, split);
            ref.rounding->roundingGroups(scalar.info(), a, f, split, 24);
            simd.rounding->roundingGroups(kernel.info(), b, f, 0, split);
            simd.rounding->roundingGroups(kernel.info(), b, f, split, 24);
        }
        EXPECT_TRUE(same(scalar.image, kernel.image)) << "image";
        EXPECT_TRUE(same(scalar.remainders, kernel.remainders)) << "remainders";
        expectSamePass(a, b);
    }
}

void checkRoundingGroupSamples(const KernelTables &ref, const KernelTables &simd, std::mt19937 &rng) {
    for (const RoundingCase &c : roundingCases()) {
        if (!c.tight) continue;
        SCOPED_TRACE(testing::Message() << "w=" << c.w << " strength=" << c.strength << " fields=" << c.fields);
        RoundingFrame scalar(c.w, 24, 6, true, rng), kernel(scalar);
        // The samples: a row of luma and half-width rows of chroma for each picture row.
        Guarded<std::int16_t> luma(24 * c.w), cb(24 * c.w / 2), cr(24 * c.w / 2);
        std::uniform_int_distribution<int> any(-32768, 32767);
        for (std::size_t i = 0; i < luma.size(); ++i) luma[i] = static_cast<std::int16_t>(any(rng));
        for (std::size_t i = 0; i < cb.size(); ++i) {
            cb[i] = static_cast<std::int16_t>(any(rng) / 8);
            cr[i] = static_cast<std::int16_t>(any(rng) / 8);
        }
        const RoundingParams params{c.strength, c.fields, {}};
        RoundingPass a, b;
        ASSERT_TRUE(beginPass(scalar, params, a) && beginPass(kernel, params, b));
        auto groups = [&](const KernelTables &k, RoundingFrame &frame, RoundingPass &pass) {
            for (int f = 0; f < pass.fieldStep; ++f) {
                seedRoundingField(pass, c.w);
                for (int y = 0; y < 24; y += 4 * pass.fieldStep) {
                    RoundingGroupSamples group;
                    for (int k4 = 0; k4 < 4; ++k4) {
                        const int row = y + f + k4 * pass.fieldStep;
                        group.luma[k4] = luma.data() + row * c.w;
                        group.cb[k4] = cb.data() + row * c.w / 2;
                        group.cr[k4] = cr.data() + row * c.w / 2;
                        group.out[k4] = frame.image.data() + row * (c.w + 8);
                    }
                    k.rounding->roundingGroupSamples(pass, c.w, group);
                }
            }
        };
        groups(ref, scalar, a);
        groups(simd, kernel, b);
        EXPECT_TRUE(same(scalar.image, kernel.image)) << "image";
        EXPECT_TRUE(same(scalar.remainders, kernel.remainders)) << "remainders";
        expectSamePass(a, b);
    }
}

// ---- The table of checks ---------------------------------------------------------

struct KernelCheck {
    const char *family, *kernel;
    void (*check)(const KernelTables &scalar, const KernelTables &simd, std::mt19937 &rng);
};

const KernelCheck kChecks[] = {
    {"wavelet", "forwardOctets", checkForwardOctets},
    {"wavelet", "shrinkOctets", checkShrinkOctets},
    {"wavelet", "inverseOctets", checkInverseOctets},
    {"wavelet", "mergeLowBandOctets", checkMergeLowBandOctets},
    {"wavelet", "synthesizeRowPair", checkSynthesizeRowPair},
    {"prefilter", "blockNrRows", checkBlockNrRows},
    {"prefilter", "mosquitoNrRows", checkMosquitoNrRows},
    {"temporal", "temporalFit", checkTemporalFit},
    {"temporal", "rebuildOctet", checkRebuildOctet},
    {"rounding", "roundingRows", checkRoundingRows},
    {"rounding", "roundingGroups", checkRoundingGroups},
    {"rounding", "roundingGroupSamples", checkRoundingGroupSamples},
};

// A table that gains an entry without a check here would go unchecked.
template <class Table>
constexpr int entriesOf() {
    return sizeof(Table) / sizeof(void (*)());
}
int checksOf(const char *family) {
    int n = 0;
    for (const KernelCheck &c : kChecks) n += std::string_view(c.family) == family;
    return n;
}

// The tiers above scalar that this processor runs, whatever the environment caps.
std::vector<KernelTables> processorTiers() {
    std::vector<KernelTables> tiers;
    if (detectCpuLevel() >= 1) tiers.push_back(kernelTablesFor(kTierSse2));
    if (detectCpuLevel() >= 1 && cpuHasAvx2()) tiers.push_back(kernelTablesFor(kTierAvx2));
    return tiers;
}

}  // namespace

TEST(KernelTables, EveryEntryOfEveryTierMatchesTheScalarTwin) {
    ASSERT_EQ(checksOf("wavelet"), entriesOf<WaveletKernels>());
    ASSERT_EQ(checksOf("prefilter"), entriesOf<PrefilterKernels>());
    ASSERT_EQ(checksOf("temporal"), entriesOf<TemporalKernels>());
    ASSERT_EQ(checksOf("rounding"), entriesOf<RoundingKernels>());
    const std::vector<KernelTables> tiers = processorTiers();
    if (tiers.empty()) GTEST_SKIP() << "the processor runs only the scalar twins";
    const std::uint32_t seed = q5test::testSeed();
    std::printf("kernel checks with seed %u (Q5_TEST_SEED=%u replays them)\n", seed, seed);
    const KernelTables scalar = kernelTablesFor(kTierScalar);
    ControlWordScope cw(kProcControlWord);  // the control word the frames run under
    for (const KernelTables &tier : tiers)
        for (const KernelCheck &c : kChecks) {
            const char *name = tier.tier == kTierAvx2 ? "avx2" : "sse2";
            SCOPED_TRACE(testing::Message() << name << " " << c.family << "." << c.kernel << ", Q5_TEST_SEED=" << seed);
            std::mt19937 rng(seed);
            c.check(scalar, tier, rng);
        }
}
