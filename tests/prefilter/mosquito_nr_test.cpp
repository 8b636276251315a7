// Mosquito noise reduction: the SSE2 and AVX2 kernels against their scalar twin, every
// candidate pair on its own, the stated numbers, borders, saturation, the joint
// early stop and the worker's split into row bands.
#include <gtest/gtest.h>

#include <random>

#include "core/control_word.h"
#include "core/core.h"
#include "prefilter/prefilter.h"
#include "prefilter/prepass_support.h"
#include "support/support.h"

using namespace q5test;

namespace {

constexpr MosquitoNrRowsFn kKernels[] = {&mosquitoNrRowsScalar, &mosquitoNrRowsSse2, &mosquitoNrRowsAvx2};
constexpr const char *kKernelNames[] = {"scalar", "sse2", "avx2"};
// The AVX2 kernel only where this processor runs it.
int kernelCount() { return cpuHasAvx2() ? 3 : 2; }

Image withColour(int w, int h, PIXEL_YC colour) { return Image(w, h, colour); }

// The pass gives odd pixels the chroma of the even pixel to their left, so only
// frames whose pixel pairs already share their chroma can come out unchanged.
Image pairedChroma(Image im) {
    for (int y = 0; y <= im.h; ++y)
        for (int x = 0; x + 1 < im.pitch; x += 2) {
            im.at(x + 1, y).cb = im.at(x, y).cb;
            im.at(x + 1, y).cr = im.at(x, y).cr;
        }
    return im;
}

}  // namespace

TEST(MosquitoNr, VectorKernelsMatchScalarOnRandomAndExtremeFrames) {
    int changed = 0;
    for (Fill fill : kAllFills)
        for (int t : {0, 40, 450, 1800, 20000})
            for (int f : {1, 2})
                for (bool ownPrev : {false, true}) {
                    const std::uint32_t seed = testSeed() + 31 * t + f + static_cast<int>(fill);
                    SCOPED_TRACE(testing::Message() << fillName(fill) << " t=" << t << " f=" << f
                                                    << " prev=source " << ownPrev << " seed=" << seed);
                    const Image source = filledImage(48, 32, fill, seed, 20);
                    const Image prev = ownPrev ? source : filledImage(48, 32, fill, seed + 1, 20);
                    const Image next = filledImage(48, 32, fill, seed + 2, 20);
                    const Image scalar = runMosquito(&mosquitoNrRowsScalar, source, prev, next, f, t);
                    for (int k = 1; k < kernelCount(); ++k)
                        expectSameImage(scalar, runMosquito(kKernels[k], source, prev, next, f, t), kKernelNames[k]);
                    EXPECT_TRUE(guardsIntact(scalar));
                    if (fill == Fill::NearThreshold) changed += countChanged(source, scalar);
                }
    // The near-threshold ground must really be filtered, or the comparison proves little.
    EXPECT_GT(changed, 20000);
}

TEST(MosquitoNr, AvxKernelMatchesScalarInStripsAndWholeRows) {
    // Without the octet scratch the AVX2 kernel goes by strips of columns (400 pixels:
    // three strips, the last with the units after its groups); with it, by whole rows.
    if (!cpuHasAvx2()) GTEST_SKIP() << "this processor or system does not run AVX2";
    for (bool wholeRows : {false, true}) {
        RowScratch scratch;
        const PrepassScratch given = wholeRows ? scratch.view() : PrepassScratch{};
        for (int w : {32, 400})
            for (Fill fill : {Fill::Random, Fill::Nominal, Fill::NearThreshold, Fill::Int16Max})
                for (int f : {1, 2})
                    for (int t : {40, 450}) {
                        const std::uint32_t seed = testSeed() + w + 7 * t + f + static_cast<int>(fill);
                        SCOPED_TRACE(testing::Message() << "whole rows " << wholeRows << " w=" << w << " "
                                                        << fillName(fill) << " f=" << f << " t=" << t
                                                        << " seed=" << seed);
                        const Image source = filledImage(w, 12, fill, seed, 20);
                        const Image prev = filledImage(w, 12, fill, seed + 1, 20);
                        const Image next = filledImage(w, 12, fill, seed + 2, 20);
                        expectSameImage(runMosquito(&mosquitoNrRowsScalar, source, prev, next, f, t),
                                        runMosquito(&mosquitoNrRowsAvx2, source, prev, next, f, t, given),
                                        "avx2");
                    }
        EXPECT_TRUE(scratch.guardIntact());
    }
}

