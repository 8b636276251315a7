// The host's YUV <-> YC48 rules and the chroma resampling around them.
#include "cli/picture/convert.h"

#include "cli/picture/convert_kernels.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <type_traits>

#include "common/thread_pool.h"

namespace q5cli {

// An N-bit code is read as an 8-bit code with N - 8 fractional bits, so the 8-bit
// rules hold with every 8-bit constant of the code's scale shifted up by N - 8; the
// YC48 side keeps its own rounding (luma truncates, chroma adds 164/256).
int lumaToYc48(int code, int bits) {
    const int s = bits - 8;
    return static_cast<int>((static_cast<long long>(code) * 1197) >> (6 + s)) - 299;
}

int chromaToYc48(int code, int bits) {
    const int s = bits - 8;
    return static_cast<int>(((static_cast<long long>(code) - (128LL << s)) * 4681 + (164LL << s)) >>
                            (8 + s));
}

// Back to N bits: the nearest code, ties up, for luma and chroma alike. (The editor
// truncates luma after a small offset on one of its output paths; that rule puts a
// filtered value about a third of a code low on average, and this is our own host.)
// Every code of 8 to 11 bits that the filter leaves alone comes back unchanged; deeper
// codes outnumber the YC48 steps, so FrameConverter::fromYc48 gives those back from
// the input frame.
int lumaFromYc48(int y48, int bits) {
    const int s = bits - 8;
    const long long v = ((((static_cast<long long>(y48) * 219) << s) + 2048) >> 12) + (16LL << s);
    return static_cast<int>(std::clamp(v, 0LL, (1LL << bits) - 1));
}

int chromaFromYc48(int c48, int bits) {
    const int s = bits - 8;
    const long long v = (((((static_cast<long long>(c48) + 2048) * 7) << s) + 64) >> 7) + (16LL << s);
    return static_cast<int>(std::clamp(v, 0LL, (1LL << bits) - 1));
}

bool checkProcessable(const Y4mFormat &f, std::string *error) {
    const std::string size = std::to_string(f.width) + "x" + std::to_string(f.height);
    if (f.width > kMaxWidth || f.height > kMaxHeight) {
        *error = "frames of " + size + " are larger than the filter's limit of " +
                 std::to_string(kMaxWidth) + "x" + std::to_string(kMaxHeight);
        return false;
    }
    const bool halfWidth = f.subsampling == Subsampling::S420 || f.subsampling == Subsampling::S422;
    if (halfWidth && f.width % 2 != 0) {
        *error = f.describe() + " needs an even width, but the frames are " + size;
        return false;
    }
    if (f.subsampling == Subsampling::S420 && f.height % 2 != 0) {
        *error = f.describe() + " needs an even height, but the frames are " + size;
        return false;
    }
    return true;
}

int chromaRowOf(int y, int height, bool interlaced) {
    const int chromaRows = (height + 1) / 2;
    if (!interlaced) return std::min(y / 2, chromaRows - 1);
    const int field = y & 1;
    int row = ((y >> 1) >> 1) * 2 + field;
    // A height that is not a multiple of 4 leaves the bottom field's last line without
    // a chroma row of its own: it shares the nearest one of its field (or any, if the
    // field has none).
    while (row >= chromaRows) row -= 2;
    return row < 0 ? chromaRows - 1 : row;
}

bool frameChromaInterlaced(const Y4mFormat &format, const std::string &frameParams) {
    if (format.interlace == 't' || format.interlace == 'b') return true;
    if (format.interlace != 'm') return false;
    // Mixed streams tag each frame "Ixyz": y the temporal sampling, z the chroma
    // sampling (p progressive, i interlaced, ? unknown).
    std::size_t pos = 0;
    while (pos < frameParams.size()) {
        const std::size_t space = frameParams.find(' ', pos);
        const std::size_t end = space == std::string::npos ? frameParams.size() : space;
        if (end - pos == 4 && frameParams[pos] == 'I') {
            const char temporal = frameParams[pos + 2], chroma = frameParams[pos + 3];
            if (chroma == 'i' || chroma == 'p') return chroma == 'i';
            return temporal != 'p';
        }
        pos = end + 1;
    }
    return true;
}

// The rules as tables, made once per depth and shared by every converter.
struct FrameConverter::Tables {
    std::vector<std::int16_t> lumaIn, chromaIn;     // by input code
    std::vector<std::uint16_t> lumaOut, chromaOut;  // by YC48 value + 32768
    bool exact = true;  // every code comes back through lumaOut and chromaOut
};

const FrameConverter::Tables &FrameConverter::tablesFor(int bits) {
    static std::mutex mutex;
    static std::unique_ptr<Tables> made[17];
    std::lock_guard<std::mutex> lock(mutex);
    std::unique_ptr<Tables> &t = made[bits];
    if (!t) {
        t = std::make_unique<Tables>();
        const int codes = 1 << bits;
        t->lumaIn.resize(codes);
        t->chromaIn.resize(codes);
        for (int v = 0; v < codes; ++v) {
            t->lumaIn[v] = static_cast<std::int16_t>(lumaToYc48(v, bits));
            t->chromaIn[v] = static_cast<std::int16_t>(chromaToYc48(v, bits));
        }
        t->lumaOut.resize(65536);
        t->chromaOut.resize(65536);
        for (int i = 0; i < 65536; ++i) {
            t->lumaOut[i] = static_cast<std::uint16_t>(lumaFromYc48(i - 32768, bits));
            t->chromaOut[i] = static_cast<std::uint16_t>(chromaFromYc48(i - 32768, bits));
        }
        for (int v = 0; v < codes; ++v)
            t->exact = t->exact && t->lumaOut[t->lumaIn[v] + 32768] == v &&
                       t->chromaOut[t->chromaIn[v] + 32768] == v;
    }
    return *t;
}

// Helper threads kept for the converter's life: starting threads per frame would cost
// more than some frames take. The pool's share() hands a frame's rows out in chunks to
// the calling thread and to whichever helpers wake while chunks remain: on a busy
// machine a helper the system has not run yet holds nothing up, the caller just does
// more of the frame. Rows do not depend on one another, so the bytes are the same
// whoever converts them.
struct FrameConverter::Workers {
    explicit Workers(int helpers) : pool(helpers) {}
    q5host::ThreadPool pool;
    std::mutex oneFrameAtATime;  // a pool runs one shared job at a time
};

FrameConverter::FrameConverter(const Y4mFormat &format, int threads, Kernels kernels)
    : format_(format), tables_(tablesFor(format.bits)),
      vectorKernels_(kernels == Kernels::Best && format.bits <= 11 && convert_kernels::available()),
      workers_(threads > 1 ? std::make_unique<Workers>(threads - 1) : nullptr) {
    // The picture rows behind each chroma row, progressive and per field.
    for (int interlaced = 0; interlaced < 2; ++interlaced) {
        RowMap &map = rowMaps_[interlaced];
        const int ch = format.chromaHeight();
        std::vector<std::vector<int>> rows(ch);
        for (int y = 0; y < format.height && ch > 0; ++y)
            rows[format.subsampling == Subsampling::S420 ? chromaRowOf(y, format.height, interlaced) : y]
                .push_back(y);
        map.start.assign(1, 0);
        for (const std::vector<int> &r : rows) {
            map.rows.insert(map.rows.end(), r.begin(), r.end());
            map.start.push_back(static_cast<int>(map.rows.size()));
        }
    }
}

FrameConverter::~FrameConverter() = default;

template <class Work>
void FrameConverter::inChunks(int count, int chunk, Work work) const {
    if (!workers_ || count < 64) {
        work(0, count);
        return;
    }
    struct Job {
        Work &work;
        const int count, chunk;
        std::atomic<int> next{0};
    } job{work, count, chunk};
    const MULTI_THREAD_FUNC takeChunks = [](int, int, void *param1, void *) {
        Job &j = *static_cast<Job *>(param1);
        for (;;) {
            const int first = j.next.fetch_add(j.chunk, std::memory_order_relaxed);
            if (first >= j.count) return;
            j.work(first, std::min(first + j.chunk, j.count));
        }
    };
    std::lock_guard<std::mutex> lock(workers_->oneFrameAtATime);
    workers_->pool.share(takeChunks, &job, nullptr);
}

namespace {

// Samples of one depth class: bytes, or little-endian words clamped to the depth's
// largest code. The loops below are written once for both, without a test per sample.
struct ByteSamples {
    const std::uint8_t *plane;
    mutable int seen = 0;  // as WordSamples, for the kernels; bytes are never clamped
    static constexpr int size = 1;
    int operator[](std::size_t i) const { return plane[i]; }
};
struct WordSamples {
    const std::uint8_t *plane;
    int maxCode;
    mutable int seen = 0;  // every word read, or-ed: above maxCode when one was clamped
    static constexpr int size = 2;
    int operator[](std::size_t i) const {
        const int word = plane[2 * i] | (plane[2 * i + 1] << 8);
        seen |= word;
        return std::min(word, maxCode);
    }
};

template <class Samples>
void rowsToYc48(const Y4mFormat &f, const Samples &luma, const Samples &cb, const Samples &cr, bool interlaced, const std::int16_t *lumaIn,
                const std::int16_t *chromaIn, const convert_kernels::Depth *kernels, PIXEL_YC *image, int pitch,
                int firstRow, int endRow) {
    const int cw = f.chromaWidth();
    for (int y = firstRow; y < endRow; ++y) {
        PIXEL_YC *row = image + static_cast<std::size_t>(y) * pitch;
        const std::size_t lumaRow = static_cast<std::size_t>(y) * f.width;
        if (f.subsampling == Subsampling::Mono) {
            int x = kernels ? convert_kernels::pixelsFromCodes(luma.plane + Samples::size * lumaRow, nullptr, nullptr,
                                                               f.width, *kernels, row, &luma.seen)
                            : 0;
            for (; x < f.width; ++x) row[x] = PIXEL_YC{lumaIn[luma[lumaRow + x]], 0, 0};
            continue;
        }
        const int cy = f.subsampling == Subsampling::S420 ? chromaRowOf(y, f.height, interlaced) : y;
        const std::size_t chromaRow = static_cast<std::size_t>(cy) * cw;
        if (f.subsampling == Subsampling::S444) {
            int x = kernels ? convert_kernels::pixelsFromCodes(luma.plane + Samples::size * lumaRow,
                                                               cb.plane + Samples::size * chromaRow,
                                                               cr.plane + Samples::size * chromaRow, f.width,
                                                               *kernels, row, &luma.seen)
                            : 0;
            for (; x < f.width; ++x)
                row[x] = PIXEL_YC{lumaIn[luma[lumaRow + x]], chromaIn[cb[chromaRow + x]], chromaIn[cr[chromaRow + x]]};
            continue;
        }
        // One chroma sample for each pair of pixels; whole pixels written at once.
        const int pairs = f.width / 2;
        int cx = 0;
        if (kernels)
            cx = convert_kernels::pixelsFromPairCodes(luma.plane + Samples::size * lumaRow,
                                                      cb.plane + Samples::size * chromaRow,
                                                      cr.plane + Samples::size * chromaRow, pairs, *kernels, row,
                                                      &luma.seen);
        for (; cx < pairs; ++cx) {
            const std::int16_t b = chromaIn[cb[chromaRow + cx]], r = chromaIn[cr[chromaRow + cx]];
            PIXEL_YC *p = row + 2 * cx;
            p[0] = PIXEL_YC{lumaIn[luma[lumaRow + 2 * cx]], b, r};
            p[1] = PIXEL_YC{lumaIn[luma[lumaRow + 2 * cx + 1]], b, r};
        }
        if (f.width & 1)  // the last pixel alone under its chroma sample
            row[f.width - 1] = PIXEL_YC{lumaIn[luma[lumaRow + f.width - 1]], chromaIn[cb[chromaRow + pairs]],
                                        chromaIn[cr[chromaRow + pairs]]};
    }
}

}  // namespace

bool FrameConverter::toYc48(const std::uint8_t *data, const std::string &frameParams,
                            PIXEL_YC *image, int pitch) const {
    const Y4mFormat &f = format_;
    const std::uint8_t *cbPlane = data + f.lumaBytes();
    const std::uint8_t *crPlane = cbPlane + f.chromaBytes();
    const bool interlaced = frameChromaInterlaced(f, frameParams);
    std::atomic<int> seen{0};
    const convert_kernels::Depth depth{f.bits - 8, f.maxCode(), f.bits == 8};
    const convert_kernels::Depth *kernels = vectorKernels_ ? &depth : nullptr;
    inChunks(f.height, 16, [&](int first, int end) {
        if (f.bits == 8) {
            rowsToYc48(f, ByteSamples{data}, ByteSamples{cbPlane}, ByteSamples{crPlane}, interlaced,
                       tables_.lumaIn.data(), tables_.chromaIn.data(), kernels, image, pitch, first, end);
            return;
        }
        const WordSamples luma{data, f.maxCode()}, cb{cbPlane, f.maxCode()}, cr{crPlane, f.maxCode()};
        rowsToYc48(f, luma, cb, cr, interlaced, tables_.lumaIn.data(), tables_.chromaIn.data(), kernels, image,
                   pitch, first, end);
        seen.fetch_or(luma.seen | cb.seen | cr.seen, std::memory_order_relaxed);
    });
    return seen.load(std::memory_order_relaxed) <= f.maxCode();
}

namespace {

// One frame's YUV planes written from a host image. Byte stores may alias anything,
// so each loop first copies what it reads into locals.
struct YuvOut {
    const PIXEL_YC *image;
    int pitch, width, chromaWidth, maxCode;
    bool bytes;
    std::uint8_t *data, *cbPlane, *crPlane;
    const std::uint16_t *lumaOut, *chromaOut;  // indexed by YC48 values, negative ones too
    const std::int16_t *lumaIn, *chromaIn;
    // Where the tables cannot give every code back, a value the filter left as its input
    // code converted is that code again: the input planes, else null.
    const std::uint8_t *source, *sourceCb, *sourceCr;
    // The vector kernels' depth where they apply (never with input codes to keep), or null.
    const convert_kernels::Depth *kernels;

