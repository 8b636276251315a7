// Output conversion: the picture is cut out of the working planes into the host's
// output image, luma converted to samples and the half-width chroma doubled; in
// per-field mode the two stacked fields are interleaved again.
#include <emmintrin.h>

#include "core/core.h"
#include "temporal/temporal.h"

namespace {

constexpr int kGroup = 8;  // lines converted together

// Eight columns of 16-bit values, rows p .. p+7 each, as eight rows of eight.
void transpose8(__m128i v[8]) noexcept {
    __m128i t[8], u[8];
    for (int i = 0; i < 4; ++i) {
        t[2 * i] = _mm_unpacklo_epi16(v[2 * i], v[2 * i + 1]);
        t[2 * i + 1] = _mm_unpackhi_epi16(v[2 * i], v[2 * i + 1]);
    }
    for (int i = 0; i < 2; ++i) {
        u[4 * i] = _mm_unpacklo_epi32(t[4 * i], t[4 * i + 2]);
        u[4 * i + 1] = _mm_unpackhi_epi32(t[4 * i], t[4 * i + 2]);
        u[4 * i + 2] = _mm_unpacklo_epi32(t[4 * i + 1], t[4 * i + 3]);
        u[4 * i + 3] = _mm_unpackhi_epi32(t[4 * i + 1], t[4 * i + 3]);
    }
    for (int i = 0; i < 4; ++i) {
        v[2 * i] = _mm_unpacklo_epi64(u[i], u[i + 4]);
        v[2 * i + 1] = _mm_unpackhi_epi64(u[i], u[i + 4]);
    }
}

}  // namespace

// Writes `pairs` pixel pairs of one picture row: pixel 2k gets (luma[2k], cb[k],
// cr[k]), pixel 2k+1 (luma[2k+1], cb[k], cr[k]). Eight pixels (48 bytes) per step,
// built from 32-bit units: (y, cb) (cr, y) (cb, cr) repeat with the period of a pair.
void writePixels(const std::int16_t *luma, const std::int16_t *cb, const std::int16_t *cr, int pairs,
                 PIXEL_YC *out) noexcept {
    const __m128i zero = _mm_setzero_si128(), low16 = _mm_set1_epi32(0xFFFF);
    int k = 0;
    for (; k + 4 <= pairs; k += 4, out += 8) {
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i *>(luma + 2 * k));
        const __m128i b = _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(cb + k)), zero);
        const __m128i r = _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(cr + k)), zero);
        const __m128 yCb = _mm_castsi128_ps(_mm_or_si128(_mm_and_si128(y, low16), _mm_slli_epi32(b, 16)));
        const __m128 crY = _mm_castsi128_ps(_mm_or_si128(r, _mm_slli_epi32(_mm_srli_epi32(y, 16), 16)));
        const __m128 cbCr = _mm_castsi128_ps(_mm_or_si128(b, _mm_slli_epi32(r, 16)));
        // Units a (y cb), b (cr y), c (cb cr) of pairs 0..3:
        // out = a0 b0 c0 a1 | b1 c1 a2 b2 | c2 a3 b3 c3.
        const __m128 abLow = _mm_unpacklo_ps(yCb, crY), abHigh = _mm_unpackhi_ps(yCb, crY);
        const __m128 v0 = _mm_shuffle_ps(abLow, _mm_shuffle_ps(cbCr, abLow, _MM_SHUFFLE(0, 2, 0, 0)),
                                         _MM_SHUFFLE(2, 0, 1, 0));
        const __m128 v1 = _mm_shuffle_ps(_mm_shuffle_ps(abLow, cbCr, _MM_SHUFFLE(0, 1, 0, 3)), abHigh,
                                         _MM_SHUFFLE(1, 0, 2, 0));
        const __m128 v2 = _mm_shuffle_ps(_mm_shuffle_ps(cbCr, abHigh, _MM_SHUFFLE(0, 2, 0, 2)),
                                         _mm_shuffle_ps(abHigh, cbCr, _MM_SHUFFLE(0, 3, 0, 3)), _MM_SHUFFLE(2, 0, 2, 0));
        auto *dst = reinterpret_cast<__m128i *>(out);
        _mm_storeu_si128(dst, _mm_castps_si128(v0));
        _mm_storeu_si128(dst + 1, _mm_castps_si128(v1));
        _mm_storeu_si128(dst + 2, _mm_castps_si128(v2));
    }
    for (; k < pairs; ++k, out += 2) {
        // Both pixels of a pair carry the same chroma, without interpolation.
        out[0] = {luma[2 * k], cb[k], cr[k]};
        out[1] = {luma[2 * k + 1], cb[k], cr[k]};
    }
}

