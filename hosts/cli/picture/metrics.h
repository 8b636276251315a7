// Quality of a clip against a clean reference of the same format: PSNR of each
// plane over the whole clip and the mean SSIM of luma.
#pragma once

#include <cstdint>
#include <string>

#include "cli/io/y4m.h"

namespace q5cli {

class QualityMeter {
public:
    explicit QualityMeter(const Y4mFormat &format) : format_(format) {}

    /// Adds one frame of each clip (y4m frame bytes of the format).
    void add(const std::uint8_t *frame, const std::uint8_t *reference);

    int frames() const { return frames_; }
    /// PSNR in dB of plane 0 (Y), 1 (Cb) or 2 (Cr), peak the largest code; infinite
    /// for identical planes.
    double psnr(int plane) const;
    /// Mean luma SSIM over 8x8 windows on a 4-pixel grid, averaged over the frames.
    double ssim() const { return frames_ ? ssimSum_ / frames_ : 1.0; }
    /// "PSNR Y 38.20 dB  Cb 41.00 dB  Cr 40.77 dB  SSIM Y 0.9712"
    std::string summary() const;

private:
    Y4mFormat format_;
    int frames_ = 0;
    double squaredError_[3] = {0, 0, 0};
    double samples_[3] = {0, 0, 0};
    double ssimSum_ = 0;
};

/// Mean SSIM of two luma planes (codes of `bits` bits, `width` samples a row).
double lumaSsim(const std::uint8_t *a, const std::uint8_t *b, int width, int height, int bits);

}  // namespace q5cli
