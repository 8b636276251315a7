// Output conversion: the picture is cut out of the working planes into the host's
// output image, luma converted to samples and the half-width chroma doubled; in
// per-field mode the two stacked fields are interleaved again.
#include "core/core.h"
#include "temporal/temporal.h"

void outputRows(int thread, const FILTER_PROC_INFO *fpip, bool fieldMode, int part, int firstLine,
                int lineLimit) noexcept {
    const int stride = sizeClass.stride;
    const int rows = sizeClass.rows;
    const int w = fpip->w;
    const int h = fpip->h;
    const long pitch = fpip->max_w;
    const int leftPad = (stride - w) / 2;
    const int c0 = (stride - w) / 4;
    std::int16_t *luma = workBuffers.scratch[thread].scratchHalf;
    const std::int16_t *cbAux = workBuffers.cbAux;
    const std::int16_t *crAux = workBuffers.crAux;

    for (int j = firstLine; j < lineLimit; ++j) {
        int y, planeRow;
        if (fieldMode) {
            y = 2 * j + part;
            planeRow = part * (rows / 2) + (rows - h) / 4 + j;
        } else {
            y = part * (h / 2) + j;
            planeRow = (rows - h) / 2 + y;
        }
        floatsToSamples(workBuffers.yWork + static_cast<long>(planeRow) * stride + leftPad, w, luma);
        PIXEL_YC *out = fpip->ycp_edit + y * pitch;
        for (int k = 0; k < w / 2; ++k) {
            const long at = static_cast<long>(c0 + k) * rows + planeRow;
            const std::int16_t cb = cbAux[at];
            const std::int16_t cr = crAux[at];
            // Both pixels of a pair carry the same chroma, without interpolation.
            out[2 * k] = {luma[2 * k], cb, cr};
            out[2 * k + 1] = {luma[2 * k + 1], cb, cr};
        }
    }
}

void outputWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept {
    const bool fieldMode = *static_cast<const unsigned char *>(param1) != 0;
    const auto *fpip = static_cast<const FILTER_PROC_INFO *>(param2);
    const int h = fpip->h;

    // Sub-jobs Q1..Q4 = (part 0, first quarter), (part 0, second), (part 1, first),
    // (part 1, second); owner of each per thread count; threads 4 and above idle.
    int owner[4];
    switch (thread_num) {
    case 1: owner[0] = 0, owner[1] = 0, owner[2] = 0, owner[3] = 0; break;
    case 2: owner[0] = 0, owner[1] = 1, owner[2] = 0, owner[3] = 1; break;
    case 3: owner[0] = 0, owner[1] = 2, owner[2] = 0, owner[3] = 2; break;
    default: owner[0] = 0, owner[1] = 2, owner[2] = 1, owner[3] = 3; break;
    }
    for (int q = 0; q < 4; ++q) {
        if (owner[q] != thread_id) continue;
        const int part = q / 2;
        const int first = q % 2 ? h / 4 : 0;
        outputRows(thread_id, fpip, fieldMode, part, first, first + h / 4);
    }
}
