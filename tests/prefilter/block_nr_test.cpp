// Block noise reduction: the SSE2 and AVX2 kernels against their scalar twin, the pass's
// stated numbers and borders, and the worker's split into row bands.
#include <gtest/gtest.h>

#include <cmath>

#include "core/control_word.h"
#include "core/core.h"
#include "prefilter/prefilter.h"
#include "prefilter/prepass_support.h"
#include "support/support.h"

using namespace q5test;

namespace {

constexpr BlockNrRowsFn kKernels[] = {&blockNrRowsScalar, &blockNrRowsSse2, &blockNrRowsAvx2};
constexpr const char *kKernelNames[] = {"scalar", "sse2", "avx2"};
// The AVX2 kernel only where this processor runs it.
int kernelCount() { return cpuHasAvx2() ? 3 : 2; }

Image flatLuma(int w, int h, PIXEL_YC value) { return Image(w, h, value); }

// BlockNR 5 unless told otherwise.
BlockSettings strength(int blockNr, int fieldCount = 1, bool anime = true) {
    return {fieldCount, 8 * blockNr, 16 * blockNr, anime};
}

}  // namespace

TEST(BlockNr, VectorKernelsMatchScalarOnRandomAndExtremeFrames) {
    ControlWordScope cw(kProcControlWord);
    const BlockSettings settings[] = {{1, 40, 80, true},  {2, 40, 80, false}, {1, 0, 0, false},
                                      {2, 8, 16, false},  {1, 160, 320, true}, {1, 37, 75, false},
                                      {2, 30000, 32767, false}};
    int changed[std::size(kAllFills)] = {};
    for (Fill fill : kAllFills)
        for (const BlockSettings &s : settings)
            for (auto [w, h] : {std::pair{16, 16}, std::pair{48, 32}}) {
                const std::uint32_t seed = testSeed() + w * 7 + s.strengthA + static_cast<int>(fill);
                SCOPED_TRACE(testing::Message() << fillName(fill) << " " << w << "x" << h << " f=" << s.fieldCount
                                                << " A=" << s.strengthA << " B=" << s.strengthB
                                                << " anime=" << s.animeMode << " seed=" << seed);
                const Image source = filledImage(w, h, fill, seed, s.strengthA / 4);
                const Image scalar = runBlock(&blockNrRowsScalar, source, s);
                changed[static_cast<int>(fill)] += countChanged(source, scalar);
                for (int k = 1; k < kernelCount(); ++k)
                    expectSameImage(scalar, runBlock(kKernels[k], source, s), kKernelNames[k]);
                EXPECT_TRUE(guardsIntact(scalar));
            }
    // The near-threshold ground must really be filtered, or the comparison proves little.
    EXPECT_GT(changed[static_cast<int>(Fill::NearThreshold)], 10000);
}

TEST(BlockNr, RowKernelMatchesScalarAcrossWholeRows) {
    // The AVX2 kernel's rows (with the octet scratch) across widths of several
    // 48-value runs, skin-coloured ground with anime mode off and on, both field
    // counts, and the strengths at the ends of the sliders.
    if (!cpuHasAvx2()) GTEST_SKIP() << "this processor or system does not run AVX2";
    ControlWordScope cw(kProcControlWord);
    RowScratch scratch;
    const BlockSettings settings[] = {strength(5, 1, true), strength(5, 2, false), strength(20, 1, false),
                                      strength(1, 2, true), strength(0, 1, false), {1, 3000, -3000, false}};
    for (Fill fill : kAllFills)
        for (const BlockSettings &s : settings)
            for (int w : {32, 80, 224}) {
                const std::uint32_t seed = testSeed() + w + 3 * s.strengthA + static_cast<int>(fill);
                SCOPED_TRACE(testing::Message() << fillName(fill) << " w=" << w << " f=" << s.fieldCount
                                                << " A=" << s.strengthA << " B=" << s.strengthB
                                                << " anime=" << s.animeMode << " seed=" << seed);
                const Image source = filledImage(w, 20, fill, seed, s.strengthA / 4 + 1);
                expectSameImage(runBlock(&blockNrRowsScalar, source, s),
                                runBlock(&blockNrRowsAvx2, source, s, scratch.view()), "avx2 rows");
            }
    EXPECT_TRUE(scratch.guardIntact());
}

