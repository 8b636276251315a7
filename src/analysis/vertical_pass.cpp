// Frame import and vertical pass: every picture column is centred in the working
// geometry with edge extension and analysed vertically with coring. Luma leaves as
// a one-level vertical split in yWork for the horizontal pass; chroma (every even
// column) goes, fully analysed, straight into the slot's lines of its rings.
#include <xmmintrin.h>

#include <cstring>

#include "analysis/analysis.h"
#include "core/core.h"
#include "host/pipeline.h"
#include "wavelet/wavelet.h"

namespace {

// Samples of one component as exact floats: edge copies, the samples themselves,
// edge copies of the last one.
template <std::int16_t PIXEL_YC::*Component>
void importColumn(const PIXEL_YC *start, int count, int topPadCount, int bottomPadCount,
                  long pixelStep, float *output) noexcept {
    const float first = static_cast<float>(start->*Component);
    for (int i = 0; i < topPadCount; ++i) output[i] = first;
    float *body = output + topPadCount;
    for (int i = 0; i < count; ++i) body[i] = static_cast<float>(start[i * pixelStep].*Component);
    const float last = body[count - 1];
    float *bottom = body + count;
    for (int i = 0; i < bottomPadCount; ++i) bottom[i] = last;
}

// Luma of `count` neighbouring picture columns as the vertical analysis sees them
// (frame mode: rows in order; field mode: field 0 above field 1), into lines
// `spacing` floats apart. The columns are read together so that each source row
// is visited once for all of them.
void importLumaColumns(const PIXEL_YC *source, int count, long pitch, int h, int rows, bool fieldMode,
                       float *lines, int spacing) noexcept {
    auto run = [&](const PIXEL_YC *first, int n, int pad, long step, int offset) noexcept {
        for (int k = 0; k < count; ++k) {
            float *line = lines + k * spacing + offset;
            const float top = first[k].y;
            for (int i = 0; i < pad; ++i) line[i] = top;
        }
        for (int i = 0; i < n; ++i) {
            const PIXEL_YC *px = first + i * step;
            for (int k = 0; k < count; ++k) lines[k * spacing + offset + pad + i] = px[k].y;
        }
        for (int k = 0; k < count; ++k) {
            float *bottom = lines + k * spacing + offset + pad + n;
            const float last = bottom[-1];
            for (int i = 0; i < pad; ++i) bottom[i] = last;
        }
    };
    if (!fieldMode) {
        run(source, h, (rows - h) / 2, pitch, 0);
    } else {
        run(source, h / 2, (rows - h) / 4, 2 * pitch, 0);
        run(source + pitch, h / 2, (rows - h) / 4, 2 * pitch, rows / 2);
    }
}

struct LineBuffers {
    float *s0, *s1, *s2, *mask;
};

// The thread's scratchWide0 carved into four lines `spacing` floats apart.
LineBuffers lineBuffers(int thread_id, int spacing) noexcept {
    float *base = workBuffers.scratch[thread_id].scratchWide0;
    return {base, base + spacing, base + 2 * spacing, base + 3 * spacing};
}

// One analysis level with coring; the H2 band always goes to s2.
void analyseLevel(int level, bool chroma, int fullLength, float *in, float *out,
                  const LineBuffers &b, float flatThreshold, float coefThreshold) noexcept {
    const int n = fullLength >> (level - 1);
    waveletKernels.forwardLevel(n, in, out, b.s2);
    waveletKernels.flatMask(level, chroma, b.mask, fullLength, out, b.s2, flatThreshold);
    waveletKernels.coreBands(n, out, b.s2, coefThreshold, b.mask);
}

void fillRowSpan(float *row, int first, int end, float value) noexcept {
    for (int c = first; c < end; ++c) row[c] = value;
}

}  // namespace

