// YUV4MPEG2 reading and writing. Every failure is a message, never an exception:
// the reader sees untrusted bytes (and is fuzzed).
#include "cli/io/y4m.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace q5cli {

namespace {

constexpr char kMagic[] = "YUV4MPEG2";
constexpr std::size_t kMaxHeaderLine = 65536;  // room for long comment parameters
constexpr std::size_t kMaxFrameLine = 4096;

// A positive decimal number of at most 9 digits (no sign, no spaces).
bool parseNumber(const std::string &text, int *value) {
    if (text.empty() || text.size() > 9) return false;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    *value = v;
    return true;
}

bool parseRatio(const std::string &text) {
    const std::size_t colon = text.find(':');
    int a, b;
    return colon != std::string::npos && parseNumber(text.substr(0, colon), &a) &&
           parseNumber(text.substr(colon + 1), &b);
}

// A short printable rendering of untrusted text for messages.
std::string quoted(const std::string &text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size() && i < 24; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    }
    if (text.size() > 24) out += "...";
    return out + "\"";
}

bool parseColourspace(const std::string &c, Subsampling *sub, int *bits) {
    static const struct {
        const char *name;
        Subsampling sub;
    } eightBit[] = {{"420jpeg", Subsampling::S420}, {"420paldv", Subsampling::S420},
                    {"420mpeg2", Subsampling::S420}, {"420", Subsampling::S420},
                    {"422", Subsampling::S422},     {"444", Subsampling::S444},
                    {"mono", Subsampling::Mono}};
    for (const auto &e : eightBit)
        if (c == e.name) {
            *sub = e.sub;
            *bits = 8;
            return true;
        }
    // Deeper forms: 420p10, 422p12, 444p16, mono10 ...
    static const struct {
        const char *prefix;
        Subsampling sub;
    } deep[] = {{"420p", Subsampling::S420}, {"422p", Subsampling::S422},
                {"444p", Subsampling::S444}, {"mono", Subsampling::Mono}};
    for (const auto &e : deep) {
        const std::size_t n = std::strlen(e.prefix);
        int depth;
        if (c.compare(0, n, e.prefix) == 0 && parseNumber(c.substr(n), &depth) && depth >= 9 &&
            depth <= 16 && c.size() - n == 2 - (depth < 10)) {
            *sub = e.sub;
            *bits = depth;
            return true;
        }
    }
    return false;
}

}  // namespace

// ---- Format -------------------------------------------------------------------

int Y4mFormat::chromaWidth() const {
    switch (subsampling) {
    case Subsampling::Mono: return 0;
    case Subsampling::S444: return width;
    default: return (width + 1) / 2;
    }
}

int Y4mFormat::chromaHeight() const {
    switch (subsampling) {
    case Subsampling::Mono: return 0;
    case Subsampling::S420: return (height + 1) / 2;
    default: return height;
    }
}

std::size_t Y4mFormat::lumaBytes() const {
    return static_cast<std::size_t>(width) * height * bytesPerSample();
}

std::size_t Y4mFormat::chromaBytes() const {
    return static_cast<std::size_t>(chromaWidth()) * chromaHeight() * bytesPerSample();
}

std::size_t Y4mFormat::frameBytes() const { return lumaBytes() + 2 * chromaBytes(); }

std::string Y4mFormat::describe() const {
    const char *name = subsampling == Subsampling::Mono   ? "mono"
                       : subsampling == Subsampling::S420 ? "4:2:0"
                       : subsampling == Subsampling::S422 ? "4:2:2"
                                                          : "4:4:4";
    return std::string(name) + " " + std::to_string(bits) + "-bit";
}

bool parseY4mHeader(const std::string &line, Y4mFormat *format, std::string *error) {
    const std::size_t magic = sizeof kMagic - 1;
    if (line.compare(0, magic, kMagic) != 0 || (line.size() > magic && line[magic] != ' ')) {
        *error = "not a YUV4MPEG2 stream (the header does not start with YUV4MPEG2)";
        return false;
    }
    Y4mFormat f;
    f.header = line;
    bool haveW = false, haveH = false;
    std::size_t pos = magic;
    while (pos < line.size()) {
        const std::size_t space = line.find(' ', pos);
        const std::size_t end = space == std::string::npos ? line.size() : space;
        const std::string token = line.substr(pos, end - pos);
        pos = end + 1;
        if (token.empty()) continue;
        const std::string value = token.substr(1);
        switch (token[0]) {
        case 'W':
            if (!parseNumber(value, &f.width) || f.width == 0) {
                *error = "bad width " + quoted(token) + " in the header";
                return false;
            }
            haveW = true;
            break;
        case 'H':
            if (!parseNumber(value, &f.height) || f.height == 0) {
                *error = "bad height " + quoted(token) + " in the header";
                return false;
            }
            haveH = true;
            break;
        case 'F':
            if (!parseRatio(value)) {
                *error = "bad frame rate " + quoted(token) + " in the header";
                return false;
            }
            break;
        case 'A':
            if (!parseRatio(value)) {
                *error = "bad pixel aspect " + quoted(token) + " in the header";
                return false;
            }
            break;
        case 'I':
            if (value.size() != 1 || std::string("ptbm?").find(value[0]) == std::string::npos) {
                *error = "bad interlacing tag " + quoted(token) + " in the header";
                return false;
            }
            f.interlace = value[0];
            break;
        case 'C':
            if (!parseColourspace(value, &f.subsampling, &f.bits)) {
                *error = "unsupported colour space " + quoted(token) +
                         ": quorvane5 reads 4:2:0, 4:2:2, 4:4:4 and mono, 8 to 16 bits";
                return false;
            }
            f.colourspace = value;
            break;
        default:
            break;  // X comments and anything newer: kept in the header as they stand
        }
    }
    if (!haveW || !haveH) {
        *error = "the header gives no frame size (W and H)";
        return false;
    }
    *format = std::move(f);
    return true;
}

