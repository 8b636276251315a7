// Runs over a span of the clip's frames: each frame made under its own number from
// the frames around it, so that chunks join into the run over the whole clip.
#include <gtest/gtest.h>

#include "cli/cli_support.h"
#include "cli/join_support.h"
#include "cli/session/filter_session.h"
#include "support/support.h"

namespace {

using q5cli::FrameSpan;
using q5cli::Y4mFormat;
using q5cli::Y4mFrame;

struct SpanRun {
    bool ok = false;
    std::string error;
    int frames = 0;
    std::vector<int> progress;  // the total given with each frame
    std::vector<Y4mFrame> output;
};

SpanRun runSpan(const std::vector<std::uint8_t> &clip, const q5cli::DenoiseSettings &settings, FrameSpan span) {
    SpanRun run;
    q5cli::MemorySource source(clip.data(), clip.size());
    q5cli::Y4mReader reader(source, "clip");
    Y4mFormat format;
    if (!reader.readHeader(&format, &run.error)) return run;
    q5cli::MemorySink sink;
    q5cli::Y4mWriter writer(sink);
    q5cli::DenoiseReport report;
    run.ok = q5cli::denoiseStream(q5test::moduleEntry(), settings, reader, format, writer, nullptr,
                                  [&](int, int total) { run.progress.push_back(total); }, &report, &run.error, span);
    run.frames = report.frames;
    std::string error;
    Y4mFormat out;
    if (run.ok) {
        run.output = q5clitest::framesOf(sink.bytes, &out, &error);
        EXPECT_EQ(out.header, format.header);
    }
    return run;
}

q5cli::DenoiseSettings settingsWith(bool mosquito, bool fields, bool rounding) {
    q5cli::DenoiseSettings s = q5cli::DenoiseSettings::defaults();
    s.set(CheckBox::MosquitoNr, mosquito);
    s.set(CheckBox::Fields, fields);
    s.set(CheckBox::Rounding, rounding);
    s.threads = 2;
    return s;
}

// Chunks [0, 1), [1, 5), [5, 6), [6, 7) of a 7-frame clip: joins after the first frame,
// at the last frame and at the last but one, chunks of one frame at both ends.
constexpr int kFrames = 7;
constexpr int kCuts[] = {0, 1, 5, 6, kFrames};

std::vector<Y4mFrame> joinedChunks(const std::vector<std::uint8_t> &clip, const q5cli::DenoiseSettings &settings,
                                   bool lengthKnown) {
    std::vector<Y4mFrame> joined;
    for (std::size_t c = 0; c + 1 < std::size(kCuts); ++c) {
        FrameSpan span;
        span.first = kCuts[c];
        // The last chunk runs to the end of the clip, found by reading.
        span.end = kCuts[c + 1] == kFrames && !lengthKnown ? -1 : kCuts[c + 1];
        span.clipLength = lengthKnown ? kFrames : -1;
        const SpanRun run = runSpan(clip, settings, span);
        EXPECT_TRUE(run.ok) << run.error;
        EXPECT_EQ(run.frames, kCuts[c + 1] - kCuts[c]);
        joined.insert(joined.end(), run.output.begin(), run.output.end());
    }
    return joined;
}

TEST(FrameSpan, ChunksJoinIntoTheWholeRunWithTheRoundingCorrectionOff) {
    // 72 wide: the filter's rows are rounded up to 80.
    const auto clip = q5clitest::flatBrightClip("YUV4MPEG2 W72 H48 F25:1 It A1:1 C420jpeg", kFrames, 7);
    for (const bool mosquito : {false, true})
        for (const bool fields : {false, true}) {
            SCOPED_TRACE(testing::Message() << "mosquito " << mosquito << ", fields " << fields);
            const q5cli::DenoiseSettings settings = settingsWith(mosquito, fields, false);
            const SpanRun whole = runSpan(clip, settings, {});
            ASSERT_TRUE(whole.ok) << whole.error;
            for (const bool lengthKnown : {false, true}) {
                const std::vector<Y4mFrame> joined = joinedChunks(clip, settings, lengthKnown);
                ASSERT_EQ(joined.size(), whole.output.size());
                for (int n = 0; n < kFrames; ++n)
                    EXPECT_TRUE(joined[n].data == whole.output[n].data) << "frame " << n << ", length known " << lengthKnown;
            }
        }
}

TEST(FrameSpan, WithTheRoundingCorrectionOnChunksDifferOnlyWhereCarriedRemaindersReach) {
    const auto clip = q5clitest::flatBrightClip("YUV4MPEG2 W72 H48 F25:1 It A1:1 C420jpeg", kFrames, 7);
    Y4mFormat format;
    std::string error;
    q5clitest::framesOf(clip, &format, &error);
    int differing = 0;
    for (const bool mosquito : {false, true})
        for (const bool fields : {false, true}) {
            SCOPED_TRACE(testing::Message() << "mosquito " << mosquito << ", fields " << fields);
            const q5cli::DenoiseSettings settings = settingsWith(mosquito, fields, true);
            const SpanRun whole = runSpan(clip, settings, {});
            ASSERT_TRUE(whole.ok) << whole.error;
            const std::vector<Y4mFrame> joined = joinedChunks(clip, settings, false);
            ASSERT_EQ(joined.size(), whole.output.size());
            const q5clitest::JoinDifference d = q5clitest::compareJoin(format, whole.output, joined, fields);
            EXPECT_LE(d.largest, 1);
            EXPECT_EQ(d.outside, 0);
            // The first chunk starts as the whole run does.
            if (d.samples > 0) {
                EXPECT_GE(d.firstFrame, 1);
            }
            differing += d.samples;
        }
    // The clip's flat bright blocks are where remainders are carried: without any
    // difference here this test would prove nothing about the bound.
    EXPECT_GT(differing, 0);
}

// Dark, nearly flat frames: the rounding correction dithers them with noise whose
// sign follows the frame's parity, in every block (bright flat blocks carry instead).
std::vector<std::uint8_t> flatDarkClip(const std::string &header, int frames) {
    Y4mFormat format;
    std::string error;
    q5cli::parseY4mHeader(header, &format, &error);
    std::vector<std::uint8_t> out(header.begin(), header.end());
    out.push_back('\n');
    std::uint32_t state = 12345;
    const auto bit = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<int>(state >> 31);
    };
    for (int n = 0; n < frames; ++n) {
        for (char c : std::string("FRAME\n")) out.push_back(static_cast<std::uint8_t>(c));
        for (int i = 0; i < format.width * format.height; ++i) out.push_back(static_cast<std::uint8_t>(20 + bit()));
        for (std::size_t i = 0; i < 2 * format.chromaBytes(); ++i) out.push_back(static_cast<std::uint8_t>(128 + bit()));
    }
    return out;
}

