// Thresholds of the wavelet stages, derived from the sliders and check boxes.
// Every value is evaluated in double and rounded once to float, so that the
// thresholds come out the same on every build.
#include "abi/settings.h"
#include "core/core.h"

NrStrengths nrStrengths = {0.0f, {}, {}, {}, {}, true, false};

NrStrengths strengthsFor(const FILTER *fp) noexcept {
    const int t0 = sliderValue(fp, Slider::Tarnel);
    const int l = sliderValue(fp, Slider::W2dnrL);
    const int h = sliderValue(fp, Slider::W2dnrH);
    NrStrengths s{};
    s.animeMode = true;

    const float d = static_cast<float>(static_cast<double>(h - l) / 10.0);
    const double c = static_cast<double>(1.4f);   // single-precision constants, by design
    const double c2 = static_cast<double>(2.8f);
    s.temporalThreshold = static_cast<float>(t0 * 4.0 + static_cast<double>(0.01f));
    for (int k = 0; k < 5; ++k) {
        const float coef = static_cast<float>(l * (k * static_cast<double>(d) + c));
        const float flat = static_cast<float>(l * (2 * k * static_cast<double>(d) + c2));
        s.chromaCoefThreshold[k] = coef;
        s.chromaFlatThreshold[k] = flat;
        if (k < 4) {
            s.lumaCoefThreshold[k] = coef;
            s.lumaFlatThreshold[k] = flat;
        }
    }
    if (!checkOn(fp, CheckBox::Anime)) {
        // Live action: every threshold at half strength.
        s.animeMode = false;
        s.temporalThreshold *= 0.5f;
        for (int k = 0; k < 5; ++k) {
            s.chromaCoefThreshold[k] *= 0.5f;
            s.chromaFlatThreshold[k] *= 0.5f;
            if (k < 4) {
                s.lumaCoefThreshold[k] *= 0.5f;
                s.lumaFlatThreshold[k] *= 0.5f;
            }
        }
    }
    // The wavelet stages take per-field processing from here, as it stood at the last
    // update; the pre-passes and the rounding correction follow the check box itself.
    s.fieldMode = checkOn(fp, CheckBox::Fields);
    return s;
}

void deriveStrengths(const FILTER *fp) noexcept { nrStrengths = strengthsFor(fp); }