std::string makeY4mHeader(int width, int height, Subsampling subsampling, int bits,
                          int rateNum, int rateDen) {
    std::string c;
    switch (subsampling) {
    case Subsampling::Mono: c = "mono"; break;
    case Subsampling::S420: c = bits > 8 ? "420p" : "420jpeg"; break;
    case Subsampling::S422: c = bits > 8 ? "422p" : "422"; break;
    case Subsampling::S444: c = bits > 8 ? "444p" : "444"; break;
    }
    if (bits > 8) c += std::to_string(bits);
    return std::string(kMagic) + " W" + std::to_string(width) + " H" + std::to_string(height) +
           " F" + std::to_string(rateNum) + ":" + std::to_string(rateDen) + " Ip A1:1 C" + c;
}

// ---- Byte sources and sinks -------------------------------------------------

std::string ByteSource::errorText() const { return std::strerror(errno); }

FdSource::FdSource(int fd) : fd_(fd) {
    const off_t at = lseek(fd, 0, SEEK_CUR);
    start_ = at > 0 ? static_cast<long long>(at) : 0;
}

long FdSource::read(void *buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, size);
        if (n >= 0) return static_cast<long>(n);
        if (errno != EINTR) {
            errno_ = errno;
            return -1;
        }
    }
}

std::string FdSource::errorText() const { return std::strerror(errno_); }

long MemorySource::read(void *buffer, std::size_t size) {
    const std::size_t n = std::min(size, size_ - pos_);
    if (n) std::memcpy(buffer, data_ + pos_, n);
    pos_ += n;
    return static_cast<long>(n);
}

bool MemorySink::write(const void *data, std::size_t size, std::string *) {
    const auto *p = static_cast<const std::uint8_t *>(data);
    bytes.insert(bytes.end(), p, p + size);
    return true;
}

// ---- Reader ------------------------------------------------------------------

Y4mReader::Y4mReader(ByteSource &source, std::string name)
    : source_(source), name_(std::move(name)), buffer_(1 << 16) {}

bool Y4mReader::refill() {
    if (sourceEnded_ || sourceFailed_) return false;
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    // Full of one unfinished line: grow (lines are bounded by their callers).
    if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);
    const long n = source_.read(buffer_.data() + end_, buffer_.size() - end_);
    if (n < 0) {
        sourceFailed_ = true;
        return false;
    }
    if (n == 0) {
        sourceEnded_ = true;
        return false;
    }
    end_ += static_cast<std::size_t>(n);
    return true;
}

Y4mReader::LineResult Y4mReader::readLine(std::string *line, std::size_t maxLength) {
    line->clear();
    std::size_t scanned = 0;
    for (;;) {
        const std::uint8_t *start = buffer_.data() + begin_;
        const std::size_t available = end_ - begin_;
        const std::size_t limit = std::min(available, maxLength + 1);
        const void *nl = scanned < limit ? std::memchr(start + scanned, '\n', limit - scanned)
                                         : nullptr;
        if (nl) {
            const std::size_t length = static_cast<const std::uint8_t *>(nl) - start;
            line->assign(reinterpret_cast<const char *>(start), length);
            begin_ += length + 1;
            offset_ += length + 1;
            return LineResult::Line;
        }
        scanned = limit;
        if (available > maxLength) return LineResult::TooLong;
        if (!refill()) {
            if (sourceFailed_) return LineResult::Failed;
            return end_ == begin_ ? LineResult::Empty : LineResult::Cut;
        }
    }
}

long Y4mReader::readExact(std::uint8_t *out, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        if (begin_ == end_) {
            // What the buffer would only pass through goes straight from the source.
            if (size - done >= buffer_.size() && !sourceEnded_ && !sourceFailed_) {
                const long n = source_.read(out + done, size - done);
                if (n < 0) sourceFailed_ = true;
                if (n == 0) sourceEnded_ = true;
                if (n <= 0) break;
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (!refill()) break;
        }
        const std::size_t n = std::min(size - done, end_ - begin_);
        std::memcpy(out + done, buffer_.data() + begin_, n);
        begin_ += n;
        done += n;
    }
    offset_ += done;
    if (sourceFailed_ && done < size) return -1;
    return static_cast<long>(done);
}

