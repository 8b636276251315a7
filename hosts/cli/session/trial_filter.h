// Trial runs of the filter on a few frames, for choosing its settings: a private
// instance of the module, so that no trial touches the real run's frame ring,
// buffers or strengths, and the risk each setting leaves, estimated from the noisy
// frames alone.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "abi/host_api.h"
#include "cli/session/filter_session.h"

namespace q5host {
class Host;
class Module;
}  // namespace q5host

namespace q5cli {

/// Frames of one clip as YC48 pictures, `width` x `height` with packed rows.
struct TrialClip {
    int width = 0, height = 0;
    std::vector<std::vector<PIXEL_YC>> frames;
};

class TrialFilter {
public:
    /// A copy of the module file at `path`, loaded apart from the one the run uses
    /// (its own globals); null with a message when it cannot be.
    static std::unique_ptr<TrialFilter> open(const std::string &path, int threads, std::string *error);
    ~TrialFilter();
    TrialFilter(const TrialFilter &) = delete;
    TrialFilter &operator=(const TrialFilter &) = delete;

    /// The luma of every frame of `clip` as the filter gives it back with `settings`,
    /// frame after frame as in a run over the clip; false when the filter processed none.
    bool run(const DenoiseSettings &settings, const TrialClip &clip, std::vector<std::int16_t> *luma);
    /// Trial runs made so far.
    int runs() const { return runs_; }

private:
    TrialFilter() = default;
    std::unique_ptr<q5host::Module> module_;
    std::unique_ptr<q5host::Host> host_;
    int runs_ = 0;
};

/// Monte-Carlo estimate of the mean squared error a setting leaves on a clip whose
/// noise is known (Stein's unbiased risk estimate, its divergence from one random
/// probe): ||f(y) - y||^2 / N - s^2 + 2 tr(J C) / N, where tr(J C), the filter's
/// response to noise of the clip's own covariance C, is measured by running it again
/// on y plus a small probe of that covariance's shape. Its minimum over settings is
/// what counts; its level runs a little low on flat drawings.
class RiskEstimate {
public:
    /// `sigma` in YC48 luma steps; `spread` as NoiseEstimate's ([c 1 c] along each
    /// axis, 0 for white noise). The probe is the same for every setting.
    RiskEstimate(TrialFilter &filter, TrialClip clip, double sigma, double spread, std::uint32_t seed = 0x5eed);
    /// The estimated mean squared error per luma sample, in YC48 steps squared;
    /// negative infinity when the filter processed nothing.
    double risk(const DenoiseSettings &settings);
    /// The risk of leaving the clip as it is: the noise's variance.
    double identityRisk() const { return sigma_ * sigma_; }

private:
    TrialFilter &filter_;
    TrialClip clip_, probed_;
    std::vector<float> probe_;  // the probe added to each luma sample, in YC48 steps
    double sigma_, probeScale_;  // probeScale_: the noise's variance over the probe's
};

/// Where trial runs look: the middle of the picture, at most `maxWidth` x
/// `maxHeight`, in whole 16-pixel blocks from a block corner (so the block pass meets
/// the picture's own grid and fields keep their parity), within the rows and columns
/// that hold any picture: clean bars, rows or columns of one value in every frame,
/// are left out. `frames` are YC48 images of rows `pitch` pixels.
struct CropPlace {
    int x = 0, y = 0, width = 0, height = 0;
};
CropPlace placeCrop(const std::vector<const PIXEL_YC *> &frames, int width, int height, int pitch, int maxWidth,
                    int maxHeight);

/// The crop of each frame, packed.
TrialClip cropClip(const std::vector<const PIXEL_YC *> &frames, int pitch, const CropPlace &place);

}  // namespace q5cli