// A row whose values all lie near zero takes a short form of the search; one far
// sample in any of the three images must keep its row from it. The short form's
// distances wrap exactly where a member lies 32768 from the target, so the
// neighbours here hold such samples (working values: chroma is offset by 2048)
// beside a flat current frame that alone would qualify.
TEST(MosquitoNr, VectorKernelsMatchScalarWhereANeighbourLies32768FromTheTarget) {
    const PIXEL_YC flat = {-5, -3000, 2500};
    const PIXEL_YC far = {32763, 29768, -30268};  // each 32768 from flat's working value
    for (int f : {1, 2})
        for (int t : {40, 450}) {
            const std::uint32_t seed = testSeed() + 3 * t + f;
            SCOPED_TRACE(testing::Message() << "f=" << f << " t=" << t << " seed=" << seed);
            std::mt19937 rng(seed);
            std::uniform_int_distribution<int> noise(-20, 20), coin(0, 7);
            const Image source(48, 16, flat);
            auto neighbour = [&]() {
                Image im(48, 16, flat);
                for (PIXEL_YC &p : im.px)
                    for (int c = 0; c < 3; ++c)
                        componentOf(p, c) = coin(rng) == 0 ? componentOf(far, c)
                                                           : static_cast<std::int16_t>(componentOf(flat, c) + noise(rng));
                return pairedChroma(im);
            };
            const Image prev = neighbour(), next = neighbour();
            const Image scalar = runMosquito(&mosquitoNrRowsScalar, source, prev, next, f, t);
            for (int k = 1; k < kernelCount(); ++k)
                expectSameImage(scalar, runMosquito(kKernels[k], source, prev, next, f, t), kKernelNames[k]);
        }
}

namespace {

// The pairs as the pass tries them: image (0 = previous, 1 = next, 2 = current),
// then the row and column offsets of each member. Rows: kF / -kF stand for the
// field count F, 1 and -1 for one frame row.
constexpr int kF = 10;
struct PairSpec {
    int image, rowA, colA, rowB, colB;
    bool lumaOnly;
};
constexpr PairSpec kPairSpecs[19] = {
    {0, 0, 0, 0, 0, false},    {0, 0, -1, 0, 1, false},   {0, 0, 1, 0, -1, false},
    {0, 0, -2, 0, 2, false},   {0, 0, 2, 0, -2, false},   {0, -kF, 0, kF, 0, false},
    {0, kF, 0, -kF, 0, false}, {0, -1, 0, 1, 0, false},   {0, 1, 0, -1, 0, false},
    {2, -kF, 0, kF, 0, false}, {2, 0, -1, 0, 1, true},    {2, 0, -2, 0, 2, true},
    {2, -kF, -2, kF, 2, false}, {2, -kF, 2, kF, -2, false}, {2, -kF, -1, kF, 1, false},
    {2, -kF, 1, kF, -1, false}, {2, -1, 0, 1, 0, false},  {2, -1, -1, 1, 1, false},
    {2, -1, 1, 1, -1, false},
};
int rowOffset(int code, int f) { return code == kF ? f : code == -kF ? -f : code; }

}  // namespace

TEST(MosquitoNr, EachPairAloneAcceptsItsMembersButChromaSkipsTheHorizontalPairs) {
    // Everything lies far from the target except the two members of one pair, which
    // hold the background value: only that pair can be accepted (cost 40 <= 2t = 80).
    constexpr int kRow = 6;
    struct Target {
        int x, component;
    };
    for (int k = 0; k < kernelCount(); ++k)
        for (int f : {1, 2})
            for (Target target : {Target{12, 0}, Target{11, 0}, Target{12, 1}, Target{10, 2}})
                for (int p = 0; p < 19; ++p) {
                    SCOPED_TRACE(testing::Message() << kKernelNames[k] << " f=" << f << " pair " << p + 1
                                                    << " x=" << target.x << " " << kComponentNames[target.component]);
                    const int base = target.component == 0 ? 1000 : 0;
                    const PIXEL_YC far = {1500, 500, 500};
                    Image images[3] = {withColour(32, 16, far), withColour(32, 16, far), withColour(32, 16, far)};
                    componentOf(images[2].at(target.x, kRow), target.component) = static_cast<std::int16_t>(base + 20);
                    const PairSpec &pair = kPairSpecs[p];
                    Image &memberImageA = images[pair.image];
                    Image &memberImageB = images[pair.image == 0 ? 1 : 2];
                    componentOf(memberImageA.at(target.x + pair.colA, kRow + rowOffset(pair.rowA, f)), target.component) =
                        static_cast<std::int16_t>(base);
                    componentOf(memberImageB.at(target.x + pair.colB, kRow + rowOffset(pair.rowB, f)), target.component) =
                        static_cast<std::int16_t>(base);
                    const Image out = runMosquito(kKernels[k], images[2], images[0], images[1], f, 40);
                    const bool accepted = !(pair.lumaOnly && target.component != 0);
                    EXPECT_EQ(componentOf(out.at(target.x, kRow), target.component), base + (accepted ? 5 : 20));
                }
}