void verticalLumaColumns(const FILTER_PROC_INFO *fpip, int firstColumn, const AnalysisParams *params,
                         int endColumn, int thread_id) noexcept {
    const int stride = sizeClass.stride;
    const int rows = sizeClass.rows;
    const int w = fpip->w;
    const int h = fpip->h;
    const long pitch = fpip->max_w;
    const int leftPad = (stride - w) / 2;
    const LineBuffers b = lineBuffers(thread_id, stride);
    const NrStrengths &s = nrStrengths;
    float *yWork = workBuffers.yWork;
    // Columns go in batches of four through the thread's second wide scratch (free
    // until the horizontal pass): one imported column per line, later its result.
    // Reading and writing four neighbouring columns per row costs one pass of the
    // large row strides instead of four.
    constexpr int kBatch = 4;
    float *batch = workBuffers.scratch[thread_id].scratchWide1;

    for (int x0 = firstColumn; x0 < endColumn; x0 += kBatch) {
        const int count = endColumn - x0 < kBatch ? endColumn - x0 : kBatch;
        importLumaColumns(params->source + x0, count, pitch, h, rows, params->fieldMode, batch, stride);
        for (int k = 0; k < count; ++k) {
            float *column = batch + k * stride;
            // Band buffers alternate so each level reads the previous level's L.
            analyseLevel(1, false, rows, column, b.s1, b, s.lumaFlatThreshold[0], s.lumaCoefThreshold[0]);
            analyseLevel(2, false, rows, b.s1, b.s0, b, s.lumaFlatThreshold[1], s.lumaCoefThreshold[1]);
            analyseLevel(3, false, rows, b.s0, b.s1, b, s.lumaFlatThreshold[2], s.lumaCoefThreshold[2]);
            analyseLevel(4, false, rows, b.s1, b.s0, b, s.lumaFlatThreshold[3], s.lumaCoefThreshold[3]);
            // Back up to the plain one-level split: each inverse step lands exactly on
            // the low band of the buffer that already holds the next finer H1 band.
            waveletKernels.inverseLevel(b.s0, b.s2, rows / 16, b.s1);
            waveletKernels.inverseLevel(b.s1, b.s2, rows / 8, b.s0);
            waveletKernels.inverseLevel(b.s0, b.s2, rows / 4, b.s1);
            waveletKernels.mergeLowBand(b.s1, rows / 2, b.s2);
            std::memcpy(column, b.s2, static_cast<std::size_t>(rows) * sizeof(float));
        }

        const bool leftEdge = x0 == 0;
        const bool rightEdge = x0 + count == w;
        const float *last = batch + (count - 1) * stride;
        for (int r = 0; r < rows; ++r) {
            float *row = yWork + static_cast<long>(r) * stride;
            for (int k = 0; k < count; ++k) row[leftPad + x0 + k] = batch[k * stride + r];
            // The margins repeat the nearest picture column.
            if (leftEdge) fillRowSpan(row, 0, leftPad, batch[r]);
            if (rightEdge) fillRowSpan(row, leftPad + w, stride, last[r]);
        }
    }
}

template <ChromaPlane P>
void importChromaColumn(const PIXEL_YC *start, int count, int topPadCount, int bottomPadCount,
                        long pixelStep, float *output) noexcept {
    if constexpr (P == ChromaPlane::Cb)
        importColumn<&PIXEL_YC::cb>(start, count, topPadCount, bottomPadCount, pixelStep, output);
    else
        importColumn<&PIXEL_YC::cr>(start, count, topPadCount, bottomPadCount, pixelStep, output);
}

