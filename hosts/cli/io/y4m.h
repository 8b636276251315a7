// YUV4MPEG2 streams: the header and its format, a reader that checks every
// frame marker and frame length, and a writer that gives back the header and
// frame parameters exactly as they were read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace q5cli {

enum class Subsampling { Mono, S420, S422, S444 };

/// What the stream header says, plus the header line itself for writing back.
struct Y4mFormat {
    int width = 0, height = 0;
    Subsampling subsampling = Subsampling::S420;
    int bits = 8;            // 8..16; samples above 8 bits are little-endian 16-bit words
    char interlace = 'p';    // the I tag: p, t, b, m or ? ('p' when absent)
    std::string colourspace; // the C tag's value as written, empty when absent
    std::string header;      // the whole header line without its newline

    int chromaWidth() const;
    int chromaHeight() const;
    int planeCount() const { return subsampling == Subsampling::Mono ? 1 : 3; }
    int bytesPerSample() const { return bits > 8 ? 2 : 1; }
    int maxCode() const { return (1 << bits) - 1; }
    std::size_t lumaBytes() const;
    std::size_t chromaBytes() const;
    std::size_t frameBytes() const;
    /// Tagged top- or bottom-field-first, or mixed.
    bool interlaced() const { return interlace == 't' || interlace == 'b' || interlace == 'm'; }
    /// "4:2:0 8-bit", "mono 10-bit", ...
    std::string describe() const;
};

/// Parses a header line (with the YUV4MPEG2 magic, without the newline). Checks the
/// parameters this program relies on; keeps every other one in `header` untouched.
bool parseY4mHeader(const std::string &line, Y4mFormat *format, std::string *error);

/// Header line for a new stream (progressive, square pixels, the given rate).
std::string makeY4mHeader(int width, int height, Subsampling subsampling, int bits,
                          int rateNum, int rateDen);

struct Y4mFrame {
    std::string params;         // whatever followed "FRAME" on the marker line
    std::vector<std::uint8_t> data;
};

/// Bytes in: a file descriptor or memory. read() returns 0 at the end, -1 on error.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual long read(void *buffer, std::size_t size) = 0;
    /// Text of the last error (errno's, by default).
    virtual std::string errorText() const;
};

class FdSource : public ByteSource {
public:
    explicit FdSource(int fd);
    long read(void *buffer, std::size_t size) override;
    std::string errorText() const override;
    int fd() const { return fd_; }
    /// The file position reading began at: 0 for a file opened here, where a shell
    /// left it for an inherited one, 0 for anything that cannot seek.
    long long startOffset() const { return start_; }

protected:
    int fd_;
    long long start_ = 0;
    int errno_ = 0;
};

class MemorySource : public ByteSource {
public:
    MemorySource(const void *data, std::size_t size)
        : data_(static_cast<const std::uint8_t *>(data)), size_(size) {}
    long read(void *buffer, std::size_t size) override;

private:
    const std::uint8_t *data_;
    std::size_t size_, pos_ = 0;
};

/// Bytes out. write() returns false on failure, with a message.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual bool write(const void *data, std::size_t size, std::string *error) = 0;
};

class MemorySink : public ByteSink {
public:
    bool write(const void *data, std::size_t size, std::string *error) override;
    std::vector<std::uint8_t> bytes;
};

class Y4mReader {
public:
    /// Frames larger than this are refused before a buffer is made for them: the
    /// header is untrusted. Far above any frame the filter takes.
    static constexpr std::size_t kMaxFrameBytes = std::size_t{1} << 28;

    /// `name` appears in messages ("input", a file name).
    Y4mReader(ByteSource &source, std::string name);

    bool readHeader(Y4mFormat *format, std::string *error);

    enum Result { Frame, End, Error };
    /// The next frame; End when the stream ends cleanly before a frame marker, or with
    /// nothing but whitespace after the last frame (trailingWhitespace() counts it).
    Result readFrame(const Y4mFormat &format, Y4mFrame *frame, std::string *error);
    /// Bytes of whitespace ignored after the last frame.
    std::uint64_t trailingWhitespace() const { return trailingWhitespace_; }
    int framesRead() const { return framesRead_; }
    /// Bytes consumed so far (header and frames).
    std::uint64_t offset() const { return offset_; }
    /// For a reader started where an earlier one skipped to: its messages count frames
    /// and bytes from the start of the stream, `frames` frames and `offset` bytes before.
    void countFrom(int frames, std::uint64_t offset) { framesRead_ = frames, offset_ = offset; }

private:
    enum class LineResult {
        Line,      // a whole line, its newline consumed
        Empty,     // the stream ended before any byte of it
        Cut,       // the stream ended inside it (the bytes stay in the buffer)
        Failed,    // the source failed
        TooLong,   // no newline within the length allowed
    };
    // Reads one line of at most maxLength bytes.
    LineResult readLine(std::string *line, std::size_t maxLength);
    // Fills exactly size bytes unless the stream ends; returns the count read, -1 on error.
    long readExact(std::uint8_t *out, std::size_t size);
    bool refill();
    // The next byte without consuming it; -1 at the end of the stream or on an error.
    int peek();
    std::string unexpectedData(std::uint64_t at, const std::string &found) const;

    ByteSource &source_;
    std::string name_;
    std::vector<std::uint8_t> buffer_;
    std::size_t begin_ = 0, end_ = 0;
    bool sourceEnded_ = false, sourceFailed_ = false;
    int framesRead_ = 0;
    std::uint64_t offset_ = 0, trailingWhitespace_ = 0;
};

class Y4mWriter {
public:
    explicit Y4mWriter(ByteSink &sink) : sink_(sink) {}
    bool writeHeader(const Y4mFormat &format, std::string *error);
    bool writeFrame(const std::string &params, const std::uint8_t *data, std::size_t size,
                    std::string *error);

private:
    ByteSink &sink_;
};

}  // namespace q5cli
