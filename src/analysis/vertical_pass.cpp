// Vertical pass: every picture column, imported centred in the working geometry with
// edge extension (frame_import.cpp), is analysed vertically with coring. Luma leaves
// as a one-level vertical split in yWork for the horizontal pass; chroma (every even
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

// Writes count positions from `first` of each of `lanes` lines of an octet into
// consecutive ring lines (slot groups only): two 4 x 4 transposes turn four
// positions of the eight lanes into one group of four positions per line.
void storeOctetToRing(float *firstSlotLine, long lineFloats, int lanes, const float *src, int first,
                      int count) noexcept {
    octet_rows::scatter(src, first, count, lanes,
                        [&](int k, int j) noexcept { return firstSlotLine + k * lineFloats + 3L * j; });
}

// The same for one lane into one ring line.
void storeOctetLaneToRing(float *slotLine, int lane, const float *src, int first, int count) noexcept {
    const float *at = src + kLanes * first + lane;
    float *dst = slotLine + 3L * first;
    for (int j = 0; j < count; j += 4, at += 4 * kLanes)
        _mm_store_ps(dst + 3 * j, _mm_setr_ps(at[0], at[kLanes], at[2 * kLanes], at[3 * kLanes]));
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
        importLuma({params->source + xs, pitch, h, rows, params->fieldMode}, octets, lastLanes, b.strip);
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
    const long lineFloats = 3L * rows;
    float *ringA = (P == ChromaPlane::Cb ? workBuffers.cbRingA : workBuffers.crRingA) + 4 * params->slot;
    float *ringB = (P == ChromaPlane::Cb ? workBuffers.cbRingB : workBuffers.crRingB) + 4 * params->slot;

    for (int level = 1; level <= 5; ++level) {
        const float *in = level == 1 ? column : level % 2 ? b.s1 : b.s0;
        float *out = level % 2 ? b.s0 : b.s1;
        analyseLevel(level, rows, in, out, b.s2, s.chromaFlatThreshold[level - 1],
                     s.chromaCoefThreshold[level - 1], 0.0f);
    }
    // Level 5 folds back into L(4); the ring keeps four levels.
    waveletKernels.inverseOctets(b.s0, b.s2, rows / 32, b.s1);

    // Ring A: L(4), H1(4) .. H1(1); ring B: H2(5) .. H2(1), nothing below rows/32.
    float *a = ringA + firstLine * lineFloats, *bb = ringB + firstLine * lineFloats;
    storeOctetToRing(a, lineFloats, lanes, b.s1, 0, rows / 8);
    storeOctetToRing(a, lineFloats, lanes, b.s0, rows / 8, rows / 8);
    storeOctetToRing(a, lineFloats, lanes, b.s1, rows / 4, rows / 4);
    storeOctetToRing(a, lineFloats, lanes, b.s0, rows / 2, rows / 2);
    for (int k = 0; k < lanes; ++k) storeRingPositions(bb + k * lineFloats, nullptr, 0, rows / 32);
    storeOctetToRing(bb, lineFloats, lanes, b.s2, rows / 32, rows - rows / 32);

    // A margin line: a copy of one lane's line.
    auto writeMargin = [&](long line, int lane) noexcept {
        float *ma = ringA + line * lineFloats, *mb = ringB + line * lineFloats;
        storeOctetLaneToRing(ma, lane, b.s1, 0, rows / 8);
        storeOctetLaneToRing(ma, lane, b.s0, rows / 8, rows / 8);
        storeOctetLaneToRing(ma, lane, b.s1, rows / 4, rows / 4);
        storeOctetLaneToRing(ma, lane, b.s0, rows / 2, rows / 2);
        storeRingPositions(mb, nullptr, 0, rows / 32);
        storeOctetLaneToRing(mb, lane, b.s2, rows / 32, rows - rows / 32);
    };
    if (firstLine == chromaPad)
        for (long line = 0; line < chromaPad; ++line) writeMargin(line, 0);
    if (firstLine + lanes == chromaPad + w / 2)
        for (long line = firstLine + lanes; line < stride / 2; ++line) writeMargin(line, lanes - 1);
}