template <ChromaPlane P>
void verticalChromaColumns(const FILTER_PROC_INFO *fpip, const AnalysisParams *params,
                           int thread_id) noexcept {
    const int stride = sizeClass.stride;
    const int rows = sizeClass.rows;
    const int w = fpip->w;
    const int h = fpip->h;
    const long pitch = fpip->max_w;
    const int chromaPad = (stride - w) / 4;
    const LineBuffers b = lineBuffers(thread_id, rows);
    const NrStrengths &s = nrStrengths;
    const bool fieldMode = s.fieldMode;
    const long lineFloats = 3L * rows;
    float *lineA = (P == ChromaPlane::Cb ? workBuffers.cbRingA : workBuffers.crRingA) + 4 * params->slot;
    float *lineB = (P == ChromaPlane::Cb ? workBuffers.cbRingB : workBuffers.crRingB) + 4 * params->slot;

    // Ring A: L(4), H1(4) .. H1(1); ring B: H2(5) .. H2(1), nothing below rows/32.
    auto writeLine = [&]() noexcept {
        storeRingPositions(lineA, b.s1, 0, rows / 8);
        storeRingPositions(lineA, b.s0, rows / 8, rows / 8);
        storeRingPositions(lineA, b.s1, rows / 4, rows / 4);
        storeRingPositions(lineA, b.s0, rows / 2, rows / 2);
        storeRingPositions(lineB, nullptr, 0, rows / 32);
        storeRingPositions(lineB, b.s2, rows / 32, rows - rows / 32);
        lineA += lineFloats;
        lineB += lineFloats;
    };

    for (int x = 0; x < w; x += 2) {
        const PIXEL_YC *column = params->source + x;
        if (!fieldMode) {
            // Two halves, so that each call carries one edge extension.
            const int pad = (rows - h) / 2;
            importChromaColumn<P>(column, h / 2, pad, 0, pitch, b.s1);
            importChromaColumn<P>(column + (h / 2) * pitch, h / 2, 0, pad, pitch, b.s1 + pad + h / 2);
        } else {
            const int pad = (rows - h) / 4;
            importChromaColumn<P>(column, h / 2, pad, pad, 2 * pitch, b.s1);
            importChromaColumn<P>(column + pitch, h / 2, pad, pad, 2 * pitch, b.s1 + rows / 2);
        }
        for (int level = 1; level <= 5; ++level) {
            float *in = level % 2 ? b.s1 : b.s0;
            float *out = level % 2 ? b.s0 : b.s1;
            analyseLevel(level, true, rows, in, out, b, s.chromaFlatThreshold[level - 1],
                         s.chromaCoefThreshold[level - 1]);
        }
        // Level 5 folds back into L(4); the ring keeps four levels.
        waveletKernels.inverseLevel(b.s0, b.s2, rows / 32, b.s1);

        if (x == 0)
            for (int i = 0; i < chromaPad; ++i) writeLine();
        writeLine();
    }
    for (int i = 0; i < chromaPad; ++i) writeLine();
}

template void verticalChromaColumns<ChromaPlane::Cb>(const FILTER_PROC_INFO *, const AnalysisParams *,
                                                     int) noexcept;
template void verticalChromaColumns<ChromaPlane::Cr>(const FILTER_PROC_INFO *, const AnalysisParams *,
                                                     int) noexcept;
template void importChromaColumn<ChromaPlane::Cb>(const PIXEL_YC *, int, int, int, long,
                                                  float *) noexcept;
template void importChromaColumn<ChromaPlane::Cr>(const PIXEL_YC *, int, int, int, long,
                                                  float *) noexcept;

void verticalAnalysisWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept {
    const auto *params = static_cast<const AnalysisParams *>(param1);
    const auto *fpip = static_cast<const FILTER_PROC_INFO *>(param2);
    const int w = fpip->w;

    // Which thread runs luma left, luma right, Cb and Cr: four jobs at most, so
    // threads 4 and above idle.
    int owner[4];
    switch (thread_num) {
    case 1: owner[0] = 0, owner[1] = 0, owner[2] = 0, owner[3] = 0; break;
    case 2: owner[0] = 0, owner[1] = 0, owner[2] = 1, owner[3] = 1; break;
    case 3: owner[0] = 0, owner[1] = 0, owner[2] = 1, owner[3] = 2; break;
    default: owner[0] = 0, owner[1] = 1, owner[2] = 2, owner[3] = 3; break;
    }
    if (owner[0] == thread_id) verticalLumaColumns(fpip, 0, params, w / 2, thread_id);
    if (owner[1] == thread_id) verticalLumaColumns(fpip, w / 2, params, w, thread_id);
    if (owner[2] == thread_id) verticalChromaColumns<ChromaPlane::Cb>(fpip, params, thread_id);
    if (owner[3] == thread_id) verticalChromaColumns<ChromaPlane::Cr>(fpip, params, thread_id);
    // The ring lines went out as non-temporal stores; make them visible before the
    // host's barrier lets other threads read them.
    _mm_sfence();
}
