// Frame import for the vertical pass: picture columns of a host image into octet
// lines (position i of column k at float 8i + k), `rows` positions each. Frame mode:
// the h picture rows centred, the first and last repeated into the margins; field
// mode: field 0 centred in the upper half, field 1 in the lower.
#pragma once

#include "abi/host_api.h"
#include "analysis/analysis.h"

/// The picture as the import reads it.
struct ImportSource {
    const PIXEL_YC *first;  // the first column's pixel in row 0
    long pitch;             // pixels from one row to the next
    int h;                  // picture rows (rounded)
    int rows;               // positions of each octet line
    bool fieldMode;
};

/// `groups` groups of sixteen neighbouring picture columns, every component in one
/// sweep over the rows: luma into lines [0, 2 groups) of strip, Cb (every second
/// column) into the next `groups` lines, Cr into the `groups` after them.
/// SSE2, a row of each group's sixteen pixels at a time; the scalar twin states the
/// rule one value at a time.
void importPixelColumns(const ImportSource &src, int groups, float *strip) noexcept;
void importPixelColumnsScalar(const ImportSource &src, int groups, float *strip) noexcept;
