// Rounding correction: the SSE2 pass against the scalar reference, the thread
// split and its persistent remainders, the carry / dither / plain-rounding cases,
// and the dispatch from the frame driver.
#include "output/rounding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "common/service_log.h"
#include "core/core.h"
#include "host/callbacks.h"
#include "output/output_stage.h"
#include "output/rounding_internal.h"
#include "support/support.h"

namespace {

constexpr PIXEL_YC kGuard = {0x1235, -0x1235, 0x7FF9};  // off the grid on purpose

bool same(const PIXEL_YC &a, const PIXEL_YC &b) {
    return a.y == b.y && a.cb == b.cb && a.cr == b.cr;
}

bool same(const std::vector<PIXEL_YC> &a, const std::vector<PIXEL_YC> &b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const PIXEL_YC &p, const PIXEL_YC &q) { return same(p, q); });
}

struct Settings {
    RoundingParams params;
    Settings(int strength, bool fields) : params{strength, fields, {}} {}
};

// A picture of w x h inside a larger host image whose margins hold a guard value.
struct Frame {
    int w, h;
    std::vector<PIXEL_YC> image;
    FILTER_PROC_INFO fpip{};
    Frame(int width, int height, int frame = 0) : w(width), h(height) {
        fpip.max_w = w + 8;
        fpip.max_h = h + 8;
        image.assign(static_cast<std::size_t>(fpip.max_w) * fpip.max_h, kGuard);
        fpip.ycp_edit = image.data();
        fpip.w = w;
        fpip.h = h;
        fpip.frame = frame;
    }
    Frame(const Frame &o) : w(o.w), h(o.h), image(o.image), fpip(o.fpip) {
        fpip.ycp_edit = image.data();
    }
    PIXEL_YC &at(int x, int y) { return image[static_cast<std::size_t>(y) * fpip.max_w + x]; }
    bool guardIntact() const {
        for (int y = 0; y < fpip.max_h; ++y)
            for (int x = 0; x < fpip.max_w; ++x)
                if ((x >= w || y >= h) &&
                    !same(image[static_cast<std::size_t>(y) * fpip.max_w + x], kGuard))
                    return false;
        return true;
    }
};

// Flat 8 x 8 regions with a little noise (flat blocks in frame and in field
// mode), busy regions, and regions at the 16-bit extremes.
void fillMixed(Frame &f, std::uint32_t seed) {
    std::mt19937 rng(seed);
    auto uni = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int ry = 0; ry < f.h; ry += 8)
        for (int rx = 0; rx < f.w; rx += 8) {
            const int kind = uni(0, 9);
            const int by = uni(-300, 5000), bc = uni(-2100, 2100), br = uni(-2100, 2100);
            const int spread = uni(0, 9);
            for (int y = ry; y < std::min(ry + 8, f.h); ++y)
                for (int x = rx; x < std::min(rx + 8, f.w); ++x) {
                    PIXEL_YC &p = f.at(x, y);
                    if (kind < 6) {
                        p = {static_cast<std::int16_t>(by + uni(0, spread)),
                             static_cast<std::int16_t>(bc + uni(0, spread)),
                             static_cast<std::int16_t>(br + uni(0, spread))};
                    } else if (kind < 9) {
                        p = {static_cast<std::int16_t>(uni(0, 4095)),
                             static_cast<std::int16_t>(uni(-2048, 2047)),
                             static_cast<std::int16_t>(uni(-2048, 2047))};
                    } else {
                        const int e[] = {-32768, -32760, 32767, 32759, 29999, 30012};
                        p = {static_cast<std::int16_t>(e[uni(0, 5)]),
                             static_cast<std::int16_t>(e[uni(0, 5)]),
                             static_cast<std::int16_t>(e[uni(0, 5)])};
                    }
                }
        }
}

void fillFlat(Frame &f, PIXEL_YC value) {
    for (int y = 0; y < f.h; ++y)
        for (int x = 0; x < f.w; ++x) f.at(x, y) = value;
}

bool onGrid(const PIXEL_YC &p) { return ((p.y | p.cb | p.cr) & 15) == 0; }

