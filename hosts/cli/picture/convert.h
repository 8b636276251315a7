// Studio-range YUV samples to the filter's YC48 pixels and back, with chroma
// brought to one value per pixel on the way in and subsampled on the way out.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "abi/frame_limits.h"
#include "abi/host_api.h"
#include "cli/io/y4m.h"

namespace q5cli {

/// The largest picture the filter processes; bigger frames come back black from it.
constexpr int kMaxWidth = kMaxFrameWidth, kMaxHeight = kMaxFrameHeight;

/// Checks that the filter and the subsampling can carry the format; the message says why not.
bool checkProcessable(const Y4mFormat &format, std::string *error);

/// One sample of N-bit studio-range YUV (N = 8..16) to YC48, by the host's integer rules.
int lumaToYc48(int code, int bits);
int chromaToYc48(int code, int bits);
/// YC48 to the nearest N-bit code (ties up), clamped to 0 .. 2^N - 1.
int lumaFromYc48(int y48, int bits);
int chromaFromYc48(int c48, int bits);

/// The 4:2:0 chroma row that carries picture row y. Interlaced chroma rows alternate
/// between the fields: row 2m + f serves lines 2m and 2m + 1 of field f.
int chromaRowOf(int y, int height, bool interlaced);

/// Whether the 4:2:0 chroma of a frame with these FRAME parameters is sampled per field.
bool frameChromaInterlaced(const Y4mFormat &format, const std::string &frameParams);

/// Converts whole frames of one format. Chroma is repeated over the pixels it covers
/// and averaged over them on the way back, so unfiltered video comes back unchanged
/// (where the sample rules themselves are exact), whatever the chroma siting.
class FrameConverter {
public:
    /// The processor's vector kernels where they apply, or the scalar rules alone
    /// (the reference the kernels are tested against).
    enum class Kernels { Best, Scalar };
    /// `threads` > 1 splits each frame's conversion between that many threads (the
    /// caller's and threads - 1 kept for the converter's life).
    explicit FrameConverter(const Y4mFormat &format, int threads = 1, Kernels kernels = Kernels::Best);
    ~FrameConverter();

    /// y4m frame bytes to the first height rows of a host image (rows `pitch` pixels apart).
    /// False when samples above the depth's largest code were found (they are clamped).
    bool toYc48(const std::uint8_t *data, const std::string &frameParams, PIXEL_YC *image,
                int pitch) const;
    /// The first height rows of a host image to y4m frame bytes (frameBytes() of them).
    /// `source`, the frame's input bytes, lets codes deeper than the YC48 steps come back
    /// exactly where the filter left them alone; without it they come back within a step.
    void fromYc48(const PIXEL_YC *image, int pitch, const std::string &frameParams,
                  std::uint8_t *data, const std::uint8_t *source = nullptr) const;

private:

    struct Tables;
    static const Tables &tablesFor(int bits);
    struct Workers;
    // work(first, end) over [0, count), `chunk` at a time, on the converter's threads.
    template <class Work>
    void inChunks(int count, int chunk, Work work) const;

    Y4mFormat format_;
    const Tables &tables_;
    bool vectorKernels_;  // 8 to 11 bits, on a processor with SSSE3
    std::unique_ptr<Workers> workers_;
    // The picture rows each chroma row of 4:2:0 or 4:2:2 covers: rows[start[cy]] up to
    // rows[start[cy + 1]], for progressive [0] and interlaced [1] chroma.
    struct RowMap {
        std::vector<int> start, rows;
    };
    RowMap rowMaps_[2];
};

}  // namespace q5cli
