// The host's YUV <-> YC48 rules and the chroma resampling around them.
#include "cli/picture/convert.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>

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

// Helper threads kept for the converter's life: every frame is split between them and
// the calling thread, and starting threads per frame would cost more than some splits.
class FrameConverter::Workers {
public:
    explicit Workers(int helpers) {
        for (int i = 1; i <= helpers; ++i) threads_.emplace_back([this, i] { serve(i); });
    }
    ~Workers() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        for (std::thread &t : threads_) t.join();
    }
    int parts() const { return static_cast<int>(threads_.size()) + 1; }

    /// work(part) for every part, part 0 on the calling thread; back when all are done.
    void run(const std::function<void(int)> &work) {
        std::lock_guard<std::mutex> one(running_);  // one frame at a time
        {
            std::lock_guard<std::mutex> lock(mutex_);
            work_ = &work;
            pending_ = static_cast<int>(threads_.size());
            ++generation_;
        }
        wake_.notify_all();
        work(0);
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return pending_ == 0; });
        work_ = nullptr;
    }

private:
    void serve(int part) {
        unsigned seen = 0;
        for (;;) {
            const std::function<void(int)> *work;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
                if (stop_) return;
                seen = generation_;
                work = work_;
            }
            (*work)(part);
            std::lock_guard<std::mutex> lock(mutex_);
            if (--pending_ == 0) done_.notify_one();
        }
    }

    std::mutex running_, mutex_;
    std::condition_variable wake_, done_;
    const std::function<void(int)> *work_ = nullptr;
    unsigned generation_ = 0;
    int pending_ = 0;
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

FrameConverter::FrameConverter(const Y4mFormat &format, int threads)
    : format_(format), tables_(tablesFor(format.bits)),
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
void FrameConverter::inRanges(int count, Work work) const {
    if (!workers_ || count < 64) {
        work(0, count);
        return;
    }
    const long parts = workers_->parts();
    workers_->run([&](int part) {
        work(static_cast<int>(count * part / parts), static_cast<int>(count * (part + 1) / parts));
    });
}

