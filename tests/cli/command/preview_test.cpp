// The preview's one frame: the same bytes as that frame of a whole run, whether the
// frames before it are sought over in a file or read from a pipe, and no more of the
// stream read than the filter needs.
#include <gtest/gtest.h>

#include "cli/cli_support.h"
#include "cli/io/output_file.h"
#include "cli/command/preview.h"
#include "common/module.h"
#include "support/support.h"

namespace {

const std::string kHeader = "YUV4MPEG2 W96 H64 F25:1 Ip A1:1 C420jpeg";
constexpr int kFrames = 7;

q5cli::DenoiseSettings previewSettings(bool mosquito) {
    q5cli::DenoiseSettings s = q5cli::DenoiseSettings::defaults();
    s.set(Slider::Tarnel, 14);
    s.set(Slider::W2dnrL, 12);
    s.set(Slider::W2dnrH, 18);
    s.set(Slider::MosqNr, 20);
    s.set(Slider::BlockNr, 20);
    // Field off, anime on, both pre-passes (the mosquito pass reaches furthest), and no
    // rounding correction: its remainders carry from one frame to the next, which one
    // frame alone cannot reproduce.
    s.set(CheckBox::Fields, false);
    s.set(CheckBox::MosquitoNr, mosquito);
    s.set(CheckBox::BlockNr, true);
    s.set(CheckBox::Rounding, false);
    s.threads = 2;
    return s;
}

TEST(PreviewFrame, MatchesTheWholeRunFromAFileAndFromAPipe) {
    const auto clip = q5clitest::randomY4m(kHeader, kFrames, q5test::testSeed());
    SCOPED_TRACE(testing::Message() << "seed=" << q5test::testSeed());
    std::string error;
    auto module = q5host::Module::open(q5host::defaultModulePath(), &error);
    ASSERT_TRUE(module) << error;
    q5clitest::ScratchDir dir;
    q5clitest::writeBytes(dir.file("clip.y4m"), clip);

    for (const bool mosquito : {false, true}) {
        const q5cli::DenoiseSettings settings = previewSettings(mosquito);
        q5cli::MemorySource wholeSource(clip.data(), clip.size());
        q5cli::Y4mReader wholeReader(wholeSource, "clip");
        q5cli::Y4mFormat format;
        ASSERT_TRUE(wholeReader.readHeader(&format, &error));
        q5cli::MemorySink sink;
        q5cli::Y4mWriter writer(sink);
        std::vector<std::vector<std::uint8_t>> whole;
        ASSERT_TRUE(q5cli::denoiseStream(
            module->getFilterTable(), settings, wholeReader, format, writer,
            [&](int, const std::uint8_t *frame, std::string *) {
                whole.emplace_back(frame, frame + format.frameBytes());
                return true;
            },
            nullptr, nullptr, &error))
            << error;

        for (const bool file : {true, false})
            for (const int n : {0, 1, 3, kFrames - 2, kFrames - 1}) {
                SCOPED_TRACE(testing::Message() << "mosquito=" << mosquito << " file=" << file << " n=" << n);
                std::unique_ptr<q5cli::ByteSource> source =
                    file ? q5cli::openInput(dir.file("clip.y4m"), &error)
                         : std::make_unique<q5cli::MemorySource>(clip.data(), clip.size());
                q5cli::Y4mReader reader(*source, "clip");
                ASSERT_TRUE(reader.readHeader(&format, &error));
                q5cli::PreviewResult result;
                ASSERT_TRUE(q5cli::previewFrame(module->getFilterTable(), settings, *source, reader, format, n,
                                                &result, "clip", &error))
                    << error;
                EXPECT_EQ(result.after, whole[n]);
                EXPECT_EQ(result.frameCount, n + (mosquito ? 2 : 1) >= kFrames ? kFrames : -1);
            }
    }
}

TEST(PreviewFrame, ReadsNoFurtherThanTheFilterNeedsAndRefusesFramesBeyondTheEnd) {
    // Four frames, then bytes that are no frame: reading them would fail.
    auto stream = q5clitest::randomY4m(kHeader, 4, q5test::testSeed());
    const std::string junk = "not a frame\n";
    stream.insert(stream.end(), junk.begin(), junk.end());
    std::string error;
    auto module = q5host::Module::open(q5host::defaultModulePath(), &error);
    ASSERT_TRUE(module) << error;
    const auto preview = [&](int n, bool mosquito, std::string *message) {
        q5cli::MemorySource source(stream.data(), stream.size());
        q5cli::Y4mReader reader(source, "pipe");
        q5cli::Y4mFormat format;
        EXPECT_TRUE(reader.readHeader(&format, message));
        q5cli::PreviewResult result;
        return q5cli::previewFrame(module->getFilterTable(), previewSettings(mosquito), source, reader, format, n,
                                   &result, "pipe", message);
    };
    EXPECT_TRUE(preview(2, false, &error)) << error;
    EXPECT_TRUE(preview(1, true, &error)) << error;
    EXPECT_FALSE(preview(2, true, &error));

    const auto clip = q5clitest::randomY4m(kHeader, 3, q5test::testSeed());
    q5cli::MemorySource source(clip.data(), clip.size());
    q5cli::Y4mReader reader(source, "pipe");
    q5cli::Y4mFormat format;
    ASSERT_TRUE(reader.readHeader(&format, &error));
    q5cli::PreviewResult result;
    EXPECT_FALSE(q5cli::previewFrame(module->getFilterTable(), previewSettings(false), source, reader, format, 3,
                                     &result, "pipe", &error));
    EXPECT_EQ(error, "pipe: the clip has 3 frames (0 to 2); there is no frame 3");
}

}  // namespace
