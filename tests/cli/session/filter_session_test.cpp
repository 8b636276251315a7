// Streaming: frames are read lazily and dropped early, the clip length reaches the
// filter before it matters, and output frames keep their order and parameters.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "cli/cli_support.h"
#include "core/core.h"
#include "core/failing_system_memory.h"
#include "core/size_class.h"
#include "cli/session/filter_session.h"
#include "support/support.h"

namespace {

using q5cli::Y4mFormat;

// A y4m stream made on the fly, never whole in memory: frame n is filled with n's bytes.
class GeneratedStream : public q5cli::ByteSource {
public:
    GeneratedStream(const std::string &header, int frames) : frames_(frames) {
        std::string error;
        q5cli::parseY4mHeader(header, &format_, &error);
        pending_ = header + "\n";
    }
    long read(void *buffer, std::size_t size) override {
        while (pending_.empty() && made_ < frames_) {
            pending_ = "FRAME Xn=" + std::to_string(made_) + "\n";
            pending_.append(format_.frameBytes(), static_cast<char>(made_ * 7 % 219 + 16));
            ++made_;
        }
        const std::size_t n = std::min(size, pending_.size());
        std::memcpy(buffer, pending_.data(), n);
        pending_.erase(0, n);
        return static_cast<long>(n);
    }

private:
    Y4mFormat format_;
    int frames_, made_ = 0;
    std::string pending_;
};

// A stand-in filter that fetches what the real frame driver fetches with the mosquito
// pass on (frames n - 1 .. n + 1 mirrored into the clip, and each one's neighbours) and
// leaves the current frame as the output; it records frame and frame_n of every call.
// Like the filter, it does its work on the host's threads (here: none to do).
struct ProbeCall {
    int frame, frameCount;
};
std::vector<ProbeCall> probeCalls;

BOOL probeProc(FILTER *fp, FILTER_PROC_INFO *fpip) {
    probeCalls.push_back({fpip->frame, fpip->frame_n});
    const int count = fpip->frame_n;
    const auto fetch = [&](int n) {
        fp->exfunc->set_ycp_filtering_cache_size(fp, fpip->max_w, fpip->max_h, 5, 0);
        fp->exfunc->get_ycp_filtering_cache_ex(fp, fpip->editp, n, nullptr, nullptr);
    };
    for (int offset = -1; offset <= 1; ++offset) {
        int n = fpip->frame + offset;
        n = n < 0 ? -n : n >= count ? 2 * count - n - 2 : n;
        fetch(n);
        if (n - 1 >= 0) fetch(n - 1);
        if (n + 1 < count) fetch(n + 1);
    }
    fp->exfunc->exec_multi_thread_func([](int, int, void *, void *) {}, nullptr, nullptr);
    return TRUE;
}

char probeName[] = "probe";
SettingColumns probeColumns = settingColumns();
FILTER probeFilter = [] {
    FILTER f{};
    f.name = probeName;
    describeSettings(f, probeColumns);
    f.func_proc = probeProc;
    return f;
}();
FILTER_DLL *probeTable() { return &probeFilter; }

struct StreamRun {
    bool ok = false;
    std::string error;
    q5cli::DenoiseReport report;
    std::vector<std::uint8_t> output;
};

StreamRun runStream(GetFilterTableFn entry, q5cli::ByteSource &source, const q5cli::DenoiseSettings &settings) {
    StreamRun run;
    q5cli::Y4mReader reader(source, "stream");
    Y4mFormat format;
    if (!reader.readHeader(&format, &run.error)) return run;
    q5cli::MemorySink sink;
    q5cli::Y4mWriter writer(sink);
    run.ok = q5cli::denoiseStream(entry, settings, reader, format, writer, nullptr, nullptr,
                                  &run.report, &run.error);
    run.output = std::move(sink.bytes);
    return run;
}

q5cli::DenoiseSettings defaultSettings(bool mosquito) {
    q5cli::DenoiseSettings s = q5cli::DenoiseSettings::defaults();
    s.set(CheckBox::Fields, false);
    s.set(CheckBox::MosquitoNr, mosquito);
    s.threads = 2;
    return s;
}

TEST(DenoiseStream, HoldsAFewFramesOfALongStreamAndGivesEveryFrameBack) {
    const std::string header = "YUV4MPEG2 W16 H8 F25:1 Ip A1:1 C420jpeg XCOLORRANGE=LIMITED";
    const int frames = 1000;
    GeneratedStream source(header, frames);
    probeCalls.clear();
    const StreamRun run = runStream(&probeTable, source, defaultSettings(true));
    ASSERT_TRUE(run.ok) << run.error;
    EXPECT_EQ(run.report.frames, frames);
    EXPECT_LE(run.report.peakFramesHeld, 5);
    EXPECT_EQ(run.report.lateRequests, 0);

    // The probe passes frames through: the output is the input, parameters included.
    GeneratedStream again(header, frames);
    std::vector<std::uint8_t> expected;
    std::uint8_t chunk[4096];
    for (long n; (n = again.read(chunk, sizeof chunk)) > 0;) expected.insert(expected.end(), chunk, chunk + n);
    EXPECT_TRUE(run.output == expected);
}

TEST(DenoiseStream, TheFilterSeesTheTrueLengthNearTheEnd) {
    for (int frames : {1, 2, 3, 4, 5, 9}) {
        SCOPED_TRACE(testing::Message() << frames << " frames");
        GeneratedStream source("YUV4MPEG2 W8 H8 C444", frames);
        probeCalls.clear();
        const StreamRun run = runStream(&probeTable, source, defaultSettings(true));
        ASSERT_TRUE(run.ok) << run.error;
        ASSERT_EQ(static_cast<int>(probeCalls.size()), frames);
        for (int n = 0; n < frames; ++n) {
            EXPECT_EQ(probeCalls[n].frame, n);
            // The mirror of n + 1 and the mosquito pass's n + 2 depend on frame_n.
            if (n + 2 >= frames) {
                EXPECT_EQ(probeCalls[n].frameCount, frames) << "frame " << n;
            }
            EXPECT_GT(probeCalls[n].frameCount, n + 2 < frames ? n + 2 : n);
        }
        EXPECT_EQ(run.report.lateRequests, 0);
    }
}

TEST(DenoiseStream, AnEmptyStreamGivesTheHeaderAlone) {
    GeneratedStream source("YUV4MPEG2 W8 H8 C444 Xkeep", 0);
    const StreamRun run = runStream(&probeTable, source, defaultSettings(false));
    ASSERT_TRUE(run.ok) << run.error;
    EXPECT_EQ(std::string(run.output.begin(), run.output.end()), "YUV4MPEG2 W8 H8 C444 Xkeep\n");
}

TEST(DenoiseStream, AStreamThatBreaksOffStopsWithItsMessage) {
    auto stream = q5clitest::randomY4m("YUV4MPEG2 W8 H8 C420", 6, 1);
    stream.resize(stream.size() - 10);
    q5cli::MemorySource source(stream.data(), stream.size());
    const StreamRun run = runStream(&probeTable, source, defaultSettings(false));
    EXPECT_FALSE(run.ok);
    EXPECT_NE(run.error.find("frame 5 is truncated"), std::string::npos) << run.error;
}

TEST(DenoiseStream, TheRealFilterRunsALongStreamInAFewFrames) {
    // Every pass on, so the filter asks for the widest set of neighbours.
    q5cli::DenoiseSettings settings = defaultSettings(true);
    settings.set(CheckBox::Fields, true);
    settings.set(CheckBox::BlockNr, true);
    const int frames = 120;
    GeneratedStream source("YUV4MPEG2 W48 H32 F25:1 It C420mpeg2", frames);
    const StreamRun run = runStream(q5test::moduleEntry(), source, settings);
    ASSERT_TRUE(run.ok) << run.error;
    EXPECT_EQ(run.report.frames, frames);
    EXPECT_LE(run.report.peakFramesHeld, 5);
    EXPECT_EQ(run.report.lateRequests, 0);
    Y4mFormat format;
    std::vector<q5cli::Y4mFrame> out;
    std::string error;
    ASSERT_TRUE(q5clitest::parseY4m(run.output, &format, &out, &error)) << error;
    ASSERT_EQ(static_cast<int>(out.size()), frames);
    EXPECT_EQ(format.header, "YUV4MPEG2 W48 H32 F25:1 It C420mpeg2");
    for (int n = 0; n < frames; ++n) EXPECT_EQ(out[n].params, " Xn=" + std::to_string(n));
}

// The filter gives back black frames and TRUE when it has no memory for the frame
// size; the run ends there with advice, and nothing of the output is written.
TEST(DenoiseStream, AFilterShortOfMemoryEndsTheRunWithAdviceAndNoOutput) {
    q5cli::DenoiseSettings settings = defaultSettings(false);
    GeneratedStream source("YUV4MPEG2 W3840 H2160 F25:1 Ip C420jpeg", 3);
    failAllocationsFrom = 0;  // the filter's buffers for the new size, and all after
    const StreamRun run = runStream(q5test::linkedEntry(), source, settings);
    failAllocationsFrom = -1;
    EXPECT_FALSE(run.ok);
    EXPECT_NE(run.error.find("the filter could not process frame 0: not enough memory for 3840x2160 frames: a run "
                             "of five frames or more needs up to about "),
              std::string::npos)
        << run.error;
    EXPECT_NE(run.error.find(" MB at this size on 2 threads; try fewer threads"), std::string::npos) << run.error;
    EXPECT_TRUE(run.output.empty()) << run.output.size() << " bytes written";
}

// The advice's figure covers what the filter and the host allocate for the size, and
// not much more: it must follow the filter's working planes.
TEST(DenoiseStream, TheMemoryAdviceCoversTheFiltersBuffersAndTheHostsImages) {
    for (const auto &[w, h] : {std::pair{64, 32}, {720, 480}, {1280, 720}, {1920, 1080}, {2560, 1440},
                               {3840, 2160}, {4096, 2304}}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        Y4mFormat format;
        std::string error;
        ASSERT_TRUE(q5cli::parseY4mHeader("YUV4MPEG2 W" + std::to_string(w) + " H" + std::to_string(h) + " C420jpeg",
                                          &format, &error));
        const std::size_t filter = workBufferBytes(sizeClassFor((w + 15) & ~15, (h + 15) & ~15), 1);
        const std::size_t hostImages = 7 * static_cast<std::size_t>((w + 15) & ~15) * ((h + 15) & ~15) * 6;
        const std::size_t estimate = q5cli::runMemoryBytes(format, 1);
        EXPECT_GE(estimate, filter + hostImages);
        EXPECT_LE(estimate, filter + 2 * hostImages + 10 * format.frameBytes() + (std::size_t{100} << 20));
    }
}

}  // namespace
