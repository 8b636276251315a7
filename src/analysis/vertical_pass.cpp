// Vertical pass: every picture column, imported centred in the working geometry with
// edge extension (frame_import.cpp), is analysed vertically with coring. Luma leaves
// as a one-level vertical split in the slot's lines of yRingA, where the horizontal
// pass picks it up; chroma (every even column) goes, fully analysed, straight into
// the slot's lines of its rings. A strip of columns is imported for every component
// in one sweep over the source rows and analysed while it is in the cache.
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
// A group is sixteen picture columns: two luma octets and one chroma octet in each
// plane, the unit every frame width (a multiple of 16) is made of.
constexpr int kGroupColumns = 2 * kLanes;
// Groups imported together: eight octet lines, which with the three work lines is
// the thread's octet scratch.
constexpr int kStripGroups = 2;

// The thread's octet scratch: three work lines, then a strip of 4 x kStripGroups lines.
struct OctetLines {
    float *s0, *s1, *s2, *strip;
};

OctetLines octetLines(const WorkBuffers &buffers, int thread_id, int rows) noexcept {
    return {octetScratchLine(buffers, thread_id, rows, 0), octetScratchLine(buffers, thread_id, rows, 1),
            octetScratchLine(buffers, thread_id, rows, 2), octetScratchLine(buffers, thread_id, rows, 3)};
}

// One analysis level with coring on eight columns; the H2 band always goes to s2.
void analyseLevel(const WaveletKernels &kernels, int level, int fullLength, const float *in, float *out, float *s2,
                  float flatThreshold, float coefThreshold, float keepSmallBound) noexcept {
    const int n = fullLength >> level;
    kernels.forwardOctets(2 * n, in, out, s2);
    kernels.shrinkOctets(n, out, s2, flatThreshold, coefThreshold, keepSmallBound);
}

void fillRowSpan(float *row, int first, int end, float value) noexcept {
    for (int c = first; c < end; ++c) row[c] = value;
}


// Analyses the luma octets imported into strip lines [0, octets) (picture columns
// xs .. xs + 8 octets - 1) and leaves each column's split in the slot's yRingA lines.
void verticalLumaColumns(const FILTER_PROC_INFO *fpip, const AnalysisParams *params, const OctetLines &b,
                         float *strip, int xs, int octets) noexcept {
    const WorkBuffers &buffers = *params->context.buffers;
    const WaveletKernels &kernels = *params->context.kernels->wavelet;
    const auto [stride, rows, w, h, pitch, leftPad, chromaPad] = planeGeometry(fpip, buffers.planes);
    const long octetFloats = static_cast<long>(kLanes) * rows;
    const NrStrengths &s = *params->strengths;
    const float keepSmall = s.animeMode ? 0.0f : wavelet_taps::kKeepSmallBound;
    // The slot's luma lines of ring A hold the split rows until the horizontal pass
    // replaces each with its analysis: the frame needs no plane of its own.
    float *split = ringSlot(buffers.yRingA, params->slot, rows, stride);

    for (int o = 0; o < octets; ++o) {
        float *column = strip + o * octetFloats;
        // Band buffers alternate so each level reads the previous level's L.
        analyseLevel(kernels, 1, rows, column, b.s1, b.s2, s.lumaFlatThreshold[0], s.lumaCoefThreshold[0], keepSmall);
        analyseLevel(kernels, 2, rows, b.s1, b.s0, b.s2, s.lumaFlatThreshold[1], s.lumaCoefThreshold[1], keepSmall);
        analyseLevel(kernels, 3, rows, b.s0, b.s1, b.s2, s.lumaFlatThreshold[2], s.lumaCoefThreshold[2], keepSmall);
        analyseLevel(kernels, 4, rows, b.s1, b.s0, b.s2, s.lumaFlatThreshold[3], s.lumaCoefThreshold[3], keepSmall);
        // Back up to the plain one-level split: each inverse step lands exactly on
        // the low band of the buffer that already holds the next finer H1 band.
        kernels.inverseOctets(b.s0, b.s2, rows / 16, b.s1);
        kernels.inverseOctets(b.s1, b.s2, rows / 8, b.s0);
        kernels.inverseOctets(b.s0, b.s2, rows / 4, b.s1);
        // lo(1) over H2(1), back into the strip in place of the imported columns.
        kernels.mergeLowBandOctets(b.s1, rows / 2, column, kLanes);
        std::memcpy(column + octetFloats / 2, b.s2 + octetFloats / 2, octetFloats / 2 * sizeof(float));
    }

    const bool leftEdge = xs == 0;
    const bool rightEdge = xs + kLanes * octets == w;
    for (int r = 0; r < rows; ++r) {
        float *row = split + static_cast<long>(r) * stride;
        float *dst = row + leftPad + xs;
        const float *src = strip + kLanes * r;
        // Whole cache lines one after the other, so non-temporal stores fill them
        // without reading them first; the horizontal pass reads them back anyway.
        for (int o = 0; o < octets; ++o, dst += kLanes, src += octetFloats) {
            _mm_stream_ps(dst, _mm_load_ps(src));
            _mm_stream_ps(dst + 4, _mm_load_ps(src + 4));
        }
        // The margins repeat the nearest picture column, taken from the strip: the
        // row's own copy may still be on its way to memory.
        if (leftEdge) fillRowSpan(row, 0, leftPad, strip[kLanes * r]);
        if (rightEdge) fillRowSpan(row, leftPad + w, stride, src[-octetFloats + kLanes - 1]);
    }
}