bool Y4mReader::readHeader(Y4mFormat *format, std::string *error) {
    std::string line;
    switch (readLine(&line, kMaxHeaderLine)) {
    case LineResult::Line: break;
    case LineResult::Failed: *error = "cannot read " + name_ + ": " + source_.errorText(); return false;
    case LineResult::Empty: *error = name_ + " is empty"; return false;
    case LineResult::TooLong:
        *error = name_ + ": the header line is too long (not a YUV4MPEG2 stream?)";
        return false;
    case LineResult::Cut: *error = name_ + ": the stream ends inside its header"; return false;
    }
    std::string why;
    if (!parseY4mHeader(line, format, &why)) {
        *error = name_ + ": " + why;
        return false;
    }
    return true;
}

int Y4mReader::peek() {
    if (begin_ == end_ && !refill()) return -1;
    return buffer_[begin_];
}

std::string Y4mReader::unexpectedData(std::uint64_t at, const std::string &found) const {
    std::string text = name_ + ": unexpected data after " +
                       (framesRead_ > 0 ? "frame " + std::to_string(framesRead_ - 1) : std::string("the header")) +
                       " at byte " + std::to_string(at);
    if (!found.empty()) text += " (" + quoted(found) + " where a FRAME marker belongs)";
    return text;
}

Y4mReader::Result Y4mReader::readFrame(const Y4mFormat &format, Y4mFrame *frame,
                                       std::string *error) {
    // Frames are numbered from 0, as --frame numbers them.
    const std::string where = name_ + ": frame " + std::to_string(framesRead_);
    const std::uint64_t start = offset_;
    // Whitespace after the last frame (a stray newline where streams were joined by
    // hand) ends the stream; anywhere else it is damage.
    std::uint64_t blanks = 0;
    for (int c = peek(); c == '\n' || c == ' ' || c == '\r' || c == '\t'; c = peek()) {
        ++begin_;
        ++offset_;
        ++blanks;
    }
    if (blanks > 0) {
        if (sourceFailed_) {
            *error = "cannot read " + name_ + ": " + source_.errorText();
            return Error;
        }
        if (begin_ == end_) {
            trailingWhitespace_ = blanks;
            return End;
        }
        *error = unexpectedData(start, "");
        return Error;
    }
    std::string line;
    const LineResult marker = readLine(&line, kMaxFrameLine);
    if (marker == LineResult::Empty) return End;
    if (marker == LineResult::Failed) {
        *error = "cannot read " + name_ + ": " + source_.errorText();
        return Error;
    }
    if (marker != LineResult::Line) {
        // What is left: the start of a marker cut short, or something else.
        const std::string rest(reinterpret_cast<const char *>(buffer_.data() + begin_),
                               std::min<std::size_t>(end_ - begin_, 24));
        if (marker == LineResult::Cut && std::string("FRAME").compare(0, rest.size(), rest) == 0)
            *error = where + ": the stream ends inside the FRAME marker";
        else if (marker == LineResult::TooLong && rest.compare(0, 6, "FRAME ") == 0)
            *error = where + ": the FRAME line is too long (over " + std::to_string(kMaxFrameLine) +
                     " bytes, the most this program reads)";
        else
            *error = unexpectedData(start, rest);
        return Error;
    }
    if (line.compare(0, 5, "FRAME") != 0 || (line.size() > 5 && line[5] != ' ')) {
        *error = unexpectedData(start, line);
        return Error;
    }
    frame->params = line.substr(5);
    const std::size_t size = format.frameBytes();
    if (size > kMaxFrameBytes) {
        *error = where + ": frames of " + std::to_string(format.width) + "x" +
                 std::to_string(format.height) + " " + format.describe() +
                 " are larger than this program reads";
        return Error;
    }
    frame->data.resize(size);
    const long got = readExact(frame->data.data(), size);
    if (got < 0) {
        *error = "cannot read " + name_ + ": " + source_.errorText();
        return Error;
    }
    if (static_cast<std::size_t>(got) < size) {
        *error = where + " is truncated: " + std::to_string(got) + " of " +
                 std::to_string(size) + " bytes";
        return Error;
    }
    ++framesRead_;
    return Frame;
}

// ---- Writer ------------------------------------------------------------------

bool Y4mWriter::writeHeader(const Y4mFormat &format, std::string *error) {
    const std::string line = format.header + "\n";
    return sink_.write(line.data(), line.size(), error);
}

bool Y4mWriter::writeFrame(const std::string &params, const std::uint8_t *data,
                           std::size_t size, std::string *error) {
    const std::string marker = "FRAME" + params + "\n";
    return sink_.write(marker.data(), marker.size(), error) && sink_.write(data, size, error);
}

}  // namespace q5cli
