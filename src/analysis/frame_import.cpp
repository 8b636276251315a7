// Frame import: columns of a host image (one component, every pixel for luma or
// every second for chroma) into octet lines, eight neighbouring columns side by side,
// laid out as the vertical pass wants them: centred in the working rows with the edge
// rows repeated, or the two fields one above the other.
#include "analysis/frame_import.h"

#include <emmintrin.h>


namespace {

constexpr int kLanes = 8;  // columns side by side in an octet line
constexpr int kPrefetchRows = 16;

// The 24 words (y, cb, cr of eight pixels) at a pixel, sign-extended to 32 bits in
// six vectors: words 0-3, 4-7, 8-11, 12-15, 16-19 and 20-23.
struct Words {
    __m128i w[6];
    explicit Words(const PIXEL_YC *px) noexcept {
        const auto *p = reinterpret_cast<const __m128i *>(px);
        for (int i = 0; i < 3; ++i) {
            const __m128i v = _mm_loadu_si128(p + i);
            w[2 * i] = _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16);
            w[2 * i + 1] = _mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16);
        }
    }
    __m128 f(int i) const noexcept { return _mm_castsi128_ps(w[i]); }
};

// Picks words (a[i], a[j], b[k], b[l]) as an int32 vector.
template <int I, int J, int K, int L>
__m128 pick(__m128 a, __m128 b) noexcept {
    return _mm_shuffle_ps(a, b, _MM_SHUFFLE(L, K, J, I));
}

// One row of sixteen pixels: y of pixels 0..7 and 8..15 as two octets of floats, cb
// and cr of the even pixels as one octet each, every word sign-extended once.
void importRow(const PIXEL_YC *px, float *y0, float *y1, float *cb, float *cr) noexcept {
    for (int half = 0; half < 2; ++half) {
        const Words w(px + 8 * half);
        float *y = half ? y1 : y0;
        // y of pixels 4q .. 4q+3 of the eight: words 12q + 0, 3, 6, 9.
        for (int q = 0; q < 2; ++q) {
            const __m128 v = pick<0, 3, 0, 2>(w.f(3 * q), pick<2, 0, 1, 0>(w.f(3 * q + 1), w.f(3 * q + 2)));
            _mm_store_ps(y + 4 * q, _mm_cvtepi32_ps(_mm_castps_si128(v)));
        }
        // cb and cr of pixels 0, 2, 4, 6 of the eight: words 1, 7, 13, 19 and 2, 8, 14, 20.
        const __m128 b = pick<0, 2, 0, 2>(pick<1, 0, 3, 0>(w.f(0), w.f(1)), pick<1, 0, 3, 0>(w.f(3), w.f(4)));
        const __m128 r = pick<0, 2, 0, 2>(pick<2, 0, 0, 0>(w.f(0), w.f(2)), pick<2, 0, 0, 0>(w.f(3), w.f(5)));
        _mm_store_ps(cb + 4 * half, _mm_cvtepi32_ps(_mm_castps_si128(b)));
        _mm_store_ps(cr + 4 * half, _mm_cvtepi32_ps(_mm_castps_si128(r)));
    }
}

// A strip of octet lines, `octetFloats` apart, filled one source row at a time:
// topPadCount copies of the first row, `count` rows `rowStep` pixels apart, then
// bottomPadCount copies of the last. importRow(px, at) converts the strip's part of
// the row at px into position `at` (a float offset) of each of the strip's lines.
// Each source row is read once for the whole strip, fetched well ahead of its use:
// the rows are too far apart for the processor to see the pattern.
template <class ImportRow>
void importStrip(const PIXEL_YC *start, long stripBytes, int count, int topPadCount, int bottomPadCount,
                 long rowStep, float *strip, int lines, long octetFloats, ImportRow importRow) noexcept {
    const PIXEL_YC *px = start;
    for (int i = 0; i < count; ++i, px += rowStep) {
        if (i + kPrefetchRows < count) {
            const char *ahead = reinterpret_cast<const char *>(px + kPrefetchRows * rowStep);
            for (long at = 0; at < stripBytes + 63; at += 64) _mm_prefetch(ahead + at, _MM_HINT_T0);
        }
        importRow(px, kLanes * (topPadCount + i));
    }
    for (int o = 0; o < lines; ++o) {
        float *line = strip + o * octetFloats;
        const __m128 top0 = _mm_load_ps(line + kLanes * topPadCount);
        const __m128 top1 = _mm_load_ps(line + kLanes * topPadCount + 4);
        for (int i = 0; i < topPadCount; ++i) {
            _mm_store_ps(line + kLanes * i, top0);
            _mm_store_ps(line + kLanes * i + 4, top1);
        }
        float *bottom = line + kLanes * (topPadCount + count);
        const __m128 last0 = _mm_load_ps(bottom - kLanes), last1 = _mm_load_ps(bottom - kLanes + 4);
        for (int i = 0; i < bottomPadCount; ++i) {
            _mm_store_ps(bottom + kLanes * i, last0);
            _mm_store_ps(bottom + kLanes * i + 4, last1);
        }
    }
}