// Analyses one octet of chroma columns (imported at `column`) of plane P over five
// levels and writes it to ring lines firstLine .. firstLine + lanes - 1 of the slot,
// with the margin lines when it holds the first or the last picture column.
template <ChromaPlane P>
void analyseChromaOctet(const FILTER_PROC_INFO *fpip, const AnalysisParams *params, const OctetLines &b,
                        const float *column, long firstLine, int lanes) noexcept {
    const WorkBuffers &buffers = *params->context.buffers;
    const WaveletKernels &kernels = *params->context.kernels->wavelet;
    const auto [stride, rows, w, h, pitch, lumaPad, chromaPad] = planeGeometry(fpip, buffers.planes);
    const NrStrengths &s = *params->strengths;
    float *ringA = ringSlot(P == ChromaPlane::Cb ? buffers.cbRingA : buffers.crRingA, params->slot, stride / 2, rows);
    float *ringB = ringSlot(P == ChromaPlane::Cb ? buffers.cbRingB : buffers.crRingB, params->slot, stride / 2, rows);

    for (int level = 1; level <= 5; ++level) {
        const float *in = level == 1 ? column : level % 2 ? b.s1 : b.s0;
        float *out = level % 2 ? b.s0 : b.s1;
        analyseLevel(kernels, level, rows, in, out, b.s2, s.chromaFlatThreshold[level - 1],
                     s.chromaCoefThreshold[level - 1], 0.0f);
    }
    // Level 5 folds back into L(4); the ring keeps four levels.
    kernels.inverseOctets(b.s0, b.s2, rows / 32, b.s1);

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


// Analyses the chroma octets of both planes imported into strip lines [0, octets)
// (Cb) and [octets, 2 octets) (Cr), chroma columns cs .. cs + 8 octets - 1, into the
// slot's lines of their rings.
void verticalChromaColumns(const FILTER_PROC_INFO *fpip, const AnalysisParams *params, const OctetLines &b,
                           const float *strip, int cs, int octets) noexcept {
    const SizeClass sc = params->context.buffers->planes;
    const auto [stride, rows, w, h, pitch, lumaPad, chromaPad] = planeGeometry(fpip, sc);
    const long octetFloats = static_cast<long>(kLanes) * rows;
    for (int o = 0; o < octets; ++o) {
        const long firstLine = chromaPad + cs + kLanes * o;
        analyseChromaOctet<ChromaPlane::Cb>(fpip, params, b, strip + o * octetFloats, firstLine, kLanes);
        analyseChromaOctet<ChromaPlane::Cr>(fpip, params, b, strip + (octets + o) * octetFloats, firstLine, kLanes);
    }
}

}  // namespace

void verticalAnalysisWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept {
    const auto *params = static_cast<const AnalysisParams *>(param1);
    const auto *fpip = static_cast<const FILTER_PROC_INFO *>(param2);
    const WorkBuffers &buffers = *params->context.buffers;
    const auto [stride, rows, w, h, pitch, leftPad, chromaPad] = planeGeometry(fpip, buffers.planes);
    const OctetLines b = octetLines(buffers, thread_id, rows);
    const long octetFloats = static_cast<long>(kLanes) * rows;

    // Groups of sixteen picture columns, all alike, shared among every thread. A
    // strip of groups is imported in one sweep over its rows for luma and both
    // chroma planes, then analysed while it is still in the cache.
    const StageWork work{{w / kGroupColumns, 0, 0}, {1, 0, 0}};
    const UnitRange share = threadShare(work, thread_id, workingThreads(params->context, thread_id, thread_num));
    for (int g = share.first; g < share.end; g += kStripGroups) {
        const int groups = share.end - g < kStripGroups ? share.end - g : kStripGroups;
        const int xs = kGroupColumns * g;
        importPixelColumns({params->source + xs, pitch, h, rows, params->strengths->fieldMode}, groups, b.strip);
        verticalLumaColumns(fpip, params, b, b.strip, xs, 2 * groups);
        verticalChromaColumns(fpip, params, b, b.strip + 2L * groups * octetFloats, xs / 2, groups);
    }
    // The split rows' non-temporal stores are complete before the horizontal pass.
    _mm_sfence();
}