TEST(BlockNr, RowKernelKeepsWithinTheScratchItIsGiven) {
    // Scratch too small for a frame's rows (or for anime mode off's luma rows on top)
    // sends the frame to the unit kernel: the same frame, and not a byte beyond.
    if (!cpuHasAvx2()) GTEST_SKIP() << "this processor or system does not run AVX2";
    ControlWordScope cw(kProcControlWord);
    const Image source = filledImage(224, 20, Fill::NearThreshold, testSeed(), 11);
    for (bool anime : {true, false})
        for (std::size_t bytes : {std::size_t{0}, std::size_t{64}, std::size_t{20000}, std::size_t{40000}}) {
            SCOPED_TRACE(testing::Message() << "bytes=" << bytes << " anime=" << anime);
            RowScratch scratch(bytes);
            const BlockSettings s = strength(5, 1, anime);
            expectSameImage(runBlock(&blockNrRowsScalar, source, s),
                            runBlock(&blockNrRowsAvx2, source, s, scratch.view()), "avx2");
            EXPECT_TRUE(scratch.guardIntact());
        }
}

TEST(BlockNr, ConstantFrameIsUnchanged) {
    for (int k = 0; k < kernelCount(); ++k)
        for (PIXEL_YC colour : {PIXEL_YC{1000, -300, 200}, PIXEL_YC{2000, -200, 100}, PIXEL_YC{32767, -32768, 0}})
            for (int f : {1, 2}) {
                SCOPED_TRACE(testing::Message() << kKernelNames[k] << " y=" << colour.y << " f=" << f);
                const Image source = flatLuma(32, 32, colour);
                Image expected = guardedOutput(32, 32);
                for (int y = 0; y < 32; ++y)
                    for (int x = 0; x < 32; ++x) expected.at(x, y) = colour;
                expectSameImage(expected, runBlock(kKernels[k], source, strength(20, f, false)));
            }
}

TEST(BlockNr, CopiesTheBorderRowsAndColumnsInFrameAndFieldMode) {
    for (int k = 0; k < kernelCount(); ++k)
        for (int f : {1, 2}) {
            SCOPED_TRACE(testing::Message() << kKernelNames[k] << " f=" << f);
            const Image source = filledImage(48, 32, Fill::NearThreshold, testSeed(), 8);
            const Image out = runBlock(kKernels[k], source, strength(5, f));
            EXPECT_TRUE(bordersCopied(source, out, 2 * f));
            EXPECT_FALSE(bordersCopied(source, out, 2 * f + 1)) << "the first processed rows are filtered";
            EXPECT_TRUE(guardsIntact(out));
        }
}

TEST(BlockNr, LoneRaiseOfThirtyFallsToFourAndOfFortyStays) {
    // BlockNR 5: T1 = 40, T2 = 80. All nine candidates accept a raise of 30
    // (Sum = -240, Count = 9); from 40 on only the sample itself does.
    for (int k = 0; k < kernelCount(); ++k)
        for (int x : {12, 13, 14, 15})  // every luma lane of a unit
            for (auto [raised, expected] : {std::pair{1030, 1004}, std::pair{1040, 1040}, std::pair{1300, 1300},
                                            std::pair{970, 997}}) {
                SCOPED_TRACE(testing::Message() << kKernelNames[k] << " x=" << x << " sample=" << raised);
                Image source = flatLuma(32, 16, {1000, 0, 0});
                source.at(x, 8).y = static_cast<std::int16_t>(raised);
                EXPECT_EQ(runBlock(kKernels[k], source, strength(5)).at(x, 8).y, expected);
            }
}

TEST(BlockNr, SkinColouredEvenPixelQuartersBothLumaThresholdsWhenAnimeIsOff) {
    // Skin: T1 = 10, T2 = 20, so a raise of 10 stays and one of 9 falls by 7.
    // The even pixel's colour decides for the odd pixel to its right as well.
    const PIXEL_YC skin = {2000, -200, 100}, notSkin = {2000, -200, 700};
    for (int k = 0; k < kernelCount(); ++k)
        for (bool evenIsSkin : {true, false})
            for (int x : {12, 13}) {
                SCOPED_TRACE(testing::Message() << kKernelNames[k] << " evenIsSkin=" << evenIsSkin << " x=" << x);
                Image source(32, 16);
                for (int y = 0; y <= 16; ++y)
                    for (int c = 0; c < source.pitch; ++c)
                        source.at(c, y) = (c % 2 == 0) == evenIsSkin ? skin : notSkin;
                // {raise, result with quartered thresholds, result with full ones}
                for (auto [raise, quartered, full] : {std::tuple{10, 10, 2}, std::tuple{9, 2, 2}}) {
                    source.at(x, 8).y = static_cast<std::int16_t>(2000 + raise);
                    EXPECT_EQ(runBlock(kKernels[k], source, strength(5, 1, false)).at(x, 8).y,
                              2000 + (evenIsSkin ? quartered : full))
                        << "raise " << raise << ", anime off";
                    EXPECT_EQ(runBlock(kKernels[k], source, strength(5, 1, true)).at(x, 8).y, 2000 + full)
                        << "raise " << raise << ", anime on";
                }
            }
}