TEST(FrameSpan, EachFrameIsProcessedUnderItsOwnNumber) {
    // Frame 3 alone must match the whole run's frame 3 where the carried remainders do
    // not reach. The dither follows the frame's parity: on the dark clip, 256 wide so
    // that the remainders reach only its last 57 columns, a frame made under another
    // number's parity differs all over.
    for (const std::string kind : {"bright", "dark"}) {
        SCOPED_TRACE(kind);
        const auto clip = kind == "bright" ? q5clitest::flatBrightClip("YUV4MPEG2 W64 H32 F25:1 Ip C420jpeg", 6, 3)
                                           : flatDarkClip("YUV4MPEG2 W256 H32 F25:1 Ip C420jpeg", 6);
        Y4mFormat format;
        std::string error;
        q5clitest::framesOf(clip, &format, &error);
        const q5cli::DenoiseSettings settings = settingsWith(false, false, true);
        const SpanRun whole = runSpan(clip, settings, {});
        FrameSpan span;
        span.first = 3;
        span.end = 4;
        const SpanRun one = runSpan(clip, settings, span);
        ASSERT_TRUE(whole.ok && one.ok) << whole.error << one.error;
        ASSERT_EQ(one.output.size(), 1u);
        const q5clitest::JoinDifference d =
            q5clitest::compareJoin(format, {whole.output[3]}, {one.output[0]}, false);
        EXPECT_EQ(d.outside, 0);
        EXPECT_LE(d.largest, 1);
        EXPECT_EQ(one.progress, std::vector<int>{1});
    }
}

