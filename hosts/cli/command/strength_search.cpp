// --strength auto: the noise measured, then candidate settings tried on a crop of the
// first frames and the one with the least estimated error kept.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>

#include "cli/command/strength.h"
#include "cli/picture/convert.h"

namespace q5cli {

namespace {

// A candidate must beat leaving the clip alone by this share of the noise's variance
// (about half a dB): the estimate scatters by a few per cent between probes, and a
// clean or nearly clean clip must come back as it went in.
constexpr double kMustBeat = 0.10;
// An estimated error below this share of the noise's variance cannot be right (the
// estimate scatters by a few per cent, never by so much).
constexpr double kImpossible = -0.05;
// YC48 luma steps per 8-bit code step (the host's 1197 / 64).
constexpr double kYc48PerCode = 1197.0 / 64;

// One point of the search. Zero strengths leave a pass off.
struct Candidate {
    double spatial = 0;        // W2DNRL
    double temporal = 1.0 / 3;  // Tarnel as a share of W2DNRL
    int coarser = 0;           // W2DNRH - W2DNRL: each coarser level cored (coarser / 10) x W2DNRL more
    int block = 0;             // BlockNR, 0: the block pass off
    int mosquito = 0;          // MosqNR, 0: the mosquito pass off
};

int clampStrength(double v) { return std::clamp(static_cast<int>(std::lround(v)), 0, kCommandStrengthMaximum); }

class Search {
public:
    Search(RiskEstimate &risk, const Options &options, const DenoiseSettings &given)
        : risk_(&risk), options_(&options), given_(given) {}

    DenoiseSettings settingsOf(const Candidate &c) const {
        DenoiseSettings s = given_;
        const auto choose = [&](Slider slider, double v) {
            if (!options_->choice(slider).given) s.set(slider, clampStrength(v));
        };
        const auto chooseBox = [&](CheckBox box, bool on) {
            if (!options_->choice(box).given) s.set(box, on);
        };
        const int spatial = clampStrength(c.spatial);
        choose(Slider::W2dnrL, spatial);
        choose(Slider::W2dnrH, spatial + c.coarser);
        choose(Slider::Tarnel, spatial * c.temporal);
        chooseBox(CheckBox::BlockNr, c.block > 0);
        if (c.block > 0) choose(Slider::BlockNr, c.block);
        chooseBox(CheckBox::MosquitoNr, c.mosquito > 0);
        if (c.mosquito > 0) choose(Slider::MosqNr, c.mosquito);
        // The dither of the rounding correction adds noise of its own.
        chooseBox(CheckBox::Rounding, false);
        return s;
    }

    // The estimated error of a candidate over the noise's variance; the best so far kept.
    double tryOut(const Candidate &c) {
        const DenoiseSettings s = settingsOf(c);
        const std::string key = settingsText(s);
        auto known = tried_.find(key);
        if (known == tried_.end()) {
            const double r = leavesAlone(s) ? risk_->identityRisk() : risk_->risk(s);
            known = tried_.emplace(key, r / risk_->identityRisk()).first;
        }
        if (!std::isfinite(known->second)) return known->second;
        if (known->second < bestRisk_) {
            bestRisk_ = known->second;
            best_ = c;
        }
        return known->second;
    }

    // Tries each variant of the best candidate so far that `vary` makes.
    template <class Vary>
    void around(std::initializer_list<double> factors, Vary vary) {
        const Candidate centre = best_;
        for (const double f : factors) {
            Candidate c = centre;
            vary(c, f);
            tryOut(c);
        }
    }

    const Candidate &best() const { return best_; }
    double bestRisk() const { return bestRisk_; }

private:
    // Every strength 0 and every pass off gives the input back exactly: its error is
    // the noise itself, with nothing to run.
    static bool leavesAlone(const DenoiseSettings &s) {
        return s.slider(Slider::Tarnel) == 0 && s.slider(Slider::W2dnrL) == 0 && !s.on(CheckBox::BlockNr) &&
               !s.on(CheckBox::MosquitoNr) && !s.on(CheckBox::Rounding);
    }