TEST(BlockNr, SkinToneBoundsExcludeTheBoundAndIncludeTheStepInside) {
    // Each bound of the skin-colour test at its value (not skin) and one step inside
    // (skin), with the other two components well inside. The odd pixel 13 is raised
    // by 10, which stays under the skin's quartered thresholds (T1 = 10) and falls to
    // 2 above the ground under the full ones; its even neighbour 12 decides.
    struct Case {
        int component, value;
        bool skin;
    };
    const Case cases[] = {{0, 1400, false}, {0, 1401, true}, {0, 2999, true},  {0, 3000, false},
                          {1, -680, false}, {1, -679, true}, {1, 279, true},   {1, 280, false},
                          {2, -50, false},  {2, -49, true},  {2, 599, true},   {2, 600, false}};
    for (int k = 0; k < kernelCount(); ++k)
        for (const Case &c : cases) {
            SCOPED_TRACE(testing::Message() << kKernelNames[k] << " " << kComponentNames[c.component] << "="
                                            << c.value);
            PIXEL_YC ground = {2000, -200, 100};
            componentOf(ground, c.component) = static_cast<std::int16_t>(c.value);
            Image source = flatLuma(32, 16, ground);
            source.at(13, 8).y = static_cast<std::int16_t>(ground.y + 10);
            EXPECT_EQ(runBlock(kKernels[k], source, strength(5, 1, false)).at(13, 8).y,
                      ground.y + (c.skin ? 10 : 2));
        }
}

TEST(BlockNr, ChromaUsesHalfThresholds) {
    // Chroma: T1 = 20, T2 = 40 at BlockNR 5; a raise of 19 falls, 20 stays.
    for (int k = 0; k < kernelCount(); ++k)
        for (int c : {1, 2}) {
            Image source = flatLuma(32, 16, {1000, 100, 100});
            componentOf(source.at(14, 8), c) = 119;
            componentOf(source.at(18, 8), c) = 120;
            const Image out = runBlock(kKernels[k], source, strength(5));
            // Sum = -152, Count = 9: -16.9 + 0.5 truncates to -16.
            EXPECT_EQ(componentOf(out.at(14, 8), c), 103) << kKernelNames[k];
            EXPECT_EQ(componentOf(out.at(18, 8), c), 120) << kKernelNames[k];
        }
}

TEST(BlockNr, StrengthZeroCopiesTheFrame) {
    for (int k = 0; k < kernelCount(); ++k)
        for (int f : {1, 2}) {
            const Image source = filledImage(48, 32, Fill::Nominal, testSeed());
            Image expected = source;
            for (int y = 0; y <= 32; ++y)
                for (int x = 0; x < expected.pitch; ++x)
                    if (y == 32 || x >= 48) expected.at(x, y) = kGuard;
            expectSameImage(expected, runBlock(kKernels[k], source, strength(0, f, false)), kKernelNames[k]);
        }
}

TEST(BlockNr, FieldModeReadsOnlyTheTargetsOwnField) {
    for (int k = 0; k < kernelCount(); ++k)
        for (int changed : {0, 1}) {
            SCOPED_TRACE(testing::Message() << kKernelNames[k] << " changed field " << changed);
            const Image source = filledImage(48, 32, Fill::NearThreshold, testSeed());
            Image other = source;
            const Image noise = filledImage(48, 32, Fill::Nominal, testSeed() + 1);
            for (int y = changed; y < 32; y += 2)
                for (int x = 0; x < 48; ++x) other.at(x, y) = noise.at(x, y);
            const Image a = runBlock(kKernels[k], source, strength(5, 2));
            const Image b = runBlock(kKernels[k], other, strength(5, 2));
            for (int y = 1 - changed; y < 32; y += 2)
                for (int x = 0; x < 48; ++x)
                    for (int c = 0; c < 3; ++c)
                        ASSERT_EQ(componentOf(a.at(x, y), c), componentOf(b.at(x, y), c))
                            << "x=" << x << " y=" << y << " " << kComponentNames[c];
        }
}