// The worker with buffers of the small size class (their remainders persist from
// run to run) and the kernel tables of this processor's tier, the test's own.
class RoundingWorker : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(allocateWorkBuffers(buffers_, {832, 512})); }
    void TearDown() override { releaseWorkBuffers(buffers_); }
    void resetRemainders() {
        for (ScratchSet &s : buffers_.scratch)
            std::memset(s.scratchQuarter, 0, workBufferSizes(buffers_.planes).scratchQuarter);
    }
    void run(Frame &f, Settings &s, int threads) {
        s.params.context = {&kernels_, &buffers_, nullptr};
        for (int t = 0; t < threads; ++t) roundingWorker(t, threads, &s.params, &f.fpip);
    }

    WorkBuffers buffers_{};
    KernelTables kernels_ = kernelTablesFor(kernelTier(detectCpuLevel()));
};

}  // namespace

TEST(RoundingRows, SimdMatchesScalarOnRandomFramesWithTightRemainderArrays) {
    const std::uint32_t seed = q5test::testSeed();
    std::vector<std::pair<const char *, RoundingRowsFn>> kernels = {{"sse2", roundingRowsSse2}};
    if (cpuHasAvx2()) kernels.push_back({"avx2", roundingRowsAvx2});
    for (auto [name, kernel] : kernels)
    for (int w : {16, 48, 720, 1920}) {
        for (bool fields : {false, true}) {
            SCOPED_TRACE(testing::Message()
                         << name << " w=" << w << " fields=" << fields << " seed=" << seed);
            // Exactly as many entries as the widest block needs, with guards around.
            const int count = w / 4 + 15;
            const std::int16_t guard = 0x5A5A;
            std::vector<std::int16_t> refRem(3 * count + 16, guard), simdRem(refRem);
            std::mt19937 rng(seed + w);
            for (int i = 0; i < 3 * count; ++i)  // leftovers of earlier passes
                refRem[8 + i] = simdRem[8 + i] = static_cast<std::int16_t>(rng() % 16);
            for (int call = 0; call < 4; ++call) {
                Settings s(std::array{0, 16, 32, 7}[call], fields);
                Frame ref(w, 40, 11 + call);
                fillMixed(ref, seed + 97 * call + w);
                Frame simd(ref);
                const int first = call % 2 ? 8 : 0, limit = call % 2 ? 40 : 32;
                roundingRowsScalar(&ref.fpip, &s.params, first, limit, refRem.data() + 8, count);
                kernel(&simd.fpip, &s.params, first, limit, simdRem.data() + 8, count);
                for (int y = 0; y < ref.h; ++y)
                    for (int x = 0; x < w; ++x)
                        ASSERT_TRUE(same(ref.at(x, y), simd.at(x, y)))
                            << "call " << call << " pixel " << x << "," << y << ": scalar ("
                            << ref.at(x, y).y << "," << ref.at(x, y).cb << "," << ref.at(x, y).cr
                            << ") simd (" << simd.at(x, y).y << "," << simd.at(x, y).cb << ","
                            << simd.at(x, y).cr << ")";
                ASSERT_EQ(refRem, simdRem) << "call " << call;
                ASSERT_TRUE(std::all_of(refRem.begin(), refRem.begin() + 8,
                                        [&](auto v) { return v == guard; }));
                ASSERT_TRUE(std::all_of(refRem.end() - 8, refRem.end(),
                                        [&](auto v) { return v == guard; }));
                ASSERT_TRUE(simd.guardIntact());
            }
        }
    }
}