// The strip as the vertical analysis sees it (frame mode: rows in order; field mode:
// field 0 above field 1), `rows` positions in each line.
template <class ImportRow>
void importColumns(const PIXEL_YC *first, long stripBytes, long pitch, int h, int rows, bool fieldMode,
                   float *strip, int lines, ImportRow importRow) noexcept {
    const long octetFloats = static_cast<long>(kLanes) * rows;
    if (!fieldMode) {
        const int pad = (rows - h) / 2;
        importStrip(first, stripBytes, h, pad, pad, pitch, strip, lines, octetFloats, importRow);
    } else {
        const int pad = (rows - h) / 4;
        importStrip(first, stripBytes, h / 2, pad, pad, 2 * pitch, strip, lines, octetFloats, importRow);
        importStrip(first + pitch, stripBytes, h / 2, pad, pad, 2 * pitch, strip + kLanes * (rows / 2), lines,
                    octetFloats, [&](const PIXEL_YC *px, long at) noexcept { importRow(px, at + kLanes * (rows / 2)); });
    }
}

}  // namespace

void importPixelColumns(const ImportSource &src, int groups, float *strip) noexcept {
    const long octetFloats = static_cast<long>(kLanes) * src.rows;
    const long stripBytes = static_cast<long>(groups) * 2 * kLanes * sizeof(PIXEL_YC);
    float *cbLines = strip + 2L * groups * octetFloats, *crLines = cbLines + groups * octetFloats;
    importColumns(src.first, stripBytes, src.pitch, src.h, src.rows, src.fieldMode, strip, 4 * groups,
                  [&](const PIXEL_YC *px, long at) noexcept {
                      for (int g = 0; g < groups; ++g) {
                          const PIXEL_YC *p = px + 2 * kLanes * g;
                          float *y = strip + 2L * g * octetFloats + at;
                          importRow(p, y, y + octetFloats, cbLines + g * octetFloats + at,
                                    crLines + g * octetFloats + at);
                      }
                  });
}

void importPixelColumnsScalar(const ImportSource &src, int groups, float *strip) noexcept {
    const long octetFloats = static_cast<long>(kLanes) * src.rows;
    const int linesPerField = src.fieldMode ? src.rows / 2 : src.rows;
    const int rowsPerField = src.fieldMode ? src.h / 2 : src.h;
    const int pad = (linesPerField - rowsPerField) / 2;
    for (int position = 0; position < src.rows; ++position) {
        // The picture row at this position: the field's rows centred in its half,
        // the first and last repeated into the margins.
        const int field = position / linesPerField;
        int i = position - field * linesPerField - pad;
        i = i < 0 ? 0 : i >= rowsPerField ? rowsPerField - 1 : i;
        const PIXEL_YC *row = src.first + (src.fieldMode ? 2L * i + field : i) * src.pitch;
        for (int g = 0; g < groups; ++g)
            for (int k = 0; k < 2 * kLanes; ++k) {
                const PIXEL_YC &px = row[2 * kLanes * g + k];
                const long at = kLanes * position + k % kLanes;
                strip[(2L * g + k / kLanes) * octetFloats + at] = px.y;
                if (k % 2 == 0) {
                    strip[(2L * groups + g) * octetFloats + kLanes * position + k / 2] = px.cb;
                    strip[(3L * groups + g) * octetFloats + kLanes * position + k / 2] = px.cr;
                }
            }
    }
}
