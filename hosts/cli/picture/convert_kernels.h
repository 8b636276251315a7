// The sample rules of convert.cpp sixteen pixels at a time, with SSSE3, for 8- to
// 11-bit video (where every code comes back through the rules, so no input code is
// kept). Each kernel does the longest run of whole groups of sixteen pixels it can
// and returns how far it got; the caller's scalar loop finishes the row with the same
// rules, so the bytes are those of the scalar path.
#pragma once

#include <cstdint>

#include "abi/host_api.h"

namespace q5cli::convert_kernels {

/// True where the processor runs SSSE3 and the build has the kernels.
bool available();

/// The depth the kernels work at: shift = bits - 8 (0 to 3), maxCode = 2^bits - 1,
/// bytes for 8 bits (else words). (No inline code here: this header is compiled with
/// SSSE3 on one side and without on the other.)
struct Depth {
    int shift, maxCode;
    bool bytes;
};

/// Luma codes of pixels [0, n) of a row (bytes or little-endian words); returns the
/// pixels done.
int lumaCodes(const PIXEL_YC *in, int n, Depth depth, std::uint8_t *out);

/// Chroma codes of 4:2:0 (rows a and b) or 4:2:2 (b null): the rounded-half-up mean
/// of each pixel pair's YC48 values. Does samples [0, pairs) as far as both pixels of
/// each pair lie in the row; returns the samples done.
int chromaPairCodes(const PIXEL_YC *a, const PIXEL_YC *b, int pairs, Depth depth, std::uint8_t *cbOut,
                    std::uint8_t *crOut);

/// 4:4:4 chroma codes of pixels [0, n); returns the pixels done.
int fullChromaCodes(const PIXEL_YC *in, int n, Depth depth, std::uint8_t *cbOut, std::uint8_t *crOut);

/// The way in for 4:2:0 and 4:2:2 rows: pixels [0, 2 * pairs) from their luma codes
/// and the pairs' chroma codes, words clamped to maxCode. `seen` collects every word
/// read, or-ed (as the scalar loop does). Returns the pixel pairs done.
int pixelsFromPairCodes(const std::uint8_t *luma, const std::uint8_t *cb, const std::uint8_t *cr,
                        int pairs, Depth depth, PIXEL_YC *out, int *seen);

/// The way in for 4:4:4 (and mono, cb and cr null: neutral chroma): pixels [0, n)
/// from their codes, as pixelsFromPairCodes. Returns the pixels done.
int pixelsFromCodes(const std::uint8_t *luma, const std::uint8_t *cb, const std::uint8_t *cr, int n, Depth depth,
                    PIXEL_YC *out, int *seen);

}  // namespace q5cli::convert_kernels
