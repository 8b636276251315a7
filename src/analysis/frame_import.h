// Frame import for the vertical pass: picture columns of a host image into octet
// lines (position i of column k at float 8i + k), `rows` positions each. Frame mode:
// the h picture rows centred, the first and last repeated into the margins; field
// mode: field 0 centred in the upper half, field 1 in the lower. Lanes past the last
// column repeat it, so they carry ordinary numbers.
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

/// Luma of `octets` octets of neighbouring picture columns (the last with lastLanes
/// columns) into lines [0, octets) of strip.
void importLuma(const ImportSource &src, int octets, int lastLanes, float *strip) noexcept;

/// Both chroma planes in one sweep over the rows: Cb into lines [0, octets) and Cr
/// into lines [crLine, crLine + octets) of strip.
void importCbCr(const ImportSource &src, int octets, int lastLanes, int crLine, float *strip) noexcept;