TEST(BlockNr, OddPixelKeepsItsChromaOffsetFromTheEvenPixel) {
    // The odd pixel's chroma receives the even pixel's correction, never its own.
    for (int k = 0; k < kernelCount(); ++k) {
        const Image source = filledImage(48, 32, Fill::NearThreshold, testSeed());
        const Image out = runBlock(kKernels[k], source, strength(5));
        for (int y = 2; y < 30; ++y)
            for (int x = 2; x < 46; x += 2)
                for (int c : {1, 2})
                    ASSERT_EQ(componentOf(out.at(x + 1, y), c) - componentOf(out.at(x, y), c),
                              componentOf(source.at(x + 1, y), c) - componentOf(source.at(x, y), c))
                        << kKernelNames[k] << " x=" << x << " y=" << y;
    }
}

TEST(BlockNr, WorkerBandsGiveTheSameFrameForAnyThreadCount) {
    ControlWordScope cw(kProcControlWord);
    // Without scratch, and with scratch for the first three threads only.
    RowScratch rows[3];
    const PrepassScratch given[3] = {rows[0].view(), rows[1].view(), rows[2].view()};
    for (int withScratch : {0, 3}) {
        const Image source = filledImage(48, 48, Fill::NearThreshold, testSeed());
        const BlockSettings s = strength(5, 2, false);
        const Image expected = runBlock(&blockNrRowsScalar, source, s);
        for (int threads : {1, 2, 3, 4, 5, 8}) {
            Image edit = guardedOutput(48, 48), temp = guardedOutput(48, 48);
            FILTER_PROC_INFO fpip = procInfo(edit, temp);
            PrepassParams params{};
            params.source = const_cast<PIXEL_YC *>(source.data());
            params.fieldCount = s.fieldCount;
            params.strengthA = s.strengthA;
            params.strengthB = s.strengthB;
            params.animeMode = s.animeMode;
            params.scratch = given;
            params.scratchCount = withScratch;
            params.kernels = processorKernels();
            for (int id = 0; id < threads; ++id) blockNrWorker(id, threads, &params, &fpip);
            expectSameImage(expected, edit,
                            "threads=" + std::to_string(threads) + " with scratch " + std::to_string(withScratch));
        }
    }
}

namespace {

// An 8 x 8 block transform coder: orthonormal DCT, one quantiser step for every
// coefficient, rounding back to whole samples. Smooth areas come out as flat
// blocks with steps at the block edges.
void quantiseBlocks(Image &im, double step) {
    double basis[8][8];
    for (int u = 0; u < 8; ++u)
        for (int x = 0; x < 8; ++x)
            basis[u][x] = (u == 0 ? std::sqrt(0.125) : 0.5) * std::cos((2 * x + 1) * u * M_PI / 16);
    for (int by = 0; by < im.h; by += 8)
        for (int bx = 0; bx < im.w; bx += 8) {
            double coef[8][8] = {};
            for (int u = 0; u < 8; ++u)
                for (int v = 0; v < 8; ++v) {
                    for (int y = 0; y < 8; ++y)
                        for (int x = 0; x < 8; ++x) coef[u][v] += basis[u][y] * basis[v][x] * im.at(bx + x, by + y).y;
                    coef[u][v] = std::round(coef[u][v] / step) * step;
                }
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x) {
                    double s = 0;
                    for (int u = 0; u < 8; ++u)
                        for (int v = 0; v < 8; ++v) s += basis[u][y] * basis[v][x] * coef[u][v];
                    im.at(bx + x, by + y).y = static_cast<std::int16_t>(std::lround(s));
                }
        }
}

double lumaError(const Image &a, const Image &b) {
    double sum = 0;
    for (int y = 0; y < a.h; ++y)
        for (int x = 0; x < a.w; ++x) sum += std::pow(a.at(x, y).y - b.at(x, y).y, 2);
    return sum / (a.w * a.h);
}

}  // namespace

TEST(BlockNr, LowersTheErrorOfABlockQuantisedPicture) {
    ControlWordScope cw(kProcControlWord);
    Image clean(128, 96);
    for (int y = 0; y <= 96; ++y)
        for (int x = 0; x < clean.pitch; ++x)
            clean.at(x, y) = {static_cast<std::int16_t>(2000 + 600 * std::sin(x * 0.045) * std::cos(y * 0.06) + 3 * x),
                              -100, 80};
    Image blocky = clean;
    quantiseBlocks(blocky, 120);
    const double before = lumaError(clean, blocky);
    for (auto [blockNr, bound] : {std::pair{5, 0.97}, std::pair{8, 0.9}}) {
        const double after = lumaError(clean, runBlock(&blockNrRowsSse2, blocky, strength(blockNr)));
        EXPECT_LT(after, bound * before) << "BlockNR " << blockNr << ": mean squared error before " << before
                                         << ", after " << after;
    }
}