void chromaRows(int q0, int c0, int pairs, std::int16_t *cbRows, std::int16_t *crRows, int rowPitch,
                int lines) noexcept {
    const int rows = sizeClass.rows;
    const std::int16_t *cbAux = workBuffers.cbAux;
    const std::int16_t *crAux = workBuffers.crAux;
    int k = 0;
    if (lines == kGroup) {
        for (; k + 8 <= pairs; k += 8) {
            for (int plane = 0; plane < 2; ++plane) {
                const std::int16_t *aux = (plane ? crAux : cbAux) + static_cast<long>(c0 + k) * rows + q0;
                __m128i v[8];
                for (int c = 0; c < 8; ++c)
                    v[c] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(aux + static_cast<long>(c) * rows));
                transpose8(v);
                std::int16_t *dst = (plane ? crRows : cbRows) + k;
                for (int i = 0; i < kGroup; ++i)
                    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + i * rowPitch), v[i]);
            }
        }
    }
    for (; k < pairs; ++k)
        for (int i = 0; i < lines; ++i) {
            const long at = static_cast<long>(c0 + k) * rows + q0 + i;
            cbRows[i * rowPitch + k] = cbAux[at];
            crRows[i * rowPitch + k] = crAux[at];
        }
}

void outputRows(int thread, const FILTER_PROC_INFO *fpip, bool fieldMode, int part, int firstLine,
                int lineLimit) noexcept {
    const auto [stride, rows, w, h, pitch, leftPad, c0] = planeGeometry(fpip);
    const int pairs = w / 2;
    // The chroma planes hold columns; eight lines at a time read eight rows of a
    // column with one load and transpose them, into rows of the octet scratch:
    // kGroup luma rows, then kGroup cb and kGroup cr rows.
    auto *luma = reinterpret_cast<std::int16_t *>(octetScratch(thread));
    std::int16_t *cbRows = luma + kGroup * stride, *crRows = cbRows + kGroup * (stride / 2);

    auto planeRowOf = [&](int j) noexcept {
        return fieldMode ? part * (rows / 2) + (rows - h) / 4 + j : (rows - h) / 2 + part * (h / 2) + j;
    };
    auto pictureRowOf = [&](int j) noexcept { return fieldMode ? 2 * j + part : part * (h / 2) + j; };

    for (int j = firstLine; j < lineLimit; j += kGroup) {
        const int lines = lineLimit - j < kGroup ? lineLimit - j : kGroup;
        const int p = planeRowOf(j);  // lines j .. j+lines-1 are plane rows p .. p+lines-1
        for (int i = 0; i < lines; ++i)
            floatsToSamples(workBuffers.yWork + static_cast<long>(p + i) * stride + leftPad, w, luma + i * stride);
        chromaRows(p, c0, pairs, cbRows, crRows, stride / 2, lines);
        for (int i = 0; i < lines; ++i)
            writePixels(luma + i * stride, cbRows + i * (stride / 2), crRows + i * (stride / 2), pairs,
                        fpip->ycp_edit + pictureRowOf(j + i) * pitch);
    }
}

void outputWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept {
    const bool fieldMode = *static_cast<const unsigned char *>(param1) != 0;
    const auto *fpip = static_cast<const FILTER_PROC_INFO *>(param2);
    const int h = fpip->h;

    // Groups of lines of each part (picture half, or field), all alike, shared among
    // every thread.
    const StageWork work{{h / 2 / kGroup, h / 2 / kGroup, 0}, {1, 1, 0}};
    const UnitRange share = threadShare(work, thread_id, workingThreads(thread_id, thread_num));
    for (int part = 0; part < 2; ++part) {
        const UnitRange lines = runPart(work, share, part);
        if (lines.first < lines.end)
            outputRows(thread_id, fpip, fieldMode, part, lines.first * kGroup, lines.end * kGroup);
    }
}