namespace {

// Samples of one depth class: bytes, or little-endian words clamped to the depth's
// largest code. The loops below are written once for both, without a test per sample.
struct ByteSamples {
    const std::uint8_t *plane;
    int operator[](std::size_t i) const { return plane[i]; }
};
struct WordSamples {
    const std::uint8_t *plane;
    int maxCode;
    mutable int seen = 0;  // every word read, or-ed: above maxCode when one was clamped
    int operator[](std::size_t i) const {
        const int word = plane[2 * i] | (plane[2 * i + 1] << 8);
        seen |= word;
        return std::min(word, maxCode);
    }
};

template <class Samples>
void rowsToYc48(const Y4mFormat &f, const Samples &luma, const Samples &cb, const Samples &cr, bool interlaced, const std::int16_t *lumaIn,
                const std::int16_t *chromaIn, PIXEL_YC *image, int pitch, int firstRow, int endRow) {
    const int cw = f.chromaWidth();
    for (int y = firstRow; y < endRow; ++y) {
        PIXEL_YC *row = image + static_cast<std::size_t>(y) * pitch;
        const std::size_t lumaRow = static_cast<std::size_t>(y) * f.width;
        if (f.subsampling == Subsampling::Mono) {
            for (int x = 0; x < f.width; ++x) row[x] = PIXEL_YC{lumaIn[luma[lumaRow + x]], 0, 0};
            continue;
        }
        const int cy = f.subsampling == Subsampling::S420 ? chromaRowOf(y, f.height, interlaced) : y;
        const std::size_t chromaRow = static_cast<std::size_t>(cy) * cw;
        if (f.subsampling == Subsampling::S444) {
            for (int x = 0; x < f.width; ++x)
                row[x] = PIXEL_YC{lumaIn[luma[lumaRow + x]], chromaIn[cb[chromaRow + x]], chromaIn[cr[chromaRow + x]]};
            continue;
        }
        // One chroma sample for each pair of pixels; whole pixels written at once.
        const int pairs = f.width / 2;
        for (int cx = 0; cx < pairs; ++cx) {
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
    inRanges(f.height, [&](int first, int end) {
        if (f.bits == 8) {
            rowsToYc48(f, ByteSamples{data}, ByteSamples{cbPlane}, ByteSamples{crPlane}, interlaced,
                       tables_.lumaIn.data(), tables_.chromaIn.data(), image, pitch, first, end);
            return;
        }
        const WordSamples luma{data, f.maxCode()}, cb{cbPlane, f.maxCode()}, cr{crPlane, f.maxCode()};
        rowsToYc48(f, luma, cb, cr, interlaced, tables_.lumaIn.data(), tables_.chromaIn.data(), image,
                   pitch, first, end);
        seen.fetch_or(luma.seen | cb.seen | cr.seen, std::memory_order_relaxed);
    });
    return seen.load(std::memory_order_relaxed) <= f.maxCode();
}

void FrameConverter::fromYc48(const PIXEL_YC *image, int pitch, const std::string &frameParams,
                              std::uint8_t *data, const std::uint8_t *source) const {
    const Y4mFormat &f = format_;
    std::uint8_t *cbPlane = data + f.lumaBytes();
    std::uint8_t *crPlane = cbPlane + f.chromaBytes();
    // Byte stores may alias anything: the loops read only copies held by value.
    const std::uint16_t *const lumaOut = tables_.lumaOut.data() + 32768;
    const std::uint16_t *const chromaOut = tables_.chromaOut.data() + 32768;
    const std::int16_t *const lumaIn = tables_.lumaIn.data();
    const std::int16_t *const chromaIn = tables_.chromaIn.data();
    const int width = f.width, maxCode = f.maxCode();
    const bool bytes = f.bits == 8;
    // Where the tables cannot give every code back, a value the filter left as its
    // input code converted is that code again.
    const bool keepUntouched = !tables_.exact && source;
    const std::uint8_t *const sourceCb = keepUntouched ? source + f.lumaBytes() : nullptr;
    const std::uint8_t *const sourceCr = keepUntouched ? sourceCb + f.chromaBytes() : nullptr;
    const auto word = [maxCode](const std::uint8_t *plane, std::size_t i) {
        return std::min(plane[2 * i] | (plane[2 * i + 1] << 8), maxCode);
    };
    const auto put = [bytes](std::uint8_t *plane, std::size_t i, int value) {
        if (bytes) {
            plane[i] = static_cast<std::uint8_t>(value);
        } else {
            plane[2 * i] = static_cast<std::uint8_t>(value);
            plane[2 * i + 1] = static_cast<std::uint8_t>(value >> 8);
        }
    };
    const auto chromaCode = [=](int c48, const std::uint8_t *plane, std::size_t i) {
        if (keepUntouched) {
            const int code = word(plane, i);
            if (chromaIn[code] == c48) return code;
        }
        return static_cast<int>(chromaOut[c48]);
    };
    const auto lumaRow = [=](int y) {
        const PIXEL_YC *row = image + static_cast<std::size_t>(y) * pitch;
        const std::size_t at = static_cast<std::size_t>(y) * width;
        if (bytes) {
            std::uint8_t *const out = data + at;
            for (int x = 0; x < width; ++x) out[x] = static_cast<std::uint8_t>(lumaOut[row[x].y]);
            return;
        }
        if (!keepUntouched) {
            std::uint8_t *const out = data + 2 * at;
            for (int x = 0; x < width; ++x) {
                const int code = lumaOut[row[x].y];
                out[2 * x] = static_cast<std::uint8_t>(code);
                out[2 * x + 1] = static_cast<std::uint8_t>(code >> 8);
            }
            return;
        }
        for (int x = 0; x < width; ++x) {
            int code = lumaOut[row[x].y];
            const int in = word(source, at + x);
            if (lumaIn[in] == row[x].y) code = in;
            put(data, at + x, code);
        }
    };
    if (f.subsampling == Subsampling::Mono || f.subsampling == Subsampling::S444) {
        const bool chroma = f.subsampling == Subsampling::S444;
        inRanges(f.height, [=](int first, int end) {
            for (int y = first; y < end; ++y) {
                lumaRow(y);
                if (!chroma) continue;
                const PIXEL_YC *row = image + static_cast<std::size_t>(y) * pitch;
                if (bytes) {
                    std::uint8_t *const cbOut = cbPlane + static_cast<std::size_t>(y) * width;
                    std::uint8_t *const crOut = crPlane + static_cast<std::size_t>(y) * width;
                    for (int x = 0; x < width; ++x) {
                        cbOut[x] = static_cast<std::uint8_t>(chromaOut[row[x].cb]);
                        crOut[x] = static_cast<std::uint8_t>(chromaOut[row[x].cr]);
                    }
                    continue;
                }
                for (int x = 0; x < width; ++x) {
                    const std::size_t i = static_cast<std::size_t>(y) * width + x;
                    put(cbPlane, i, chromaCode(row[x].cb, sourceCb, i));
                    put(crPlane, i, chromaCode(row[x].cr, sourceCr, i));
                }
            }
        });
        return;
    }
    // Each chroma sample is the mean in YC48 of the pixels it was repeated to, rounded
    // half up so equal values come back as they were. A thread takes whole chroma rows
    // with the picture rows they cover, so the picture is read once.
    const RowMap &map = rowMaps_[frameChromaInterlaced(f, frameParams) ? 1 : 0];
    const int cw = f.chromaWidth();
    inRanges(f.chromaHeight(), [=, &map](int first, int end) {
        for (int cy = first; cy < end; ++cy) {
            const int *rows = map.rows.data() + map.start[cy];
            const int rowCount = map.start[cy + 1] - map.start[cy];
            for (int r = 0; r < rowCount; ++r) lumaRow(rows[r]);
            const int count = 2 * rowCount;
            // Floor division of sum + count/2, for negative sums as well; a shift where
            // count is the usual two or four (two pixels of one or two rows).
            const auto average = [count](std::int32_t sum) {
                const std::int32_t n = sum + count / 2;
                if (count == 2) return static_cast<int>(n >> 1);
                if (count == 4) return static_cast<int>(n >> 2);
                return static_cast<int>(n >= 0 ? n / count : -((-n + count - 1) / count));
            };
            if (!keepUntouched && (rowCount == 1 || rowCount == 2)) {
                // The usual cases on their own: 4:2:2 (one row) and 4:2:0 (two).
                const PIXEL_YC *const a = image + static_cast<std::size_t>(rows[0]) * pitch;
                const PIXEL_YC *const b = image + static_cast<std::size_t>(rows[rowCount - 1]) * pitch;
                const std::size_t at = static_cast<std::size_t>(cy) * cw;
                const auto pairs = [=](auto twoRows, auto wide) {
                    constexpr int shift = twoRows ? 2 : 1, half = 1 << (shift - 1);
                    constexpr std::size_t size = wide ? 2 : 1;
                    std::uint8_t *const cbOut = cbPlane + at * size;
                    std::uint8_t *const crOut = crPlane + at * size;
                    for (int cx = 0; cx < cw; ++cx) {
                        // The last pixel of an odd width is alone under its sample:
                        // it counts twice rather than reading past the picture.
                        const int x = 2 * cx, x1 = x + 1 < width ? x + 1 : x;
                        int cb = a[x].cb + a[x1].cb + half, cr = a[x].cr + a[x1].cr + half;
                        if (twoRows) cb += b[x].cb + b[x1].cb, cr += b[x].cr + b[x1].cr;
                        const int codeCb = chromaOut[cb >> shift], codeCr = chromaOut[cr >> shift];
                        cbOut[size * cx] = static_cast<std::uint8_t>(codeCb);
                        crOut[size * cx] = static_cast<std::uint8_t>(codeCr);
                        if (wide) {
                            cbOut[size * cx + 1] = static_cast<std::uint8_t>(codeCb >> 8);
                            crOut[size * cx + 1] = static_cast<std::uint8_t>(codeCr >> 8);
                        }
                    }
                };
                if (rowCount == 2)
                    bytes ? pairs(std::true_type{}, std::false_type{}) : pairs(std::true_type{}, std::true_type{});
                else
                    bytes ? pairs(std::false_type{}, std::false_type{}) : pairs(std::false_type{}, std::true_type{});
                continue;
            }
            for (int cx = 0; cx < cw; ++cx) {
                std::int32_t cb = 0, cr = 0;
                for (int r = 0; r < rowCount; ++r) {
                    const PIXEL_YC *p = image + static_cast<std::size_t>(rows[r]) * pitch + 2 * cx;
                    const int next = 2 * cx + 1 < width ? 1 : 0;  // odd width: the last pixel twice
                    cb += p[0].cb + p[next].cb;
                    cr += p[0].cr + p[next].cr;
                }
                const std::size_t i = static_cast<std::size_t>(cy) * cw + cx;
                put(cbPlane, i, chromaCode(count > 0 ? average(cb) : 0, sourceCb, i));
                put(crPlane, i, chromaCode(count > 0 ? average(cr) : 0, sourceCr, i));
            }
        }
    });
}

}  // namespace q5cli
