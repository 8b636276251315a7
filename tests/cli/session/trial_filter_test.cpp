// Trial runs for the automatic strength: the risk they estimate from the noisy clip
// alone against the true error from the clean one, under white and spread grain, and
// a private module instance that leaves the real run's frames alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "cli/picture/demo_clip.h"
#include "cli/session/trial_filter.h"
#include "common/host.h"
#include "common/module.h"
#include "support/support.h"

namespace {

constexpr int kW = 160, kH = 112, kFrames = 3;

// An outlined cartoon in YC48 luma, moving a pixel a frame, with grain of `sigma` YC48
// steps, white or through [1 2 1] / 4 each way.
struct Clips {
    q5cli::TrialClip clean, noisy;
};
Clips cartoon(double sigma, bool spread, std::uint32_t seed) {
    Clips c;
    c.clean = {kW, kH, {}};
    c.noisy = c.clean;
    q5cli::Grain grain(seed);
    for (int t = 0; t < kFrames; ++t) {
        std::vector<double> n(kW * kH);
        for (double &v : n) v = grain.next();
        if (spread) {
            const auto blur = [&](int step, int length) {
                std::vector<double> m = n;
                for (int i = 0; i < kW * kH; ++i) {
                    const int along = step == 1 ? i % kW : i / kW;
                    const double before = along > 0 ? m[i - step] : m[i + step], after = along + 1 < length ? m[i + step] : m[i - step];
                    n[i] = (before + 2 * m[i] + after) / 4;
                }
            };
            blur(1, kW);
            blur(kW, kH);
            for (double &v : n) v /= 6.0 / 16;
        }
        std::vector<PIXEL_YC> clean(kW * kH), noisy(kW * kH);
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const double d = std::hypot(x - 60.0 - t, (y - 56.0) * 1.2) - 30;
                const int v = std::abs(d) < 1.5 ? 300 : d < 0 ? (x < 60 + t ? 2600 : 1900) : 1500 + 3 * y;
                clean[y * kW + x] = {static_cast<std::int16_t>(v), 0, 0};
                noisy[y * kW + x] = {static_cast<std::int16_t>(std::lround(v + sigma * n[y * kW + x])), 0, 0};
            }
        c.clean.frames.push_back(clean);
        c.noisy.frames.push_back(noisy);
    }
    return c;
}

q5cli::DenoiseSettings setting(int spatial, int tarnel, int block) {
    q5cli::DenoiseSettings s = q5cli::DenoiseSettings::defaults();
    s.set(CheckBox::Fields, false);
    s.set(CheckBox::Rounding, false);
    s.set(Slider::W2dnrL, spatial);
    s.set(Slider::W2dnrH, spatial);
    s.set(Slider::Tarnel, tarnel);
    s.set(CheckBox::BlockNr, block > 0);
    s.set(Slider::BlockNr, block);
    return s;
}

std::unique_ptr<q5cli::TrialFilter> openTrial() {
    std::string error;
    auto trial = q5cli::TrialFilter::open(q5host::defaultModulePath(), 2, &error);
    EXPECT_TRUE(trial) << error;
    return trial;
}

// Over settings from light to far too strong, the estimate ranks them as the true
// error does, and its least is (within a few per cent of) the truly least.
TEST(RiskEstimate, RanksSettingsAsTheTrueErrorDoesUnderWhiteAndSpreadGrain) {
    const auto trial = openTrial();
    ASSERT_TRUE(trial);
    const std::vector<q5cli::DenoiseSettings> settings = {
        setting(5, 2, 0),   setting(15, 5, 0),  setting(30, 10, 0), setting(60, 20, 0),
        setting(120, 40, 0), setting(60, 20, 30), setting(200, 60, 60), setting(30, 40, 0)};
    for (const bool spread : {false, true}) {
        SCOPED_TRACE(spread ? "spread grain" : "white grain");
        const double sigma = 37;  // two 8-bit code steps
        const Clips clips = cartoon(sigma, spread, spread ? 7 : 3);
        q5cli::RiskEstimate risk(*trial, clips.noisy, sigma, spread ? 0.5 : 0);
        std::vector<double> estimated, truth;
        for (const q5cli::DenoiseSettings &s : settings) {
            estimated.push_back(risk.risk(s));
            std::vector<std::int16_t> luma;
            ASSERT_TRUE(trial->run(s, clips.noisy, &luma));
            double e = 0;
            for (int f = 0; f < kFrames; ++f)
                for (int i = 0; i < kW * kH; ++i) e += std::pow(luma[f * kW * kH + i] - clips.clean.frames[f][i].y, 2);
            truth.push_back(e / (kFrames * kW * kH));
        }
        const std::size_t best = std::min_element(estimated.begin(), estimated.end()) - estimated.begin();
        EXPECT_LT(truth[best], 1.1 * *std::min_element(truth.begin(), truth.end()));
        // Pairs whose true errors differ by more than a tenth are ordered alike.
        for (std::size_t a = 0; a < settings.size(); ++a)
            for (std::size_t b = 0; b < settings.size(); ++b)
                if (truth[a] < 0.9 * truth[b]) EXPECT_LT(estimated[a], estimated[b]) << a << " vs " << b;
    }
}

// The trials run in an instance of their own: a real run interrupted by trials with
// other settings gives every frame as it would have without them.
TEST(TrialFilter, LeavesTheRealRunsFramesAlone) {
    const Clips clips = cartoon(20, false, 5);
    const auto outputs = [&](q5cli::TrialFilter *trial) {
        q5host::Host host(q5test::moduleEntry(), 2);
        q5cli::startFilter(host, setting(40, 10, 20));
        q5host::ClipInfo info;
        info.width = kW, info.height = kH, info.maxW = kW, info.maxH = kH, info.frameCount = kFrames;
        host.setClip(info, q5host::packedFrames(clips.noisy.frames, kW, kH));
        std::vector<std::vector<PIXEL_YC>> out;
        for (int n = 0; n < kFrames; ++n) {
            host.process(n);
            out.push_back(host.outputPicture());
            std::vector<std::int16_t> luma;
            if (trial) EXPECT_TRUE(trial->run(setting(200, 60, 0), clips.clean, &luma));
        }
        host.exit();
        return out;
    };
    const auto trial = openTrial();
    ASSERT_TRUE(trial);
    const auto alone = outputs(nullptr), interrupted = outputs(trial.get());
    for (int n = 0; n < kFrames; ++n)
        EXPECT_EQ(0, std::memcmp(alone[n].data(), interrupted[n].data(), alone[n].size() * sizeof(PIXEL_YC)))
            << "frame " << n;
}

}  // namespace
