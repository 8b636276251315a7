// Frame import and vertical pass: every picture column is centred in the working
// geometry with edge extension and analysed vertically with coring. Luma leaves as
// a one-level vertical split in yWork for the horizontal pass; chroma (every even
// column) goes, fully analysed, straight into the slot's lines of its rings.
#include <emmintrin.h>

#include <cstring>

#include "analysis/analysis.h"
#include "core/core.h"
#include "wavelet/octet_rows.h"
#include "wavelet/taps.h"
#include "wavelet/wavelet.h"

namespace {

constexpr int kLanes = 8;  // columns side by side in an octet line
constexpr int kStripOctets = 8;
constexpr int kStripColumns = kLanes * kStripOctets;
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

// One row of an octet: the component of pixels 0..7 (step 1, luma) or of pixels
// 0, 2, .., 14 (step 2, chroma) as eight floats.
template <std::int16_t PIXEL_YC::*Component, int Step>
void importRow(const PIXEL_YC *px, float *out) noexcept {
    static_assert(Step == 2 || Component == &PIXEL_YC::y, "luma takes every pixel, chroma every second");
    auto store = [out](int half, __m128 v) noexcept {
        _mm_store_ps(out + 4 * half, _mm_cvtepi32_ps(_mm_castps_si128(v)));
    };
    if constexpr (Step == 1) {
        // y of pixels 4h .. 4h+3: words 12h + 0, 3, 6, 9.
        const Words w(px);
        for (int half = 0; half < 2; ++half)
            store(half, pick<0, 3, 0, 2>(w.f(3 * half), pick<2, 0, 1, 0>(w.f(3 * half + 1), w.f(3 * half + 2))));
    } else {
        for (int half = 0; half < 2; ++half) {
            // Pixels 8h .. 8h+7; cb of the even ones: words 1, 7, 13, 19; cr: 2, 8, 14, 20.
            const Words w(px + 8 * half);
            if constexpr (Component == &PIXEL_YC::cb)
                store(half, pick<0, 2, 0, 2>(pick<1, 0, 3, 0>(w.f(0), w.f(1)), pick<1, 0, 3, 0>(w.f(3), w.f(4))));
            else
                store(half, pick<0, 2, 0, 2>(pick<2, 0, 0, 0>(w.f(0), w.f(2)), pick<2, 0, 0, 0>(w.f(3), w.f(5))));
        }
    }
}

// One row of a Cb octet and of a Cr octet from the same sixteen pixels.
void importRowCbCr(const PIXEL_YC *px, float *cb, float *cr) noexcept {
    for (int half = 0; half < 2; ++half) {
        const Words w(px + 8 * half);
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

// One component of `octets` column octets (the last with `lastLanes` columns), Step
// pixels apart, into lines [0, octets) of a strip. Lanes past `lastLanes` repeat the
// last column, so they carry ordinary numbers.
template <std::int16_t PIXEL_YC::*Component, int Step>
void importComponent(const PIXEL_YC *first, int octets, int lastLanes, long pitch, int h, int rows, bool fieldMode,
                     float *strip) noexcept {
    const long octetFloats = static_cast<long>(kLanes) * rows;
    const long stripBytes = static_cast<long>(octets) * kLanes * Step * sizeof(PIXEL_YC);
    importColumns(first, stripBytes, pitch, h, rows, fieldMode, strip, octets,
                  [&](const PIXEL_YC *px, long at) noexcept {
                      float *out = strip + at;
                      for (int o = 0; o < octets; ++o, out += octetFloats) {
                          const PIXEL_YC *p = px + o * kLanes * Step;
                          if (o < octets - 1 || lastLanes == kLanes) {
                              importRow<Component, Step>(p, out);
                          } else {
                              for (int k = 0; k < kLanes; ++k)
                                  out[k] = static_cast<float>(p[Step * (k < lastLanes ? k : lastLanes - 1)].*Component);
                          }
                      }
                  });
}

// The thread's octet scratch: three work lines, then a strip of kStripOctets lines.
struct OctetLines {
    float *s0, *s1, *s2, *strip;
};

OctetLines octetLines(int thread_id, int rows) noexcept {
    return {octetScratchLine(thread_id, rows, 0), octetScratchLine(thread_id, rows, 1),
            octetScratchLine(thread_id, rows, 2), octetScratchLine(thread_id, rows, 3)};
}

// One analysis level with coring on eight columns; the H2 band always goes to s2.
void analyseLevel(int level, int fullLength, const float *in, float *out, float *s2, float flatThreshold,
                  float coefThreshold, float keepSmallBound) noexcept {
    const int n = fullLength >> level;
    waveletKernels.forwardOctets(2 * n, in, out, s2);
    waveletKernels.shrinkOctets(n, out, s2, flatThreshold, coefThreshold, keepSmallBound);
}

void fillRowSpan(float *row, int first, int end, float value) noexcept {
    for (int c = first; c < end; ++c) row[c] = value;
}

}  // namespace

void verticalLumaColumns(const FILTER_PROC_INFO *fpip, int firstColumn, const AnalysisParams *params,
                         int endColumn, int thread_id) noexcept {
    const auto [stride, rows, w, h, pitch, leftPad, chromaPad] = planeGeometry(fpip);
    const OctetLines b = octetLines(thread_id, rows);
    const long octetFloats = static_cast<long>(kLanes) * rows;
    const NrStrengths &s = *params->strengths;
    const float keepSmall = s.animeMode ? 0.0f : wavelet_taps::kKeepSmallBound;
    float *yWork = workBuffers.yWork;

    // Strips of up to kStripOctets x 8 columns: the source rows and the yWork rows
    // are each visited once per strip, and within it eight neighbouring columns go
    // through the octet kernels together, one in each lane.
    for (int xs = firstColumn; xs < endColumn; xs += kStripColumns) {
        const int columns = endColumn - xs < kStripColumns ? endColumn - xs : kStripColumns;
        const int octets = (columns + kLanes - 1) / kLanes;
        const int lastLanes = columns - kLanes * (octets - 1);
        importComponent<&PIXEL_YC::y, 1>(params->source + xs, octets, lastLanes, pitch, h, rows, params->fieldMode,
                                         b.strip);
        for (int o = 0; o < octets; ++o) {
            float *column = b.strip + o * octetFloats;
            // Band buffers alternate so each level reads the previous level's L.
            analyseLevel(1, rows, column, b.s1, b.s2, s.lumaFlatThreshold[0], s.lumaCoefThreshold[0], keepSmall);
            analyseLevel(2, rows, b.s1, b.s0, b.s2, s.lumaFlatThreshold[1], s.lumaCoefThreshold[1], keepSmall);
            analyseLevel(3, rows, b.s0, b.s1, b.s2, s.lumaFlatThreshold[2], s.lumaCoefThreshold[2], keepSmall);
            analyseLevel(4, rows, b.s1, b.s0, b.s2, s.lumaFlatThreshold[3], s.lumaCoefThreshold[3], keepSmall);
            // Back up to the plain one-level split: each inverse step lands exactly on
            // the low band of the buffer that already holds the next finer H1 band.
            waveletKernels.inverseOctets(b.s0, b.s2, rows / 16, b.s1);
            waveletKernels.inverseOctets(b.s1, b.s2, rows / 8, b.s0);
            waveletKernels.inverseOctets(b.s0, b.s2, rows / 4, b.s1);
            // lo(1) over H2(1), back into the strip in place of the imported columns.
            waveletKernels.mergeLowBandOctets(b.s1, rows / 2, column, kLanes);
            std::memcpy(column + octetFloats / 2, b.s2 + octetFloats / 2, octetFloats / 2 * sizeof(float));
        }

        const bool leftEdge = xs == 0;
        const bool rightEdge = xs + columns == w;
        for (int r = 0; r < rows; ++r) {
            float *row = yWork + static_cast<long>(r) * stride;
            float *dst = row + leftPad + xs;
            const float *src = b.strip + kLanes * r;
            for (int o = 0; o < octets; ++o, dst += kLanes, src += octetFloats)
                std::memcpy(dst, src, (o < octets - 1 ? kLanes : lastLanes) * sizeof(float));
            // The margins repeat the nearest picture column.
            if (leftEdge) fillRowSpan(row, 0, leftPad, row[leftPad]);
            if (rightEdge) fillRowSpan(row, leftPad + w, stride, row[leftPad + w - 1]);
        }
    }
}

namespace {

// Analyses one octet of chroma columns (imported at `column`) of plane P over five
// levels and writes it to ring lines firstLine .. firstLine + lanes - 1 of the slot,
// with the margin lines when it holds the first or the last picture column.
template <ChromaPlane P>
void analyseChromaOctet(const FILTER_PROC_INFO *fpip, const AnalysisParams *params, const OctetLines &b,
                        const float *column, long firstLine, int lanes) noexcept {
    const auto [stride, rows, w, h, pitch, lumaPad, chromaPad] = planeGeometry(fpip);
    const NrStrengths &s = *params->strengths;
    float *ringA = ringSlot(P == ChromaPlane::Cb ? workBuffers.cbRingA : workBuffers.crRingA, params->slot,
                            stride / 2, rows);
    float *ringB = ringSlot(P == ChromaPlane::Cb ? workBuffers.cbRingB : workBuffers.crRingB, params->slot,
                            stride / 2, rows);

    for (int level = 1; level <= 5; ++level) {
        const float *in = level == 1 ? column : level % 2 ? b.s1 : b.s0;
        float *out = level % 2 ? b.s0 : b.s1;
        analyseLevel(level, rows, in, out, b.s2, s.chromaFlatThreshold[level - 1],
                     s.chromaCoefThreshold[level - 1], 0.0f);
    }
    // Level 5 folds back into L(4); the ring keeps four levels.
    waveletKernels.inverseOctets(b.s0, b.s2, rows / 32, b.s1);

    // Ring A: L(4), H1(4) .. H1(1); ring B: H2(5) .. H2(1), zeros below rows/32.
    auto lineA = [&](int k, int j) noexcept { return ringA + (firstLine + k) * rows + j; };
    auto lineB = [&](int k, int j) noexcept { return ringB + (firstLine + k) * rows + j; };
    octet_rows::scatter(b.s1, 0, rows / 8, lanes, lineA);
    octet_rows::scatter(b.s0, rows / 8, rows / 8, lanes, lineA);
    octet_rows::scatter(b.s1, rows / 4, rows / 4, lanes, lineA);
    octet_rows::scatter(b.s0, rows / 2, rows / 2, lanes, lineA);
    for (int k = 0; k < lanes; ++k) std::memset(lineB(k, 0), 0, rows / 32 * sizeof(float));
    octet_rows::scatter(b.s2, rows / 32, rows - rows / 32, lanes, lineB);

    // The margin lines repeat the line of the nearest picture column.
    const std::size_t lineBytes = static_cast<std::size_t>(rows) * sizeof(float);
    auto copyLine = [&](long to, long from) noexcept {
        std::memcpy(ringA + to * rows, ringA + from * rows, lineBytes);
        std::memcpy(ringB + to * rows, ringB + from * rows, lineBytes);
    };
    if (firstLine == chromaPad)
        for (long line = 0; line < chromaPad; ++line) copyLine(line, firstLine);
    if (firstLine + lanes == chromaPad + w / 2)
        for (long line = firstLine + lanes; line < stride / 2; ++line) copyLine(line, firstLine + lanes - 1);
}

}  // namespace

void verticalChromaColumns(const FILTER_PROC_INFO *fpip, const AnalysisParams *params, int firstColumn,
                           int endColumn, int thread_id) noexcept {
    const auto [stride, rows, w, h, pitch, lumaPad, chromaPad] = planeGeometry(fpip);
    const OctetLines b = octetLines(thread_id, rows);
    const long octetFloats = static_cast<long>(kLanes) * rows;
    constexpr int kHalf = kStripOctets / 2;
    for (int cs = firstColumn; cs < endColumn; cs += kHalf * kLanes) {
        const int columns = endColumn - cs < kHalf * kLanes ? endColumn - cs : kHalf * kLanes;
        const int octets = (columns + kLanes - 1) / kLanes;
        const int lastLanes = columns - kLanes * (octets - 1);
        const long stripBytes = static_cast<long>(octets) * kLanes * 2 * sizeof(PIXEL_YC);
        importColumns(params->source + 2 * cs, stripBytes, pitch, h, rows, params->fieldMode,
                      b.strip, kStripOctets, [&](const PIXEL_YC *px, long at) noexcept {
                          for (int o = 0; o < octets; ++o) {
                              float *cb = b.strip + o * octetFloats + at, *cr = cb + kHalf * octetFloats;
                              const PIXEL_YC *p = px + o * 2 * kLanes;
                              if (o < octets - 1 || lastLanes == kLanes) {
                                  importRowCbCr(p, cb, cr);
                              } else {
                                  for (int k = 0; k < kLanes; ++k) {
                                      const PIXEL_YC &q = p[2 * (k < lastLanes ? k : lastLanes - 1)];
                                      cb[k] = q.cb;
                                      cr[k] = q.cr;
                                  }
                              }
                          }
                      });
        for (int o = 0; o < octets; ++o) {
            const int lanes = o < octets - 1 ? kLanes : lastLanes;
            const long firstLine = chromaPad + cs + kLanes * o;
            analyseChromaOctet<ChromaPlane::Cb>(fpip, params, b, b.strip + o * octetFloats, firstLine, lanes);
            analyseChromaOctet<ChromaPlane::Cr>(fpip, params, b, b.strip + (kHalf + o) * octetFloats, firstLine,
                                                lanes);
        }
    }
}

void verticalAnalysisWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept {
    const auto *params = static_cast<const AnalysisParams *>(param1);
    const auto *fpip = static_cast<const FILTER_PROC_INFO *>(param2);
    const int w = fpip->w;

    // Octets of luma columns, then octets of chroma columns taken in both planes at
    // once (one sweep over the source for both), shared among every thread. An
    // octet of chroma columns in both planes costs about five thirds of an octet of
    // luma columns (measured; five levels on two columns against four levels and the
    // way back up on one).
    const StageWork work{{w / kLanes, w / 2 / kLanes, 0}, {3, 5, 0}};
    const UnitRange share = threadShare(work, thread_id, workingThreads(thread_num));
    const UnitRange luma = runPart(work, share, 0), chroma = runPart(work, share, 1);
    if (luma.first < luma.end) verticalLumaColumns(fpip, luma.first * kLanes, params, luma.end * kLanes, thread_id);
    if (chroma.first < chroma.end)
        verticalChromaColumns(fpip, params, chroma.first * kLanes, chroma.end * kLanes, thread_id);
}
