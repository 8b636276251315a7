// The rounding pass, one value at a time: the readable statement of the pass and
// the reference the SSE2 and AVX2 kernels must match exactly.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "output/rounding.h"
#include "output/rounding_internal.h"

using namespace rounding;

namespace {

std::int16_t &component(PIXEL_YC &p, int c) noexcept { return c == 0 ? p.y : c == 1 ? p.cb : p.cr; }

std::int16_t saturate16(int v) noexcept {
    return static_cast<std::int16_t>(std::clamp(v, -32768, 32767));
}

// The pass's next group, rows row[0..3] of w pixels.
void roundGroup(RoundingPass &pass, int w, PIXEL_YC *const row[4]) noexcept {
    std::int16_t *const *rem = pass.rem;
    const Levels levels = passLevels(pass);
    const int levelSpan = levels.high - levels.low;
    const std::uint16_t parityMask = pass.oddFrame ? 0xFFFF : 0;
    std::uint16_t *lane = pass.lane;
    const auto stepAll = [lane] {
        for (int c = 0; c < 3; ++c) stepRegister(lane[c]);
    };

    for (int b = 0; 4 * b < w; ++b) {
        // Gather: every pixel feeds its low bits into its own remainder entry.
        int carry[3][16];
        int blockMin[3], blockMax[3];
        for (int c = 0; c < 3; ++c) {
            blockMin[c] = kMinStart;
            blockMax[c] = kMaxStart;
            for (int j = 0; j < 16; ++j) {
                const int v = component(row[j / 4][4 * b + j % 4], c);
                const int low = v & kLowMask;
                blockMin[c] = std::min(blockMin[c], v);
                blockMax[c] = std::max(blockMax[c], v);
                const std::int16_t s = saturate16(rem[c][b + j] + low);
                rem[c][b + j] = static_cast<std::int16_t>(s & kLowMask);
                carry[c][j] = static_cast<std::int16_t>(s & kGridMask);
            }
        }

        // Gains: carry for bright flat blocks, dither for dark ones.
        int level[3];
        blockLevels(blockMin, levels, level);
        int noiseGain[3], carryGain[3];
        for (int c = 0; c < 3; ++c) {
            noiseGain[c] = ((levels.high - level[c]) * 8) / levelSpan;
            carryGain[c] = ((level[c] - levels.low) * 8) / levelSpan;
        }
        const bool busy = blockMax[0] - blockMin[0] > kBusyLimit ||
                          blockMax[1] - blockMin[1] > kBusyLimit ||
                          blockMax[2] - blockMin[2] > kBusyLimit;
        if (busy) {
            for (int c = 0; c < 3; ++c) noiseGain[c] = carryGain[c] = 0;
        }

        // Update: one register step per pixel, its lanes dithering Y, Cb, Cr.
        for (int j = 0; j < 16; ++j) {
            stepAll();
            for (int c = 0; c < 3; ++c) {
                const int n =
                    registerNoise(static_cast<std::uint16_t>(lane[c] ^ parityMask));
                std::int16_t &v = component(row[j / 4][4 * b + j % 4], c);
                const int low = v & kLowMask;
                const int t =
                    (carryGain[c] * (carry[c][j] - low) + noiseGain[c] * n + 4) >> 3;
                v = static_cast<std::int16_t>((v + t + 8) & kGridMask);
            }
        }
    }
}

}  // namespace

void roundingGroupsScalar(const FILTER_PROC_INFO *fpip, RoundingPass &pass, int f, int yBegin, int yEnd) noexcept {
    for (int y = yBegin; y < yEnd; y += 4 * pass.fieldStep) {
        PIXEL_YC *row[4];
        groupRows(fpip, pass, y, f, row);
        roundGroup(pass, fpip->w, row);
    }
}

void roundingGroupSamplesScalar(RoundingPass &pass, int w, const RoundingGroupSamples &group) noexcept {
    for (int k = 0; k < 4; ++k)
        for (int x = 0; x < w; ++x)
            group.out[k][x] = {group.luma[k][x], group.cb[k][x / 2], group.cr[k][x / 2]};
    roundGroup(pass, w, group.out);
}