// The luma sweep's way in: the groups made from samples (luma, half-width chroma)
// must give what writing the pixels and rounding the rows gives, on every tier,
// for pictures whose width leaves a part of sixteen blocks, with the pass's
// remainders and registers running on from group to group and field to field.
TEST(RoundingRows, GroupsFromSamplesMatchWritingThePixelsAndRoundingThem) {
    const std::uint32_t seed = q5test::testSeed();
    std::vector<std::pair<const char *, RoundingGroupSamplesFn>> kernels = {
        {"scalar", roundingGroupSamplesScalar}, {"sse2", roundingGroupSamplesSse2}};
    if (cpuHasAvx2()) kernels.push_back({"avx2", roundingGroupSamplesAvx2});
    for (auto [name, kernel] : kernels)
        for (int w : {16, 80, 720}) {
            SCOPED_TRACE(testing::Message() << name << " w=" << w << " seed=" << seed);
            const int count = w / 4 + 15;
            std::vector<std::int16_t> refRem(3 * count, 3), rem(refRem);
            for (int call = 0; call < 3; ++call) {
                Settings s(std::array{16, 0, 32}[call], call != 1);
                Frame ref(w, 24, 5 + call);
                fillMixed(ref, seed + 31 * call + w);
                // The samples: the frame's luma, and its chroma of even columns.
                std::vector<std::int16_t> luma(24 * w), cb(24 * w / 2), cr(24 * w / 2);
                for (int y = 0; y < 24; ++y)
                    for (int x = 0; x < w; ++x) {
                        PIXEL_YC &p = ref.at(x, y);
                        p.cb = ref.at(x & ~1, y).cb;
                        p.cr = ref.at(x & ~1, y).cr;
                        luma[y * w + x] = p.y;
                        cb[(y * w + x) / 2] = p.cb;
                        cr[(y * w + x) / 2] = p.cr;
                    }
                Frame made(w, 24, 5 + call);
                roundingRowsScalar(&ref.fpip, &s.params, 0, 24, refRem.data(), count);
                RoundingPass pass;
                ASSERT_TRUE(beginRoundingPass(&made.fpip, &s.params, 0, rem.data(), count, pass));
                for (int f = 0; f < pass.fieldStep; ++f) {
                    seedRoundingField(pass, w);
                    for (int y = 0; y < 24; y += 4 * pass.fieldStep) {
                        RoundingGroupSamples group;
                        for (int k = 0; k < 4; ++k) {
                            const int row = y + f + k * pass.fieldStep;
                            group.luma[k] = luma.data() + row * w;
                            group.cb[k] = cb.data() + row * w / 2;
                            group.cr[k] = cr.data() + row * w / 2;
                            group.out[k] = &made.at(0, row);
                        }
                        kernel(pass, w, group);
                    }
                }
                for (int y = 0; y < 24; ++y)
                    for (int x = 0; x < w; ++x)
                        ASSERT_TRUE(same(ref.at(x, y), made.at(x, y))) << "call " << call << " pixel " << x << "," << y;
                ASSERT_EQ(refRem, rem) << "call " << call;
                ASSERT_TRUE(made.guardIntact());
            }
        }
}

TEST(RoundingRows, RoundsPlainlyWithoutTouchingRemainderArraysTooNarrowForThePicture) {
    for (auto rows : {roundingRowsScalar, roundingRowsSse2}) {
        const int w = 64, count = w / 4 + 14;  // one entry short
        std::vector<std::int16_t> rem(3 * count, 77);
        Settings s(16, false);
        Frame f(w, 16);
        fillMixed(f, q5test::testSeed());
        Frame in(f);
        rows(&f.fpip, &s.params, 0, 16, rem.data(), count);
        EXPECT_TRUE(std::all_of(rem.begin(), rem.end(), [](auto v) { return v == 77; }));
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < w; ++x) {
                const PIXEL_YC &a = in.at(x, y);
                const PIXEL_YC expected = {static_cast<std::int16_t>((a.y + 8) & 0xFFF0),
                                           static_cast<std::int16_t>((a.cb + 8) & 0xFFF0),
                                           static_cast<std::int16_t>((a.cr + 8) & 0xFFF0)};
                ASSERT_TRUE(same(f.at(x, y), expected)) << x << "," << y;
            }
    }
}

TEST(RoundingLevels, ChromaTakesTheBlockBrightnessFromTheLowLevelUp) {
    // Levels 512..1024 (strength 16). At m = 512 exactly the block counts as
    // bright: every component takes m. One below, luma holds the low level and each
    // chroma its own minimum.
    const rounding::Levels lv{512, 1024};
    int level[3];
    const int atLow[3] = {0, 1024, 1024};  // m = 2048 / 4
    rounding::blockLevels(atLow, lv, level);
    EXPECT_EQ(level[0], 512);
    EXPECT_EQ(level[1], 512);
    EXPECT_EQ(level[2], 512);
    const int belowLow[3] = {0, -1024, 1020};  // m = 2044 / 4 = 511
    rounding::blockLevels(belowLow, lv, level);
    EXPECT_EQ(level[0], 512);
    EXPECT_EQ(level[1], 512);
    EXPECT_EQ(level[2], 1020);
}

