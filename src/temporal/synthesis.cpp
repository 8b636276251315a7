// Vertical synthesis: each yWork column, still the vertical Daubechies-4 low band
// over its high band, is rebuilt in place into luma samples. Columns are gathered
// into aligned octet lines so that the inverse kernel runs on eight at once.
#include <xmmintrin.h>

#include <cstring>

#include "core/core.h"
#include "temporal/temporal.h"
#include "wavelet/wavelet.h"

namespace {

constexpr int kLanes = 8;
constexpr int kStripOctets = 8;
constexpr int kStripColumns = kLanes * kStripOctets;
constexpr int kPrefetchRows = 16;

}  // namespace

void synthesizeColumns(int firstColumn, int thread, int endColumn) noexcept {
    const int stride = sizeClass.stride;
    const int rows = sizeClass.rows;
    const long octetFloats = static_cast<long>(kLanes) * rows;
    // The octet scratch: one spare line, then the strip (kOctetLines >= 1 + kStripOctets).
    float *spare = octetScratchLine(thread, rows, 0);
    float *strip = octetScratchLine(thread, rows, 1);
    float *yWork = workBuffers.yWork;

    // Strips of up to 64 columns: one sweep over the rows gathers them into octet
    // lines (eight columns side by side), the octet kernel rebuilds eight columns
    // at once, and one more sweep puts them back.
    for (int cs = firstColumn; cs < endColumn; cs += kStripColumns) {
        const int columns = endColumn - cs < kStripColumns ? endColumn - cs : kStripColumns;
        const int octets = (columns + kLanes - 1) / kLanes;
        const int lastLanes = columns - kLanes * (octets - 1);
        for (int r = 0; r < rows; ++r) {
            const float *src = yWork + static_cast<long>(r) * stride + cs;
            if (r + kPrefetchRows < rows)
                for (int at = 0; at < columns + 15; at += 16)
                    _mm_prefetch(reinterpret_cast<const char *>(src + kPrefetchRows * static_cast<long>(stride) + at),
                                 _MM_HINT_T0);
            for (int o = 0; o < octets; ++o, src += kLanes) {
                float *dst = strip + o * octetFloats + kLanes * r;
                if (o < octets - 1 || lastLanes == kLanes) {
                    std::memcpy(dst, src, kLanes * sizeof(float));
                } else {
                    std::memcpy(dst, src, lastLanes * sizeof(float));
                    for (int k = lastLanes; k < kLanes; ++k) dst[k] = 0.0f;  // lanes of no column
                }
            }
        }
        // Each octet's input is free once it is rebuilt; the next octet's output goes there.
        float *rebuilt[kStripOctets];
        float *free = spare;
        for (int o = 0; o < octets; ++o) {
            float *column = strip + o * octetFloats;
            rebuilt[o] = free;
            waveletKernels.inverseD4Octets(column, rows / 2, free, kLanes);
            free = column;
        }
        for (int r = 0; r < rows; ++r) {
            float *dst = yWork + static_cast<long>(r) * stride + cs;
            for (int o = 0; o < octets; ++o, dst += kLanes)
                std::memcpy(dst, rebuilt[o] + kLanes * r, (o < octets - 1 ? kLanes : lastLanes) * sizeof(float));
        }
    }
}

void synthesisWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept {
    (void)param1;
    (void)param2;
    // Octets of columns, all alike, shared among every thread.
    const StageWork work{{sizeClass.stride / kLanes, 0, 0}, {1, 0, 0}};
    const UnitRange share = threadShare(work, thread_id, workingThreads(thread_id, thread_num));
    if (share.first < share.end) synthesizeColumns(share.first * kLanes, thread_id, share.end * kLanes);
}
