// The whole filter on 4K pictures, where the planes are wider and taller than any of
// the three fixed classes and every split and kernel table meets new strides.
#include <gtest/gtest.h>

#include <vector>

#include "abi/settings.h"
#include "core/core.h"
#include "support/support.h"
#include "temporal/temporal.h"
#include "wavelet/sample_conversion.h"
#include "wavelet/wavelet.h"

namespace {

using q5test::Frames;
using q5test::samePictures;

// Under the sanitizers (unoptimised, many times slower) one 4K frame on one thread
// and on sixteen: enough to see every split's memory use at the new strides.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kLight = true;
#else
constexpr bool kLight = false;
#endif

Frames runFrames(q5host::Host &host, const q5test::Clip &clip) {
    host.setClip(clip.info(), clip.source());
    host.update();  // a fresh ring
    return q5test::runClip(host, clip);
}

}  // namespace

// Every split on the 4K strides: one thread is the reference, and 2, 3, 8 and 16
// threads must give the same bytes (the rounding correction left out: its carry
// follows its split). The kernel tables' agreement is the kernel tests' and the
// golden clips' on every tier.
TEST(UhdOutput, IsIdenticalForEveryThreadCount) {
    q5host::Host host(q5test::linkedEntry(), 1);
    host.init();
    host.setCheck(CheckBox::Rounding, 0);
    // UHD per field with the wavelet stages alone; DCI 4K per frame with both
    // pre-passes (their row splits, and the mosquito strength of 90).
    const struct {
        int w, h, frames;
        bool fieldMode, prepasses;
    } sizes[] = {{3840, 2160, kLight ? 1 : 3, true, false}, {4096, 2160, 2, false, true}};
    for (const auto &size : sizes) {
        if (kLight && size.w != 3840) continue;
        SCOPED_TRACE(testing::Message() << size.w << "x" << size.h);
        host.setCheck(CheckBox::Fields, size.fieldMode ? 1 : 0);
        host.setCheck(CheckBox::MosquitoNr, size.prepasses ? 1 : 0);
        host.setCheck(CheckBox::BlockNr, size.prepasses ? 1 : 0);
        const q5test::Clip clip = q5test::randomClip(size.w, size.h, size.frames, q5test::testSeed());
        host.setThreads(1);
        const Frames reference = runFrames(host, clip);
        for (int threads : {2, 3, 8, 16}) {
            if (kLight && threads != 16) continue;
            SCOPED_TRACE(testing::Message() << threads << " threads");
            host.setThreads(threads);
            EXPECT_TRUE(samePictures(reference, runFrames(host, clip)));
        }
    }
}

// With every strength at 0, no pre-pass and no rounding, a 4K frame comes back as it
// went in (chroma as the filter carries it: one value per pixel pair), as in the
// smaller classes.
TEST(UhdOutput, TransparentSettingsGiveThePictureBack) {
    q5host::Host host(q5test::moduleEntry(), 2);
    host.init();
    for (int i = 0; i < kSliderCount; ++i) host.setTrack(i, 0);
    host.setCheck(CheckBox::Fields, 0);
    host.setCheck(CheckBox::Rounding, 0);
    const q5test::Clip clip = q5test::randomClip(3840, 2160, 1, q5test::testSeed() + 1);
    const Frames out = runFrames(host, clip);
    const auto &in = clip.frames[0];
    for (std::size_t i = 0; i < in.size(); ++i) {
        const PIXEL_YC chroma = in[i & ~std::size_t{1}];  // 3840 is even: pairs never straddle a row
        const PIXEL_YC o = out[0][i];
        ASSERT_TRUE(o.y == floatToSample(in[i].y) && o.cb == floatToSample(chroma.cb) &&
                    o.cr == floatToSample(chroma.cr))
            << "x " << i % 3840 << " y " << i / 3840 << ": " << o.y << " " << o.cb << " " << o.cr;
    }
}

// A 4K frame between two runs of a 1080p clip: the second run, after the
// reallocation back to the fixed class, gives the bytes of a run that never saw 4K
// (the rounding correction and its carried remainders included).
TEST(UhdOutput, AfterA4kFrameA1080pClipGivesItsOwnBytes) {
    const q5test::Clip hd = q5test::randomClip(1920, 1080, 3, q5test::testSeed() + 2);
    const q5test::Clip uhd = q5test::randomClip(3840, 2160, 1, q5test::testSeed() + 3);
    q5host::Host fresh(q5test::moduleEntry(), 2);
    fresh.init();
    const Frames never = runFrames(fresh, hd);

    q5host::Host host(q5test::moduleEntry(), 2);
    host.init();
    runFrames(host, hd);
    const Frames big = runFrames(host, uhd);
    bool processed = false;
    for (const PIXEL_YC &p : big[0]) processed |= p.y != 0;
    ASSERT_TRUE(processed) << "the 4K frame came back black";
    EXPECT_TRUE(samePictures(never, runFrames(host, hd)));
}