TEST(MosquitoNr, LoneRaiseOfTwentyFallsToFiveAndOfFortyOneStays) {
    // MosqNR 5 in the small size class: t = 40. Pair 1 costs 40 for 1020, 82 for 1041.
    for (int k = 0; k < kernelCount(); ++k)
        for (int f : {1, 2})
            for (auto [raised, expected] : {std::pair{1020, 1005}, std::pair{1041, 1041}, std::pair{980, 995}}) {
                SCOPED_TRACE(testing::Message() << kKernelNames[k] << " f=" << f << " sample=" << raised);
                const Image still = withColour(32, 16, {1000, 0, 0});
                Image current = still;
                current.at(13, 8).y = static_cast<std::int16_t>(raised);
                const Image out = runMosquito(kKernels[k], current, still, still, f, 40);
                EXPECT_EQ(out.at(13, 8).y, expected);
                for (int y = 7; y <= 9; ++y)
                    for (int x = 12; x <= 14; ++x)
                        if (x != 13 || y != 8) {
                            EXPECT_EQ(out.at(x, y).y, 1000) << "x=" << x << " y=" << y;
                        }
            }
}

TEST(MosquitoNr, StillClipIsUnchanged) {
    for (int k = 0; k < kernelCount(); ++k)
        for (int f : {1, 2})
            for (int t : {0, 40, 1800}) {
                const Image still = pairedChroma(filledImage(48, 32, Fill::Nominal, testSeed()));
                Image expected = still;
                for (int y = 0; y <= 32; ++y)
                    for (int x = 0; x < expected.pitch; ++x)
                        if (y == 32 || x >= 48) expected.at(x, y) = kGuard;
                expectSameImage(expected, runMosquito(kKernels[k], still, still, still, f, t),
                                std::string(kKernelNames[k]) + " t=" + std::to_string(t));
            }
}

TEST(MosquitoNr, StrengthZeroLeavesAMovingFrameUnchanged) {
    for (int k = 0; k < kernelCount(); ++k) {
        const Image source = pairedChroma(filledImage(48, 32, Fill::Nominal, testSeed()));
        const Image prev = filledImage(48, 32, Fill::Nominal, testSeed() + 1);
        Image expected = source;
        for (int y = 0; y <= 32; ++y)
            for (int x = 0; x < expected.pitch; ++x)
                if (y == 32 || x >= 48) expected.at(x, y) = kGuard;
        expectSameImage(expected, runMosquito(kKernels[k], source, prev, prev, 1, 0), kKernelNames[k]);
    }
}

TEST(MosquitoNr, CopiesTheBorderRowsAndColumnsInFrameAndFieldMode) {
    for (int k = 0; k < kernelCount(); ++k)
        for (int f : {1, 2}) {
            SCOPED_TRACE(testing::Message() << kKernelNames[k] << " f=" << f);
            const Image source = filledImage(48, 32, Fill::NearThreshold, testSeed(), 20);
            const Image prev = filledImage(48, 32, Fill::NearThreshold, testSeed() + 1, 20);
            const Image out = runMosquito(kKernels[k], source, prev, prev, f, 40);
            EXPECT_TRUE(bordersCopied(source, out, 2));
            EXPECT_FALSE(bordersCopied(source, out, 3)) << "the first processed rows are filtered";
            EXPECT_TRUE(guardsIntact(out));
        }
}

