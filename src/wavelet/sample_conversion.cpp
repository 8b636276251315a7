// The float-to-sample rule one value at a time (the statement the eight-wide one is
// checked against) and over runs of floats.
#include "wavelet/sample_conversion.h"

#include <xmmintrin.h>

std::int16_t floatToSample(float v) noexcept {
    // The floor of v + 0.5 from the truncating conversion, with its overflow result
    // (INT32_MIN, also for a NaN) kept at the bottom.
    const float x = v + 0.5f;
    const int i = _mm_cvttss_si32(_mm_set_ss(x));
    int s = i < -32768 ? -32768 : i > 32767 ? 32767 : i;
    if (x < static_cast<float>(i)) --s;
    s = s < -8192 ? -8192 : s > 8192 ? 8192 : s;
    return static_cast<std::int16_t>(s);
}

void floatsToSamples(const float *in, int count, std::int16_t *out) noexcept {
    for (int i = 0; i < count; i += 8)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i),
                         samplesOfEight(_mm_loadu_ps(in + i), _mm_loadu_ps(in + i + 4)));
}