TEST_F(RoundingWorker, PutsEveryComponentOnTheGridForAnyThreadCount) {
    for (int threads = 1; threads <= 8; ++threads)
        for (bool fields : {false, true}) {
            SCOPED_TRACE(testing::Message() << "threads=" << threads << " fields=" << fields);
            Settings s(16, fields);
            Frame f(720, 96, threads);
            fillMixed(f, q5test::testSeed() + threads);
            run(f, s, threads);
            for (int y = 0; y < f.h; ++y)
                for (int x = 0; x < f.w; ++x) ASSERT_TRUE(onGrid(f.at(x, y))) << x << "," << y;
            EXPECT_TRUE(f.guardIntact());
        }
}

TEST_F(RoundingWorker, MatchesTheScalarReferenceOverConsecutiveFrames) {
    // The reference runs the host's split with its own remainder sets; above four
    // threads set t % 4 serves the ranges of threads t, t + 4, ... in that order.
    const int count = buffers_.planes.stride / 4;
    for (int threads = 1; threads <= 8; ++threads) {
        resetRemainders();
        std::vector<std::vector<std::int16_t>> refRem(4, std::vector<std::int16_t>(3 * count, 0));
        for (int frame = 0; frame < 4; ++frame) {
            SCOPED_TRACE(testing::Message() << "threads=" << threads << " frame=" << frame
                                            << " seed=" << q5test::testSeed());
            Settings s(frame == 3 ? 0 : 16, frame == 2);
            Frame module(704, 120, frame);
            fillMixed(module, q5test::testSeed() + 31 * frame);
            Frame ref(module);
            run(module, s, threads);
            const int groups = ref.h / 8;
            for (int t = 0; t < threads; ++t)
                roundingRowsScalar(&ref.fpip, &s.params, 8 * (groups * t / threads),
                                   8 * (groups * (t + 1) / threads), refRem[t % 4].data(), count);
            ASSERT_TRUE(same(module.image, ref.image));
            for (int t = 0; t < 4; ++t)
                ASSERT_EQ(0, std::memcmp(refRem[t].data(), buffers_.scratch[t].scratchQuarter,
                                         refRem[t].size() * sizeof(std::int16_t)))
                    << "remainder set " << t;
        }
    }
}

TEST_F(RoundingWorker, GivesIdenticalOutputForIdenticalRuns) {
    for (int threads : {1, 3, 6}) {
        Settings s(16, true);
        Frame a(352, 64, 7);
        fillMixed(a, q5test::testSeed());
        Frame b(a);
        resetRemainders();
        run(a, s, threads);
        resetRemainders();
        run(b, s, threads);
        EXPECT_TRUE(same(a.image, b.image)) << "threads=" << threads;
    }
}

TEST_F(RoundingWorker, RoundsBusyBlocksPlainly) {
    // Left blocks are busy in luma (range 40), right blocks only in Cb (range 17).
    for (int strength : {0, 16, 32})
        for (int frame : {4, 5}) {
            Settings s(strength, false);
            Frame f(64, 16, frame);
            const std::int16_t lumaCycle[4] = {1000, 999, 1024, 1040};
            for (int y = 0; y < f.h; ++y)
                for (int x = 0; x < f.w; ++x)
                    f.at(x, y) = x < 32
                                     ? PIXEL_YC{lumaCycle[(x + y) % 4], 999, 1024}
                                     : PIXEL_YC{1000, static_cast<std::int16_t>(x % 2 ? 17 : 0), 0};
            run(f, s, 2);
            for (int y = 0; y < f.h; ++y)
                for (int x = 0; x < f.w; ++x) {
                    const PIXEL_YC p = f.at(x, y);
                    if (x < 32) {
                        const std::int16_t want[4] = {1008, 992, 1024, 1040};
                        ASSERT_TRUE(same(p, PIXEL_YC{want[(x + y) % 4], 992, 1024}))
                            << x << "," << y;
                    } else {
                        ASSERT_TRUE(
                            same(p, PIXEL_YC{1008, static_cast<std::int16_t>(x % 2 ? 16 : 0), 0}))
                            << x << "," << y;
                    }
                }
        }
}