// Both chroma planes from one sweep over the source rows per strip, for a thread
// that runs both chroma jobs: strips of half the width, Cb in the first half of the
// strip's lines and Cr in the second.
void verticalChromaBoth(const FILTER_PROC_INFO *fpip, const AnalysisParams *params, int thread_id) noexcept {
    const auto [stride, rows, w, h, pitch, lumaPad, chromaPad] = planeGeometry(fpip);
    const OctetLines b = octetLines(thread_id, rows);
    const long octetFloats = static_cast<long>(kLanes) * rows;
    constexpr int kHalf = kStripOctets / 2;
    const int chromaColumns = w / 2;
    for (int cs = 0; cs < chromaColumns; cs += kHalf * kLanes) {
        const int columns = chromaColumns - cs < kHalf * kLanes ? chromaColumns - cs : kHalf * kLanes;
        const int octets = (columns + kLanes - 1) / kLanes;
        const int lastLanes = columns - kLanes * (octets - 1);
        importCbCr({params->source + 2 * cs, pitch, h, rows, params->fieldMode}, octets, lastLanes, kHalf, b.strip);
        for (int o = 0; o < octets; ++o) {
            const int lanes = o < octets - 1 ? kLanes : lastLanes;
            const long firstLine = chromaPad + cs + kLanes * o;
            analyseChromaOctet<ChromaPlane::Cb>(fpip, params, b, b.strip + o * octetFloats, firstLine, lanes);
            analyseChromaOctet<ChromaPlane::Cr>(fpip, params, b, b.strip + (kHalf + o) * octetFloats, firstLine,
                                                lanes);
        }
    }
}

}  // namespace

template <ChromaPlane P>
void verticalChromaColumns(const FILTER_PROC_INFO *fpip, const AnalysisParams *params,
                           int thread_id) noexcept {
    const auto [stride, rows, w, h, pitch, lumaPad, chromaPad] = planeGeometry(fpip);
    const OctetLines b = octetLines(thread_id, rows);
    const long octetFloats = static_cast<long>(kLanes) * rows;
    const int chromaColumns = w / 2;

    // Strips of chroma columns (every second picture column), imported in one sweep
    // over the source rows, then eight columns at a time through the octet kernels.
    for (int cs = 0; cs < chromaColumns; cs += kStripColumns) {
        const int columns = chromaColumns - cs < kStripColumns ? chromaColumns - cs : kStripColumns;
        const int octets = (columns + kLanes - 1) / kLanes;
        const int lastLanes = columns - kLanes * (octets - 1);
        importChroma<P>({params->source + 2 * cs, pitch, h, rows, params->fieldMode}, octets, lastLanes, b.strip);
        for (int o = 0; o < octets; ++o)
            analyseChromaOctet<P>(fpip, params, b, b.strip + o * octetFloats, chromaPad + cs + kLanes * o,
                                  o < octets - 1 ? kLanes : lastLanes);
    }
}

template void verticalChromaColumns<ChromaPlane::Cb>(const FILTER_PROC_INFO *, const AnalysisParams *,
                                                     int) noexcept;
template void verticalChromaColumns<ChromaPlane::Cr>(const FILTER_PROC_INFO *, const AnalysisParams *,
                                                     int) noexcept;

void verticalAnalysisWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept {
    const auto *params = static_cast<const AnalysisParams *>(param1);
    const auto *fpip = static_cast<const FILTER_PROC_INFO *>(param2);
    const int w = fpip->w;

    int owner[4];  // luma left half, right half, Cb, Cr
    fourJobOwners(FourJobs::LumaChroma, thread_num, owner);
    if (owner[0] == thread_id) verticalLumaColumns(fpip, 0, params, w / 2, thread_id);
    if (owner[1] == thread_id) verticalLumaColumns(fpip, w / 2, params, w, thread_id);
    if (owner[2] == thread_id && owner[3] == thread_id) {
        // Both chroma jobs on this thread: one sweep over the source for both planes.
        verticalChromaBoth(fpip, params, thread_id);
    } else {
        if (owner[2] == thread_id) verticalChromaColumns<ChromaPlane::Cb>(fpip, params, thread_id);
        if (owner[3] == thread_id) verticalChromaColumns<ChromaPlane::Cr>(fpip, params, thread_id);
    }
}