    RiskEstimate *risk_;
    const Options *options_;
    DenoiseSettings given_;
    std::map<std::string, double> tried_;
    Candidate best_;
    double bestRisk_ = 1e300;
};

// Coarse to fine along the strength axis, then one setting at a time around the best.
void runSearch(Search &search, double sigma, bool smallFrames) {
    const double s = std::max(sigma, 0.25);
    search.tryOut(Candidate{});  // the clip left alone
    for (const double perStep : {10.0, 20.0, 40.0, 80.0}) search.tryOut(Candidate{perStep * s});
    search.around({0.7, 1.4}, [](Candidate &c, double f) { c.spatial *= f; });
    if (search.best().spatial == 0) return;
    search.around({0.125, 0.67}, [](Candidate &c, double f) { c.temporal = f; });
    search.around({-3, 5}, [](Candidate &c, double f) { c.coarser = static_cast<int>(f); });
    if (search.best().coarser == 5) search.around({12}, [](Candidate &c, double f) { c.coarser = static_cast<int>(f); });
    search.around({10, 20}, [s](Candidate &c, double f) { c.block = clampStrength(std::max(1.0, f * s)); });
    if (search.best().block > 0)
        search.around({0.67, 1.5}, [](Candidate &c, double f) { c.block = clampStrength(std::max(1.0, c.block * f)); });
    // The mosquito pass's step is eleven times coarser on larger frames than on the
    // crop the trials run on, so its trial would not say what the run gets.
    if (smallFrames) search.around({2, 5}, [](Candidate &c, double f) { c.mosquito = static_cast<int>(f); });
    search.around({0.85, 1.18}, [](Candidate &c, double f) { c.spatial *= f; });
}

// The first frames as YC48 pictures of the whole frame.
std::vector<std::vector<PIXEL_YC>> toYc48(const std::vector<const Y4mFrame *> &frames, const Y4mFormat &format,
                                          int threads) {
    FrameConverter converter(format, threads);
    std::vector<std::vector<PIXEL_YC>> pictures;
    for (const Y4mFrame *frame : frames) {
        std::vector<PIXEL_YC> &p = pictures.emplace_back(static_cast<std::size_t>(format.width) * format.height);
        converter.toYc48(frame->data.data(), frame->params, p.data(), format.width);
    }
    return pictures;
}

}  // namespace

AutoStrength autoStrength(const std::vector<const Y4mFrame *> &frames, const Options &options,
                          const Y4mFormat &format, const DenoiseSettings &settings, TrialFilter &trial,
                          int firstFrame) {
    const auto start = std::chrono::steady_clock::now();
    NoiseMeter meter(format);
    for (const Y4mFrame *frame : frames) meter.add(frame->data.data());
    AutoStrength chosen;
    chosen.firstFrame = firstFrame;
    chosen.estimate = meter.estimate();
    chosen.settings = settings;
    if (chosen.estimate.measured) {
        const std::vector<std::vector<PIXEL_YC>> pictures = toYc48(frames, format, settings.threads);
        std::vector<const PIXEL_YC *> images;
        for (const auto &p : pictures) images.push_back(p.data());
        const CropPlace place = placeCrop(images, format.width, format.height, format.width, kTrialWidth, kTrialHeight);
        const TrialClip clip = cropClip(images, format.width, place);
        const bool smallFrames = format.width <= 720 && format.height <= 480;
        const int before = trial.runs();
        RiskEstimate risk(trial, clip, chosen.estimate.sigma * kYc48PerCode, chosen.estimate.spread);
        Search search(risk, options, settings);
        runSearch(search, chosen.estimate.sigma, smallFrames);
        // No setting can leave less than no error: an estimate below it means the noise
        // was read too strong, as when fine texture passes for spread grain. Then the
        // grain is taken as white, read from the finest detail alone.
        if (search.bestRisk() < kImpossible && chosen.estimate.spread > 0) {
            chosen.estimate.spread = 0;
            chosen.estimate.sigma = chosen.estimate.whiteSigma;
            RiskEstimate white(trial, clip, chosen.estimate.sigma * kYc48PerCode, 0);
            search = Search(white, options, settings);
            runSearch(search, chosen.estimate.sigma, smallFrames);
        }
        chosen.trials = trial.runs() - before;
        // The clip left alone unless a setting clearly beats it.
        const bool wins = search.bestRisk() < 1 - kMustBeat;
        chosen.settings = search.settingsOf(wins ? search.best() : Candidate{});
        chosen.risk = wins ? search.bestRisk() : 1.0;
        chosen.cropWidth = place.width;
        chosen.cropHeight = place.height;
        chosen.searched = true;
    }
    chosen.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return chosen;
}

std::string autoStrengthText(const AutoStrength &chosen, const Y4mFormat &format, bool withTime) {
    const NoiseEstimate &e = chosen.estimate;
    char text[200];
    std::string out;
    if (!e.measured) {
        out = "could not measure the noise: " + e.why + "; the editor's factory settings (";
    } else {
        // Grain spread over neighbours reads as white noise through [c 1 c] each way.
        char spread[48] = "white";
        if (e.spread > 0) std::snprintf(spread, sizeof spread, "spread [%.2f 1 %.2f]", e.spread, e.spread);
        std::snprintf(text, sizeof text, "noise %.2f code steps, %s, error %.0f%% of the noise's (", e.sigma, spread,
                      100 * chosen.risk);
        out = text;
    }
    out += std::to_string(e.frames) + (e.frames == 1 ? " frame" : " frames");
    if (chosen.firstFrame > 0) out += " from frame " + std::to_string(chosen.firstFrame);
    if (withTime) {
        std::snprintf(text, sizeof text, ", measured in %.1f ms, %d trial runs on %dx%d", 1000 * chosen.seconds,
                      chosen.trials, chosen.cropWidth, chosen.cropHeight);
        out += text;
    }
    return out + "): " + runSettingsText(chosen.settings, format);
}

}  // namespace q5cli
