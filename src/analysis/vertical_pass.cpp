// Vertical pass: every picture column, imported centred in the working geometry with
// edge extension (frame_import.cpp), is analysed vertically with coring. Luma leaves
// as a one-level vertical split in the slot's lines of yRingA, where the horizontal
// pass picks it up; chroma (every even
// column) goes, fully analysed, straight into the slot's lines of its rings.
#include <emmintrin.h>

#include <cstring>

#include "analysis/analysis.h"
#include "analysis/frame_import.h"
#include "core/core.h"
#include "wavelet/octet_rows.h"
#include "wavelet/taps.h"
#include "wavelet/wavelet.h"

namespace {

constexpr int kLanes = 8;  // columns side by side in an octet line
constexpr int kStripOctets = 8;
constexpr int kStripColumns = kLanes * kStripOctets;


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
    // The slot's luma lines of ring A hold the split rows until the horizontal pass
    // replaces each with its analysis: the frame needs no plane of its own.
    float *split = ringSlot(workBuffers.yRingA, params->slot, rows, stride);

    // Strips of up to kStripOctets x 8 columns: the source rows and the split rows
    // are each visited once per strip, and within it eight neighbouring columns go
    // through the octet kernels together, one in each lane.
    for (int xs = firstColumn; xs < endColumn; xs += kStripColumns) {
        const int columns = endColumn - xs < kStripColumns ? endColumn - xs : kStripColumns;
        const int octets = (columns + kLanes - 1) / kLanes;
        const int lastLanes = columns - kLanes * (octets - 1);
        importLuma({params->source + xs, pitch, h, rows, params->strengths->fieldMode}, octets, lastLanes, b.strip);
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
            float *row = split + static_cast<long>(r) * stride;
            float *dst = row + leftPad + xs;
            const float *src = b.strip + kLanes * r;
            for (int o = 0; o < octets; ++o, dst += kLanes, src += octetFloats) {
                if (o < octets - 1 || lastLanes == kLanes) {
                    _mm_storeu_ps(dst, _mm_load_ps(src));
                    _mm_storeu_ps(dst + 4, _mm_load_ps(src + 4));
                } else {
                    std::memcpy(dst, src, lastLanes * sizeof(float));
                }
            }
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
        importCbCr({params->source + 2 * cs, pitch, h, rows, params->strengths->fieldMode}, octets, lastLanes, kHalf, b.strip);
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
    const UnitRange share = threadShare(work, thread_id, workingThreads(thread_id, thread_num, params->threadsSeen));
    const UnitRange luma = runPart(work, share, 0), chroma = runPart(work, share, 1);
    if (luma.first < luma.end) verticalLumaColumns(fpip, luma.first * kLanes, params, luma.end * kLanes, thread_id);
    if (chroma.first < chroma.end)
        verticalChromaColumns(fpip, params, chroma.first * kLanes, chroma.end * kLanes, thread_id);
}
