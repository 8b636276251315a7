// The y4m header parser, reader and writer, and what the filter can carry.
#include <gtest/gtest.h>

#include "cli/cli_support.h"
#include "cli/picture/convert.h"
#include "cli/io/y4m.h"

namespace {

using q5cli::Subsampling;
using q5cli::Y4mFormat;
using q5cli::Y4mReader;

std::string headerError(const std::string &line) {
    Y4mFormat f;
    std::string error;
    EXPECT_FALSE(q5cli::parseY4mHeader(line, &f, &error)) << line;
    return error;
}

// Reads a stream to its end; returns the error message, empty when it read cleanly.
std::string readError(const std::string &stream, int *frames = nullptr) {
    q5cli::MemorySource source(stream.data(), stream.size());
    Y4mReader reader(source, "in.y4m");
    Y4mFormat f;
    std::string error;
    if (!reader.readHeader(&f, &error)) return error;
    q5cli::Y4mFrame frame;
    Y4mReader::Result r;
    while ((r = reader.readFrame(f, &frame, &error)) == Y4mReader::Frame) {
    }
    if (frames) *frames = reader.framesRead();
    return r == Y4mReader::End ? "" : error;
}

TEST(Y4mHeader, ReadsEveryColourSpaceAndDepth) {
    const struct {
        const char *c;
        Subsampling sub;
        int bits;
    } cases[] = {{"420jpeg", Subsampling::S420, 8},  {"420mpeg2", Subsampling::S420, 8},
                 {"420paldv", Subsampling::S420, 8}, {"420", Subsampling::S420, 8},
                 {"422", Subsampling::S422, 8},      {"444", Subsampling::S444, 8},
                 {"mono", Subsampling::Mono, 8},     {"420p10", Subsampling::S420, 10},
                 {"422p10", Subsampling::S422, 10},  {"444p10", Subsampling::S444, 10},
                 {"mono10", Subsampling::Mono, 10},  {"420p9", Subsampling::S420, 9},
                 {"444p16", Subsampling::S444, 16},  {"mono16", Subsampling::Mono, 16}};
    for (const auto &c : cases) {
        Y4mFormat f;
        std::string error;
        const std::string line = std::string("YUV4MPEG2 W64 H48 F30000:1001 It A10:11 C") + c.c +
                                 " XYSCSS=420JPEG XCOLORRANGE=LIMITED";
        ASSERT_TRUE(q5cli::parseY4mHeader(line, &f, &error)) << c.c << ": " << error;
        EXPECT_EQ(f.subsampling, c.sub) << c.c;
        EXPECT_EQ(f.bits, c.bits) << c.c;
        EXPECT_EQ(f.interlace, 't');
        EXPECT_EQ(f.header, line);  // written back unchanged
    }
    Y4mFormat plain;
    std::string error;
    ASSERT_TRUE(q5cli::parseY4mHeader("YUV4MPEG2 W6 H4", &plain, &error));
    EXPECT_EQ(plain.subsampling, Subsampling::S420);  // the format's default
    EXPECT_EQ(plain.frameBytes(), 6u * 4 + 2 * 3 * 2);
    EXPECT_FALSE(plain.interlaced());
    // Every interlaced tag, bottom field first included, asks for per-field processing.
    for (const char *tag : {"It", "Ib", "Im"}) {
        Y4mFormat f;
        ASSERT_TRUE(q5cli::parseY4mHeader(std::string("YUV4MPEG2 W6 H4 ") + tag, &f, &error));
        EXPECT_TRUE(f.interlaced()) << tag;
    }
}

TEST(Y4mHeader, RejectsMalformedAndUnsupportedHeadersWithReasons) {
    EXPECT_NE(headerError("YUV4MPEG W4 H4").find("not a YUV4MPEG2 stream"), std::string::npos);
    EXPECT_NE(headerError("YUV4MPEG2X W4 H4").find("not a YUV4MPEG2"), std::string::npos);
    EXPECT_NE(headerError("YUV4MPEG2 H4").find("no frame size"), std::string::npos);
    EXPECT_NE(headerError("YUV4MPEG2 W4").find("no frame size"), std::string::npos);
    EXPECT_NE(headerError("YUV4MPEG2 W-4 H4").find("bad width"), std::string::npos);
    EXPECT_NE(headerError("YUV4MPEG2 W0 H4").find("bad width"), std::string::npos);
    EXPECT_NE(headerError("YUV4MPEG2 W4 H99999999999").find("bad height"), std::string::npos);
    EXPECT_NE(headerError("YUV4MPEG2 W4 H4 F25").find("bad frame rate"), std::string::npos);
    EXPECT_NE(headerError("YUV4MPEG2 W4 H4 Ax:1").find("bad pixel aspect"), std::string::npos);
    EXPECT_NE(headerError("YUV4MPEG2 W4 H4 Ix").find("bad interlacing"), std::string::npos);
    for (const char *c : {"C411", "C444alpha", "C420p8", "C420p17", "C420p010", "Cmono8", "C"})
        EXPECT_NE(headerError(std::string("YUV4MPEG2 W4 H4 ") + c).find("unsupported colour space"),
                  std::string::npos)
            << c;
}

TEST(Y4mHeader, ChecksWhatTheFilterAndSubsamplingCanCarry) {
    const auto check = [](const std::string &line) {
        Y4mFormat f;
        std::string error;
        EXPECT_TRUE(q5cli::parseY4mHeader(line, &f, &error)) << error;
        q5cli::checkProcessable(f, &error);
        return error;
    };
    EXPECT_EQ(check("YUV4MPEG2 W1920 H1088 C420jpeg"), "");
    EXPECT_EQ(check("YUV4MPEG2 W4096 H2304 C420jpeg"), "");
    EXPECT_EQ(check("YUV4MPEG2 W1 H1 C444"), "");
    EXPECT_EQ(check("YUV4MPEG2 W7 H5 Cmono"), "");
    EXPECT_EQ(check("YUV4MPEG2 W6 H5 C422"), "");
    // One pixel more is a block of 16 more after rounding: 4112 wide or 2320 high.
    EXPECT_NE(check("YUV4MPEG2 W4097 H2160").find("frames of 4097x2160 are larger than the filter's limit of 4096x2304"),
              std::string::npos);
    EXPECT_NE(check("YUV4MPEG2 W3840 H2305").find("larger"), std::string::npos);
    EXPECT_NE(check("YUV4MPEG2 W7 H4 C420jpeg").find("even width"), std::string::npos);
    EXPECT_NE(check("YUV4MPEG2 W7 H4 C422").find("even width"), std::string::npos);
    EXPECT_NE(check("YUV4MPEG2 W8 H5 C420p10").find("even height"), std::string::npos);
}

TEST(Y4mReader, ReadsFramesWithTheirParametersAndEndsCleanly) {
    const std::string stream = "YUV4MPEG2 W2 H2 C444\nFRAME\nABCDEFGHIJKL" "FRAME Ixyz X=1\nabcdefghijkl";
    q5cli::MemorySource source(stream.data(), stream.size());
    Y4mReader reader(source, "in");
    Y4mFormat f;
    std::string error;
    ASSERT_TRUE(reader.readHeader(&f, &error));
    q5cli::Y4mFrame frame;
    ASSERT_EQ(reader.readFrame(f, &frame, &error), Y4mReader::Frame);
    EXPECT_EQ(frame.params, "");
    EXPECT_EQ(std::string(frame.data.begin(), frame.data.end()), "ABCDEFGHIJKL");
    ASSERT_EQ(reader.readFrame(f, &frame, &error), Y4mReader::Frame);
    EXPECT_EQ(frame.params, " Ixyz X=1");

    // The writer gives back the same bytes.
    q5cli::MemorySink sink;
    q5cli::Y4mWriter writer(sink);
    ASSERT_TRUE(writer.writeHeader(f, &error));
    ASSERT_TRUE(writer.writeFrame("", reinterpret_cast<const std::uint8_t *>("ABCDEFGHIJKL"), 12, &error));
    ASSERT_TRUE(writer.writeFrame(frame.params, frame.data.data(), frame.data.size(), &error));
    EXPECT_EQ(std::string(sink.bytes.begin(), sink.bytes.end()), stream);
    EXPECT_EQ(reader.readFrame(f, &frame, &error), Y4mReader::End);
}

TEST(Y4mReader, ReportsEachKindOfDamage) {
    const std::string head = "YUV4MPEG2 W2 H2 C444\n";
    int frames = 0;
    EXPECT_EQ(readError(head, &frames), "");
    EXPECT_EQ(frames, 0);
    EXPECT_EQ(readError(""), "in.y4m is empty");
    EXPECT_NE(readError("YUV4MPEG2 W2 H2").find("ends inside its header"), std::string::npos);
    EXPECT_NE(readError(std::string(70000, 'Y')).find("header line is too long"), std::string::npos);
    // Comment parameters can make a header far longer than any FRAME line: tens of KiB are read.
    const std::string commented = "YUV4MPEG2 W2 H2 C444 X" + std::string(40000, 'c') + "\n";
    EXPECT_EQ(readError(commented + "FRAME\n123456789012", &frames), "");
    EXPECT_EQ(frames, 1);
    EXPECT_NE(readError(head + "FRAME\n123456789012FRA").find("frame 1: the stream ends inside the FRAME marker"),
              std::string::npos);
    EXPECT_NE(readError(head + "FRAME\n12345").find("frame 0 is truncated: 5 of 12 bytes"),
              std::string::npos);
    // Anything but a frame where a marker belongs is located exactly (the header is 21
    // bytes, a frame 18).
    EXPECT_EQ(readError(head + "FRAME\n123456789012FRAMES\n"),
              "in.y4m: unexpected data after frame 0 at byte 39 (\"FRAMES\" where a FRAME marker belongs)");
    EXPECT_NE(readError(head + "FRAME\n1234567890123FRAME\n").find("after frame 0 at byte 39 (\"3FRAME\""),
              std::string::npos);
    EXPECT_NE(readError(head + "FRAME\n123456789012junk").find("after frame 0 at byte 39 (\"junk\""),
              std::string::npos);
    EXPECT_NE(readError(head + "FRAMEX").find("after the header at byte 21"), std::string::npos);
    // A marker line past the limit is called too long, not a missing marker.
    EXPECT_EQ(readError(head + "FRAME" + std::string(5000, ' ')),
              "in.y4m: frame 0: the FRAME line is too long (over 4096 bytes, the most this program reads)");
    // Whitespace after the last frame ends the stream; before another frame it is damage.
    const std::string blankEnd = head + "FRAME\n123456789012\r\n \n";
    q5cli::MemorySource blank(blankEnd.data(), blankEnd.size());
    Y4mReader reader(blank, "in.y4m");
    Y4mFormat f;
    q5cli::Y4mFrame frame;
    std::string error;
    ASSERT_TRUE(reader.readHeader(&f, &error));
    ASSERT_EQ(reader.readFrame(f, &frame, &error), Y4mReader::Frame);
    EXPECT_EQ(reader.readFrame(f, &frame, &error), Y4mReader::End) << error;
    EXPECT_EQ(reader.trailingWhitespace(), 4u);
    EXPECT_EQ(readError(head + "FRAME\n123456789012\nFRAME\n123456789012"),
              "in.y4m: unexpected data after frame 0 at byte 39");
    // A frame too big for any use is refused before a buffer is made for it.
    EXPECT_NE(readError("YUV4MPEG2 W100000 H100000\nFRAME\n").find("larger"), std::string::npos);
}

TEST(Y4mReader, ReadsFramesLargerThanItsBuffer) {
    const std::string header = "YUV4MPEG2 W1920 H1088 C444p10";
    const auto stream = q5clitest::randomY4m(header, 2, 5);
    Y4mFormat f;
    std::vector<q5cli::Y4mFrame> frames;
    std::string error;
    ASSERT_TRUE(q5clitest::parseY4m(stream, &f, &frames, &error)) << error;
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_TRUE(std::equal(frames[1].data.begin(), frames[1].data.end(), stream.end() - f.frameBytes()));
}

}  // namespace