TEST_F(RoundingWorker, CarriesFlatBlocksWithPositiveLevelAndDithersTheOthersAtStrengthZero) {
    // Left: luma 100, level 1: every component carries. Right: m < 0, so luma and
    // Cr (level 0) dither while Cb (minimum 32, level 1) still carries.
    auto make = [](int frame) {
        Frame f(64, 32, frame);
        for (int y = 0; y < f.h; ++y)
            for (int x = 0; x < f.w; ++x)
                f.at(x, y) = x < 32 ? PIXEL_YC{100, 0, 0} : PIXEL_YC{-64, 32, 0};
        return f;
    };
    Settings s(0, false);
    Frame even = make(2), odd = make(3);
    resetRemainders();
    run(even, s, 1);
    resetRemainders();
    run(odd, s, 1);

    long lumaSum = 0;
    int dithered = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x) {
            const PIXEL_YC e = even.at(x, y), o = odd.at(x, y);
            if (x < 32) {
                ASSERT_TRUE(same(e, o)) << "carry does not depend on the frame " << x << "," << y;
                ASSERT_TRUE(e.y == 96 || e.y == 112) << e.y;
                lumaSum += e.y;
            } else {
                ASSERT_EQ(e.cb, o.cb) << x << "," << y;
                ASSERT_EQ(e.y + 64, -(o.y + 64)) << x << "," << y;
                ASSERT_EQ(e.cr, -o.cr) << x << "," << y;
                dithered += e.y != -64;
            }
        }
    EXPECT_NEAR(lumaSum / (32.0 * 32.0), 100.0, 1.5);  // the carry keeps the mean
    EXPECT_GT(dithered, 32 * 32 / 4);
}

TEST_F(RoundingWorker, BlendsCarryAndDitherEvenlyAtTheMiddleOfTheDefaultLevels) {
    // Flat 3072 on the grid: m = 768 sits midway between 512 and 1024. Past the
    // first band (where negative seeds borrow 16 once), nothing is carried, so
    // a value moves only by dither: noise gain 4 lifts it by 16 when the noise is
    // at its top value 15 (about 1 in 32) and never lowers it. Pure carry (S = 12,
    // level at the top) leaves it alone; pure dither (S = 24) moves it both ways.
    auto moves = [&](int strength, int &up, int &down) {
        Settings s(strength, false);
        Frame f(320, 64, 6);
        fillFlat(f, {3072, 0, 0});
        resetRemainders();
        run(f, s, 1);
        up = down = 0;
        for (int y = 4; y < f.h; ++y)
            for (int x = 0; x < f.w; ++x) {
                const PIXEL_YC p = f.at(x, y);
                for (int d : {p.y - 3072, static_cast<int>(p.cb), static_cast<int>(p.cr)}) {
                    up += d == 16;
                    down += d == -16;
                    ASSERT_TRUE(d == 0 || d == 16 || d == -16) << d;
                }
            }
    };
    const double values = 3.0 * 320 * 60;
    int up, down;
    moves(16, up, down);
    EXPECT_EQ(down, 0);
    EXPECT_NEAR(up / values, 1.0 / 32, 0.01);
    moves(12, up, down);
    EXPECT_EQ(up + down, 0);
    moves(24, up, down);
    EXPECT_NEAR(up / values, 0.25, 0.03);
    EXPECT_NEAR(down / values, 0.25, 0.03);
}

TEST_F(RoundingWorker, MirrorsTheDitherOnOddFrames) {
    // Dark flat regions on the grid dither purely; an odd frame flips every noise
    // value n to -1 - n, so each move is mirrored.
    for (bool fields : {false, true}) {
        Settings s(16, fields);
        Frame even(256, 48, 8);
        std::mt19937 rng(q5test::testSeed());
        for (int ry = 0; ry < even.h; ry += 8)
            for (int rx = 0; rx < even.w; rx += 8) {
                const PIXEL_YC v = {
                    static_cast<std::int16_t>(16 * (rng() % 64)),
                    static_cast<std::int16_t>(16 * (static_cast<int>(rng() % 33) - 16)),
                    static_cast<std::int16_t>(16 * (static_cast<int>(rng() % 33) - 16))};
                for (int y = ry; y < ry + 8; ++y)
                    for (int x = rx; x < rx + 8; ++x) even.at(x, y) = v;
            }
        Frame in(even), odd(even);
        odd.fpip.frame = 9;
        run(even, s, 2);
        run(odd, s, 2);
        int moved = 0;
        for (int y = 0; y < even.h; ++y)
            for (int x = 0; x < even.w; ++x) {
                const PIXEL_YC a = in.at(x, y), e = even.at(x, y), o = odd.at(x, y);
                ASSERT_EQ(e.y - a.y, a.y - o.y) << x << "," << y;
                ASSERT_EQ(e.cb - a.cb, a.cb - o.cb) << x << "," << y;
                ASSERT_EQ(e.cr - a.cr, a.cr - o.cr) << x << "," << y;
                moved += e.y != a.y;
            }
        EXPECT_GT(moved, even.w * even.h / 4);
    }
}

