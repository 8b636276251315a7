// Every kernel table the workers call follows the tier: the processor's, capped by
// the environment.
#include <cstdlib>
#include <string>

#include "host/callbacks.h"
#include "output/rounding.h"
#include "prefilter/prefilter.h"
#include "support/support.h"
#include "temporal/temporal.h"
#include "wavelet/line_support.h"

namespace {

// Which tier's kernels each family's table holds, from one kernel of each.
struct Chosen {
    KernelTier wavelet, prefilter, rounding, temporal;
};
Chosen chosenTiers(const KernelTables &k) {
    const auto wavelet = k.wavelet->forwardOctets;
    const auto prefilter = k.prefilter->blockNrRows;
    const auto rounding = k.rounding->roundingGroups;
    const auto temporal = k.temporal->temporalFit;
    return {wavelet == kWaveletAvx2.forwardOctets   ? kTierAvx2
            : wavelet == kWaveletSse2.forwardOctets ? kTierSse2
                                                     : kTierScalar,
            prefilter == kPrefilterAvx2.blockNrRows   ? kTierAvx2
            : prefilter == kPrefilterSse2.blockNrRows ? kTierSse2
                                                       : kTierScalar,
            rounding == kRoundingAvx2.roundingGroups   ? kTierAvx2
            : rounding == kRoundingSse2.roundingGroups ? kTierSse2
                                                        : kTierScalar,
            temporal == kTemporalAvx2.temporalFit   ? kTierAvx2
            : temporal == kTemporalSse2.temporalFit ? kTierSse2
                                                     : kTierScalar};
}
// What each family holds at a tier: its best kernels at or below it.
Chosen expectedTiers(KernelTier tier) {
    const KernelTier sse2 = tier >= kTierSse2 ? kTierSse2 : kTierScalar;
    const KernelTier avx2 = tier >= kTierAvx2 ? kTierAvx2 : sse2;
    return {avx2, avx2, avx2, avx2};
}
void expectTiers(const KernelTables &k, const Chosen &want, const std::string &why) {
    const Chosen got = chosenTiers(k);
    EXPECT_EQ(got.wavelet, want.wavelet) << "wavelet, " << why;
    EXPECT_EQ(got.prefilter, want.prefilter) << "pre-passes, " << why;
    EXPECT_EQ(got.rounding, want.rounding) << "rounding, " << why;
    EXPECT_EQ(got.temporal, want.temporal) << "temporal, " << why;
}

// Sets or clears an environment variable for the life of the object.
class ScopedEnv {
public:
    explicit ScopedEnv(const char *name) : name_(name) {
        const char *set = std::getenv(name);
        had_ = set != nullptr;
        if (set) previous_ = set;
    }
    ~ScopedEnv() {
        if (had_)
            setenv(name_, previous_.c_str(), 1);
        else
            unsetenv(name_);
    }
    void set(const char *value) { setenv(name_, value, 1); }
    void clear() { unsetenv(name_); }

private:
    const char *name_;
    bool had_ = false;
    std::string previous_;
};

}  // namespace

// The processor level and AVX2 give the tier; every family then holds its best
// kernels at or below that tier (scalar below SSE2; no family has SSE3 kernels).
TEST(KernelTables, EveryFamilyHoldsItsBestKernelsAtOrBelowTheTier) {
    ScopedEnv cap("Q5_MAX_TIER"), noAvx2("Q5_NO_AVX2");
    cap.clear();
    noAvx2.clear();
    EXPECT_EQ(kernelTier(0), kTierScalar);
    EXPECT_EQ(kernelTier(1), kTierSse2);
    EXPECT_EQ(kernelTier(2), cpuHasAvx2() ? kTierAvx2 : kTierSse3);
    for (KernelTier tier : {kTierScalar, kTierSse2, kTierSse3, kTierAvx2}) {
        const KernelTables k = kernelTablesFor(tier);
        EXPECT_EQ(k.tier, tier);
        expectTiers(k, expectedTiers(tier), "tier " + std::to_string(tier));
    }
}

// The golden runs and the Windows tests force lower tiers through these variables:
// unless they reach the choice func_init makes for every family, they compare a
// tier with itself.
TEST(KernelTables, LoadObeysTheEnvironmentsCapInEveryFamily) {
    if (!q5test::cpuHasSse3()) GTEST_SKIP() << "the processor lacks SSE3";
    ScopedEnv cap("Q5_MAX_TIER"), noAvx2("Q5_NO_AVX2");
    const KernelTier best = cpuHasAvx2() ? kTierAvx2 : kTierSse3;
    struct Case {
        const char *maxTier, *noAvx2;  // null: unset
        KernelTier want;
    } cases[] = {
        {nullptr, nullptr, best},     {nullptr, "0", best},          {nullptr, "", best},
        {nullptr, "1", kTierSse3},    {"avx2", nullptr, best},       {"sse3", nullptr, kTierSse3},
        {"sse2", nullptr, kTierSse2}, {"scalar", nullptr, kTierScalar}, {"scalar", "1", kTierScalar},
        {"avx2", "1", kTierSse3},     {"bogus", nullptr, best},
    };
    FILTER_DLL *fp = q5test::linkedEntry()();
    for (const Case &c : cases) {
        if (c.maxTier) cap.set(c.maxTier); else cap.clear();
        if (c.noAvx2) noAvx2.set(c.noAvx2); else noAvx2.clear();
        ASSERT_EQ(fp->func_init(fp), TRUE);
        expectTiers(moduleKernels, expectedTiers(c.want), std::string("Q5_MAX_TIER=") + (c.maxTier ? c.maxTier : "(unset)") +
                                               " Q5_NO_AVX2=" + (c.noAvx2 ? c.noAvx2 : "(unset)"));
        fp->func_exit(fp);
    }
    cap.clear();
    noAvx2.clear();
    ASSERT_EQ(fp->func_init(fp), TRUE);
    fp->func_exit(fp);
}