TEST(MosquitoNr, SaturatesAtTheTopOfTheRange) {
    // 3 x Pick + 2c saturates at 32767, so luma tops out at 4095 and chroma at 2047.
    for (int k = 0; k < kernelCount(); ++k)
        for (auto [value, luma, chroma] : {std::tuple{4095, 4095, 2047}, std::tuple{4096, 4095, 2047},
                                           std::tuple{5000, 4095, 2047}, std::tuple{2047, 2047, 2047},
                                           std::tuple{2048, 2048, 2047}}) {
            const auto v = static_cast<std::int16_t>(value);
            const Image still = withColour(32, 16, {v, v, v});
            const Image out = runMosquito(kKernels[k], still, still, still, 1, 40);
            EXPECT_EQ(out.at(9, 8).y, luma) << kKernelNames[k] << " value " << value;
            EXPECT_EQ(out.at(9, 8).cb, chroma) << kKernelNames[k] << " value " << value;
            EXPECT_EQ(out.at(9, 8).cr, chroma) << kKernelNames[k] << " value " << value;
        }
}

TEST(MosquitoNr, OddPixelsTakeTheChromaOfTheEvenPixelToTheirLeft) {
    for (int k = 0; k < kernelCount(); ++k) {
        const Image source = filledImage(48, 32, Fill::NearThreshold, testSeed(), 20);
        const Image prev = filledImage(48, 32, Fill::NearThreshold, testSeed() + 1, 20);
        const Image out = runMosquito(kKernels[k], source, prev, prev, 1, 40);
        for (int y = 2; y < 30; ++y)
            for (int x = 2; x < 46; x += 2) {
                ASSERT_EQ(out.at(x + 1, y).cb, out.at(x, y).cb) << kKernelNames[k] << " x=" << x << " y=" << y;
                ASSERT_EQ(out.at(x + 1, y).cr, out.at(x, y).cr) << kKernelNames[k] << " x=" << x << " y=" << y;
            }
    }
}

TEST(MosquitoNr, UnitStopsEarlyOnlyWhenAllItsValuesAreSettled) {
    // The luma of pixel 14 sits 4 above a still ground (pair 1 costs 8, settled), and
    // so do its left and right neighbours in the current frame only, which makes
    // pair 11 cost 0. Pair 11 is reached only while another value of the unit
    // (X = 14 .. 17) is still unsettled; one in the unit to the left (X = 10, which
    // the AVX2 kernel runs beside it) must not keep it searching.
    for (int k = 0; k < kernelCount(); ++k)
        for (int unsettledAt : {0, 16, 12}) {
            const Image still = withColour(32, 16, {1000, 0, 0});
            Image current = still;
            for (int x : {13, 14, 15}) current.at(x, 8).y = 1004;
            if (unsettledAt) current.at(unsettledAt, 8).cr = 600;
            const Image out = runMosquito(kKernels[k], current, still, still, 1, 40);
            // Pick 2000: (6000 + 2008 + 4) >> 3 = 1001; Pick 2008: (6024 + 2008 + 4) >> 3 = 1004.
            EXPECT_EQ(out.at(14, 8).y, unsettledAt == 16 ? 1004 : 1001)
                << kKernelNames[k] << ", unsettled value at x = " << unsettledAt;
        }
}

TEST(MosquitoNr, WorkerBandsGiveTheSameFrameForAnyThreadCount) {
    const Image source = filledImage(48, 48, Fill::NearThreshold, testSeed(), 20);
    const Image prev = filledImage(48, 48, Fill::NearThreshold, testSeed() + 1, 20);
    const Image next = filledImage(48, 48, Fill::NearThreshold, testSeed() + 2, 20);
    const Image expected = runMosquito(&mosquitoNrRowsScalar, source, prev, next, 2, 40);
    RowScratch rows[2];
    const PrepassScratch given[2] = {rows[0].view(), rows[1].view()};
    for (int threads : {1, 2, 3, 4, 5, 8}) {
        Image edit = guardedOutput(48, 48), temp = guardedOutput(48, 48);
        FILTER_PROC_INFO fpip = procInfo(edit, temp);
        PrepassParams params{};
        params.source = const_cast<PIXEL_YC *>(source.data());
        params.prevFrame = const_cast<PIXEL_YC *>(prev.data());
        params.nextFrame = const_cast<PIXEL_YC *>(next.data());
        params.fieldCount = 2;
        params.strengthC = 40;
        params.scratch = given;
        params.scratchCount = 2;  // the other threads go by strips
        params.kernels = processorKernels();
        for (int id = 0; id < threads; ++id) mosquitoNrWorker(id, threads, &params, &fpip);
        expectSameImage(expected, temp, "threads=" + std::to_string(threads));
    }
}