TEST_F(RoundingWorker, FormsBlocksFromOneFieldWithPerFieldProcessing) {
    // Fields of 1024 and 3072: frame blocks are busy and stay put; field blocks
    // are flat and get dithered.
    for (bool fields : {false, true}) {
        Settings s(16, fields);
        Frame f(128, 32, 1);
        for (int y = 0; y < f.h; ++y)
            for (int x = 0; x < f.w; ++x)
                f.at(x, y) = {static_cast<std::int16_t>(y % 2 ? 3072 : 1024), 0, 0};
        Frame in(f);
        run(f, s, 1);
        EXPECT_EQ(same(f.image, in.image), !fields) << "fields=" << fields;
    }
}

TEST_F(RoundingWorker, RunsOnTheFinishedFrameOnlyWhenCheckBoxFourIsExactlyOne) {
    const q5test::Clip clip = q5test::randomClip(96, 40, 3, q5test::testSeed());
    // The correction runs alone after the luma output, or fused with it when the
    // check box and the strengths agree on the fields: which one depends on the last
    // update, so each host makes its own rather than inherit an earlier test's.
    const auto rounds = [](MULTI_THREAD_FUNC worker) {
        return worker == &roundingWorker || worker == &outputRoundingWorker;
    };
    for (int checkValue : {1, 2, 0}) {
        for (bool fieldsAgree : {true, false}) {
            SCOPED_TRACE(testing::Message() << "check=" << checkValue << (fieldsAgree ? " fused" : " alone"));
            q5host::Host host(q5test::linkedEntry(), 3);
            q5host::ServiceLog log(host);
            host.init();
            host.setCheck(CheckBox::Fields, 1);
            host.update();
            // The pre-passes and the correction follow the box as it stands, the
            // wavelet stages the last update.
            if (!fieldsAgree) host.setCheck(CheckBox::Fields, 0);
            host.setCheck(CheckBox::Rounding, checkValue);
            host.setClip(clip.info(), clip.source());
            host.process(1);
            std::vector<MULTI_THREAD_FUNC> workers;
            for (const q5host::ServiceCall &call : log.calls())
                if (call.kind == q5host::ServiceCall::Exec) workers.push_back(call.worker);
            const long dispatches = std::count_if(workers.begin(), workers.end(), rounds);
            if (checkValue == 1) {
                ASSERT_EQ(dispatches, 1);
                EXPECT_EQ(workers.back(), fieldsAgree ? &outputRoundingWorker : &roundingWorker);
                for (const PIXEL_YC &p : host.outputPicture()) ASSERT_TRUE(onGrid(p));
            } else {
                EXPECT_EQ(dispatches, 0);
            }
        }
    }
}

TEST_F(RoundingWorker, LeavesABlankedFrameBlack) {
    q5test::Clip clip = q5test::randomClip(64, 32, 3, q5test::testSeed());
    clip.unavailable = {false, true, false};
    q5host::Host host(q5test::linkedEntry(), 2);
    q5host::ServiceLog log(host);
    host.init();
    host.setClip(clip.info(), clip.source());
    host.process(1);
    for (const q5host::ServiceCall &call : log.calls())
        EXPECT_FALSE(call.kind == q5host::ServiceCall::Exec && call.worker == &roundingWorker);
    for (const PIXEL_YC &p : host.outputPicture()) ASSERT_TRUE(same(p, PIXEL_YC{0, 0, 0}));
}