    int word(const std::uint8_t *plane, std::size_t i) const {
        return std::min(plane[2 * i] | (plane[2 * i + 1] << 8), maxCode);
    }
    void put(std::uint8_t *plane, std::size_t i, int value) const {
        if (bytes) {
            plane[i] = static_cast<std::uint8_t>(value);
        } else {
            plane[2 * i] = static_cast<std::uint8_t>(value);
            plane[2 * i + 1] = static_cast<std::uint8_t>(value >> 8);
        }
    }
    int chromaCode(int c48, const std::uint8_t *plane, std::size_t i) const {
        if (source) {
            const int code = word(plane, i);
            if (chromaIn[code] == c48) return code;
        }
        return chromaOut[c48];
    }
    const PIXEL_YC *row(int y) const { return image + static_cast<std::size_t>(y) * pitch; }

    void lumaRow(int y) const;
    void fullChromaRow(int y) const;
    template <bool TwoRows, bool Wide>
    void chromaPairs(int cy, const PIXEL_YC *a, const PIXEL_YC *b) const;
    void chromaMeans(int cy, const int *rows, int rowCount) const;
};

void YuvOut::lumaRow(int y) const {
    const PIXEL_YC *const in = row(y);
    const std::uint16_t *const table = lumaOut;
    const int w = width;
    const std::size_t at = static_cast<std::size_t>(y) * w;
    if (bytes) {
        std::uint8_t *const out = data + at;
        int x = kernels ? convert_kernels::lumaCodes(in, w, *kernels, out) : 0;
        for (; x < w; ++x) out[x] = static_cast<std::uint8_t>(table[in[x].y]);
        return;
    }
    if (!source) {
        std::uint8_t *const out = data + 2 * at;
        for (int x = kernels ? convert_kernels::lumaCodes(in, w, *kernels, out) : 0; x < w; ++x) {
            const int code = table[in[x].y];
            out[2 * x] = static_cast<std::uint8_t>(code);
            out[2 * x + 1] = static_cast<std::uint8_t>(code >> 8);
        }
        return;
    }
    for (int x = 0; x < w; ++x) {
        int code = table[in[x].y];
        const int input = word(source, at + x);
        if (lumaIn[input] == in[x].y) code = input;
        put(data, at + x, code);
    }
}

// 4:4:4: a chroma sample for every pixel.
void YuvOut::fullChromaRow(int y) const {
    const PIXEL_YC *const in = row(y);
    const int w = width;
    if (bytes) {
        const std::uint16_t *const table = chromaOut;
        std::uint8_t *const cbOut = cbPlane + static_cast<std::size_t>(y) * w;
        std::uint8_t *const crOut = crPlane + static_cast<std::size_t>(y) * w;
        for (int x = kernels ? convert_kernels::fullChromaCodes(in, w, *kernels, cbOut, crOut) : 0; x < w; ++x) {
            cbOut[x] = static_cast<std::uint8_t>(table[in[x].cb]);
            crOut[x] = static_cast<std::uint8_t>(table[in[x].cr]);
        }
        return;
    }
    const std::size_t at = static_cast<std::size_t>(y) * w;
    for (int x = kernels ? convert_kernels::fullChromaCodes(in, w, *kernels, cbPlane + 2 * at, crPlane + 2 * at) : 0;
         x < w; ++x) {
        const std::size_t i = static_cast<std::size_t>(y) * w + x;
        put(cbPlane, i, chromaCode(in[x].cb, sourceCb, i));
        put(crPlane, i, chromaCode(in[x].cr, sourceCr, i));
    }
}

// The usual cases on their own: 4:2:2 (one row, a) and 4:2:0 (two, a and b), without
// input codes to keep.
template <bool TwoRows, bool Wide>
void YuvOut::chromaPairs(int cy, const PIXEL_YC *a, const PIXEL_YC *b) const {
    constexpr int shift = TwoRows ? 2 : 1, half = 1 << (shift - 1);
    constexpr std::size_t size = Wide ? 2 : 1;
    const std::uint16_t *const table = chromaOut;
    const int w = width, cw = chromaWidth;
    const std::size_t at = static_cast<std::size_t>(cy) * cw;
    std::uint8_t *const cbOut = cbPlane + at * size;
    std::uint8_t *const crOut = crPlane + at * size;
    // The kernels take the pairs whose two pixels both lie in the picture.
    int cx = kernels ? convert_kernels::chromaPairCodes(a, TwoRows ? b : nullptr, std::min(w / 2, cw), *kernels,
                                                         cbOut, crOut)
                     : 0;
    for (; cx < cw; ++cx) {
        // The last pixel of an odd width is alone under its sample: it counts twice
        // rather than reading past the picture.
        const int x = 2 * cx, x1 = x + 1 < w ? x + 1 : x;
        int cb = a[x].cb + a[x1].cb + half, cr = a[x].cr + a[x1].cr + half;
        if (TwoRows) cb += b[x].cb + b[x1].cb, cr += b[x].cr + b[x1].cr;
        const int codeCb = table[cb >> shift], codeCr = table[cr >> shift];
        cbOut[size * cx] = static_cast<std::uint8_t>(codeCb);
        crOut[size * cx] = static_cast<std::uint8_t>(codeCr);
        if (Wide) {
            cbOut[size * cx + 1] = static_cast<std::uint8_t>(codeCb >> 8);
            crOut[size * cx + 1] = static_cast<std::uint8_t>(codeCr >> 8);
        }
    }
}

// Any number of rows under a chroma row (interlaced 4:2:0 at the picture's edge), or
// input codes to keep.
void YuvOut::chromaMeans(int cy, const int *rows, int rowCount) const {
    const int count = 2 * rowCount;
    // Floor division of sum + count/2, for negative sums as well; a shift where count is
    // the usual two or four (two pixels of one or two rows).
    const auto average = [count](std::int32_t sum) {
        const std::int32_t n = sum + count / 2;
        if (count == 2) return static_cast<int>(n >> 1);
        if (count == 4) return static_cast<int>(n >> 2);
        return static_cast<int>(n >= 0 ? n / count : -((-n + count - 1) / count));
    };
    for (int cx = 0; cx < chromaWidth; ++cx) {
        std::int32_t cb = 0, cr = 0;
        for (int r = 0; r < rowCount; ++r) {
            const PIXEL_YC *p = row(rows[r]) + 2 * cx;
            const int next = 2 * cx + 1 < width ? 1 : 0;  // odd width: the last pixel twice
            cb += p[0].cb + p[next].cb;
            cr += p[0].cr + p[next].cr;
        }
        const std::size_t i = static_cast<std::size_t>(cy) * chromaWidth + cx;
        put(cbPlane, i, chromaCode(count > 0 ? average(cb) : 0, sourceCb, i));
        put(crPlane, i, chromaCode(count > 0 ? average(cr) : 0, sourceCr, i));
    }
}

}  // namespace

void FrameConverter::fromYc48(const PIXEL_YC *image, int pitch, const std::string &frameParams,
                              std::uint8_t *data, const std::uint8_t *source) const {
    const Y4mFormat &f = format_;
    const bool keepUntouched = !tables_.exact && source;
    const convert_kernels::Depth depth{f.bits - 8, f.maxCode(), f.bits == 8};
    YuvOut out{image, pitch, f.width, f.chromaWidth(), f.maxCode(), f.bits == 8, data,
               data + f.lumaBytes(), data + f.lumaBytes() + f.chromaBytes(),
               tables_.lumaOut.data() + 32768, tables_.chromaOut.data() + 32768,
               tables_.lumaIn.data(), tables_.chromaIn.data(), keepUntouched ? source : nullptr,
               keepUntouched ? source + f.lumaBytes() : nullptr,
               keepUntouched ? source + f.lumaBytes() + f.chromaBytes() : nullptr,
               vectorKernels_ && !keepUntouched ? &depth : nullptr};
    if (f.subsampling == Subsampling::Mono || f.subsampling == Subsampling::S444) {
        const bool chroma = f.subsampling == Subsampling::S444;
        inChunks(f.height, 16, [&out, chroma](int first, int end) {
            for (int y = first; y < end; ++y) {
                out.lumaRow(y);
                if (chroma) out.fullChromaRow(y);
            }
        });
        return;
    }
    // Each chroma sample is the mean in YC48 of the pixels it was repeated to, rounded
    // half up so equal values come back as they were. A thread takes whole chroma rows
    // with the picture rows they cover, so the picture is read once.
    const RowMap &map = rowMaps_[frameChromaInterlaced(f, frameParams) ? 1 : 0];
    inChunks(f.chromaHeight(), 8, [&out, &map](int first, int end) {
        for (int cy = first; cy < end; ++cy) {
            const int *rows = map.rows.data() + map.start[cy];
            const int rowCount = map.start[cy + 1] - map.start[cy];
            for (int r = 0; r < rowCount; ++r) out.lumaRow(rows[r]);
            if (out.source || (rowCount != 1 && rowCount != 2)) {
                out.chromaMeans(cy, rows, rowCount);
                continue;
            }
            const PIXEL_YC *a = out.row(rows[0]), *b = out.row(rows[rowCount - 1]);
            if (rowCount == 2)
                out.bytes ? out.chromaPairs<true, false>(cy, a, b) : out.chromaPairs<true, true>(cy, a, b);
            else
                out.bytes ? out.chromaPairs<false, false>(cy, a, b) : out.chromaPairs<false, true>(cy, a, b);
        }
    });
}

}  // namespace q5cli