TEST(FrameSpan, ASpanBeyondTheClipIsAnErrorOnceItsEndIsFound) {
    const auto clip = q5clitest::randomY4m("YUV4MPEG2 W32 H16 C420jpeg", 5, 2);
    const q5cli::DenoiseSettings settings = settingsWith(true, false, false);
    for (const auto &[first, end] : std::vector<std::pair<int, int>>{{5, -1}, {9, 12}, {3, 6}, {0, 6}}) {
        SCOPED_TRACE(testing::Message() << first << ":" << end);
        FrameSpan span;
        span.first = first;
        span.end = end;
        const SpanRun run = runSpan(clip, settings, span);
        EXPECT_FALSE(run.ok);
        EXPECT_NE(run.error.find("the clip has 5 frames (0 to 4)"), std::string::npos) << run.error;
    }
    // To the end from the last frame is one frame.
    FrameSpan last;
    last.first = 4;
    const SpanRun run = runSpan(clip, settings, last);
    EXPECT_TRUE(run.ok) << run.error;
    EXPECT_EQ(run.frames, 1);
}

TEST(FrameSpan, AnExcerptMustHoldTheFramesAroundTheSpan) {
    // Frames 2..7 of a 10-frame clip: enough for 3:6 with the mosquito pass (1..7 are
    // read), not for 3:7 (8 is needed) nor for 2:5 (0 is needed).
    const auto clip = q5clitest::randomY4m("YUV4MPEG2 W32 H16 C420jpeg", 10, 4);
    Y4mFormat format;
    std::string error;
    const std::vector<Y4mFrame> frames = q5clitest::framesOf(clip, &format, &error);
    q5cli::MemorySink excerpt;
    q5cli::Y4mWriter writer(excerpt);
    writer.writeHeader(format, &error);
    for (int n = 1; n <= 7; ++n) writer.writeFrame(frames[n].params, frames[n].data.data(), frames[n].data.size(), &error);
    const q5cli::DenoiseSettings settings = settingsWith(true, false, false);

    FrameSpan span;
    span.inputFirst = 1;
    span.clipLength = 10;
    span.first = 3;
    span.end = 6;
    std::string why;
    EXPECT_TRUE(q5cli::checkFrameSpan(span, span.clipLength, q5cli::contextFrames(settings), &why)) << why;
    const SpanRun fromExcerpt = runSpan(excerpt.bytes, settings, span);
    const SpanRun fromClip = runSpan(clip, settings, {3, 6, 0, 10});
    ASSERT_TRUE(fromExcerpt.ok && fromClip.ok) << fromExcerpt.error << fromClip.error;
    ASSERT_EQ(fromExcerpt.output.size(), 3u);
    for (int n = 0; n < 3; ++n) EXPECT_TRUE(fromExcerpt.output[n].data == fromClip.output[n].data) << n;

    span.end = 7;
    const SpanRun shortAfter = runSpan(excerpt.bytes, settings, span);
    EXPECT_FALSE(shortAfter.ok);
    EXPECT_NE(shortAfter.error.find("the input ends at frame 7 of the clip (of 10 frames), but frame 6 needs frame 8"),
              std::string::npos)
        << shortAfter.error;
    span.first = 2;
    EXPECT_FALSE(q5cli::checkFrameSpan(span, span.clipLength, q5cli::contextFrames(settings), &why));
    EXPECT_NE(why.find("the input starts at frame 1 of the clip, but frames 2:7 need frame 0 and on"),
              std::string::npos)
        << why;
}

}  // namespace
