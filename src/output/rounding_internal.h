// Constants and small helpers shared by the scalar and SSE2 rounding passes: the
// dither registers, the remainder seed tables and the guards around the pass.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <cstdint>

#include "abi/host_api.h"
#include "output/rounding.h"

namespace rounding {

// Galois feedback of the 16-bit dither registers (maximal length: period 65535).
constexpr std::uint16_t kFeedback = 0xB400;
// Register seeds, xor-ed with the first row of the pass.
constexpr std::uint16_t kLaneSeed[3] = {0x5555, 0x5959, 0x9A9A};

constexpr int kGridMask = 0xFFF0;  // multiples of 16: 256 steps over nominal luma
constexpr int kLowMask = 15;
constexpr int kBusyLimit = 16;     // a block whose range exceeds this is rounded plainly
constexpr int kMinStart = 30000;   // block minimum and maximum start here, so values
constexpr int kMaxStart = -30000;  // beyond +-30000 count as +-30000 in the decision

// Remainder seeds by the register's top five bits (u = r + 16): a triangle for
// luma and two skewed shapes for chroma, halved when stored.
constexpr std::int16_t kSeedTableY[32] = {8,  7,  6,  5,  4,  3,  2,  1,  0,  -1, -2,
                                          -3, -4, -5, -6, -7, -8, -7, -6, -5, -4, -3,
                                          -2, -1, 0,  1,  2,  3,  4,  5,  6,  7};
constexpr std::int16_t kSeedTableCb[32] = {-4, -7, -8, -8, -8, -8, -8, -7, -7, -6, -6,
                                           -5, -4, -3, -2, 0,  4,  7,  8,  8,  8,  8,
                                           8,  7,  7,  6,  6,  5,  4,  3,  2,  0};
constexpr std::int16_t kSeedTableCr[32] = {-4, 0,  2,  3,  4,  5,  6,  6,  7,  7,  8,
                                           8,  8,  8,  8,  7,  4,  0,  -2, -3, -4, -5,
                                           -6, -6, -7, -7, -8, -8, -8, -8, -8, -7};

constexpr bool lumaSeedsAreTheTriangle() {
    for (int u = 0; u < 32; ++u)
        if (kSeedTableY[u] != (u < 16 ? 16 - u : u - 16) - 8) return false;
    return true;
}
static_assert(lumaSeedsAreTheTriangle(), "luma seed u is |u - 16| - 8");

/// The dither registers' whole sequence, for the kernels that take the sixteen states
/// of a block in one load instead of stepping: the register is maximal, so every
/// state but 0 is state[i] for one i < kPeriod (the sequence from state 1), and
/// positionOf[x] is that i. The table runs on past kPeriod by a wrap of its start,
/// so that sixteen states from any position are one contiguous read.
constexpr int kPeriod = 65535;
constexpr int kWrap = 64;
struct RegisterSequence {
    std::uint16_t state[kPeriod + kWrap];
    std::uint16_t positionOf[65536];
};
/// Computed when the module is compiled (output/register_sequence.cpp).
extern const RegisterSequence kRegisterSequence;

/// Where one register stands in the sequence: its states after the next steps are
/// states[1], states[2], ... A register at 0 stays at 0, and its cursor reads zeros.
struct RegisterCursor {
    const std::uint16_t *states;  // the current state, then the ones after it
    int position;                 // of states[0] in the sequence
    int stride;                   // 1, or 0 for a register at 0
};
RegisterCursor registerCursor(std::uint16_t lane) noexcept;

constexpr void stepRegister(std::uint16_t &lane) noexcept {
    const bool out = lane & 1;
    lane = static_cast<std::uint16_t>(lane >> 1);
    if (out) lane ^= kFeedback;
}

/// Top five bits of a register as a signed value -16..15.
inline int registerNoise(std::uint16_t lane) noexcept {
    return static_cast<std::int16_t>(lane) >> 11;
}

/// The Rounding slider as the pass uses it. The host keeps it within 0..32; anything
/// it might pass beyond is held to 0..511, the range over which 64 x S still fits
/// in 16 bits and every gain stays within 0..8.
inline int roundingStrength(int slider) noexcept {
    return std::clamp<int>(static_cast<std::int16_t>(slider), 0, 511);
}

/// The two brightness levels the gains blend between: 32 x S and 64 x S, or 0 and 1
/// when S is 0 so that the span is never zero.
struct Levels {
    int low, high;
};
inline Levels roundingLevels(int slider) noexcept {
    const int s = roundingStrength(slider);
    return s == 0 ? Levels{0, 1} : Levels{32 * s, 64 * s};
}

/// Each component's level for a flat block, from the block minima: the block's
/// brightness m, or, in a block darker than the low level, each chroma's own minimum.
inline void blockLevels(const int blockMin[3], Levels lv, int level[3]) noexcept {
    const int m = (blockMin[0] + std::abs(blockMin[1]) + std::abs(blockMin[2])) / 4;
    level[0] = std::clamp(m, lv.low, lv.high);
    if (m >= lv.low) {
        level[1] = level[2] = level[0];
    } else {
        level[0] = lv.low;
        level[1] = std::clamp(blockMin[1], lv.low, lv.high);
        level[2] = std::clamp(blockMin[2], lv.low, lv.high);
    }
}

/// Block b reads and writes remainder entries b .. b + 15, so the last block of a
/// row needs w / 4 + 15 entries per array.
inline bool remaindersFit(int w, const std::int16_t *remainders, int remainderCount) noexcept {
    return remainders && w > 0 && w % 4 == 0 && w / 4 + 15 <= remainderCount;
}

/// Fallback for a picture the remainder arrays cannot serve: every component
/// rounded half up to the nearest multiple of 16, as in a busy block.
inline void roundRowsPlain(const FILTER_PROC_INFO *fpip, int firstRow, int rowLimit) noexcept {
    const auto round = [](std::int16_t &v) { v = static_cast<std::int16_t>((v + 8) & kGridMask); };
    for (int y = firstRow; y < rowLimit; ++y) {
        PIXEL_YC *row = fpip->ycp_edit + static_cast<long>(y) * fpip->max_w;
        for (int x = 0; x < fpip->w; ++x) {
            round(row[x].y);
            round(row[x].cb);
            round(row[x].cr);
        }
    }
}

using Pass = RoundingPass;

/// Sets up a pass over rows [firstRow, rowLimit); false when the remainder arrays
/// cannot serve the picture, in which case the rows have been rounded plainly.
inline bool startPass(const FILTER_PROC_INFO *fpip, const RoundingParams *params, int firstRow, int rowLimit,
                      std::int16_t *remainders, int remainderCount, Pass &pass) noexcept {
    if (beginRoundingPass(fpip, params, firstRow, remainders, remainderCount, pass)) return true;
    roundRowsPlain(fpip, firstRow, rowLimit);
    return false;
}

inline Levels passLevels(const Pass &pass) noexcept { return {pass.levelLow, pass.levelHigh}; }

/// Seeds the first w / 4 entries of each remainder array at the start of a field:
/// one step of all three registers per entry; only lane 0 picks the seeds.
inline void seedRemainders(Pass &pass, int w) noexcept {
    for (int i = 0; i < w / 4; ++i) {
        for (std::uint16_t &l : pass.lane) stepRegister(l);
        const int u = registerNoise(pass.lane[0]) + 16;
        pass.rem[0][i] = static_cast<std::int16_t>(kSeedTableY[u] >> 1);
        pass.rem[1][i] = static_cast<std::int16_t>(kSeedTableCb[u] >> 1);
        pass.rem[2][i] = static_cast<std::int16_t>(kSeedTableCr[u] >> 1);
    }
}

/// The four rows of the group that starts at row y of field f (rows fieldStep apart).
inline void groupRows(const FILTER_PROC_INFO *fpip, const Pass &pass, int y, int f, PIXEL_YC *row[4]) noexcept {
    for (int k = 0; k < 4; ++k) row[k] = fpip->ycp_edit + static_cast<long>(y + f + k * pass.fieldStep) * fpip->max_w;
}

}  // namespace rounding
