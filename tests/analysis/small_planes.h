// Test fixture for the stages of the filter linked into the test program: working
// buffers of the smallest size class, the kernel tables of this processor's tier
// and default strengths, all the fixture's own, handed to the workers in the
// records they take (no module state is touched).
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "abi/settings.h"
#include "core/core.h"
#include "host/callbacks.h"

namespace q5test {

class SmallPlanes : public ::testing::Test {
public:
    static constexpr int kStride = 832;
    static constexpr int kRows = 512;

protected:
    void SetUp() override {
        ASSERT_TRUE(allocateWorkBuffers(buffers_, {kStride, kRows}));
        setStrengths(10, 10, 16, true, false);
    }
    void TearDown() override { releaseWorkBuffers(buffers_); }

    /// Derives the strengths from slider and check-box values as func_update would.
    void setStrengths(int tarnel, int low, int high, bool anime, bool fieldMode) {
        int track[kSliderCount] = {}, check[kCheckBoxCount] = {};
        track[indexOf(Slider::Tarnel)] = tarnel;
        track[indexOf(Slider::W2dnrL)] = low;
        track[indexOf(Slider::W2dnrH)] = high;
        track[indexOf(Slider::Rounding)] = settingOf(Slider::Rounding).defaultValue;
        check[indexOf(CheckBox::Fields)] = fieldMode ? 1 : 0;
        check[indexOf(CheckBox::Anime)] = anime ? 1 : 0;
        FILTER f{};
        f.track = track;
        f.check = check;
        strengths_ = strengthsFor(&f);
    }

    /// A host image of max_w = width + 16 pixels per row, and the fpip describing it.
    FILTER_PROC_INFO frameInfo(std::vector<PIXEL_YC> &image, int width, int height) {
        const int pitch = width + 16;
        image.assign(static_cast<std::size_t>(pitch) * height, PIXEL_YC{0, 0, 0});
        FILTER_PROC_INFO fi{};
        fi.ycp_edit = image.data();
        fi.w = width;
        fi.h = height;
        fi.max_w = pitch;
        fi.max_h = height;
        return fi;
    }

    /// What the driver hands a stage: these tables and buffers, no thread count noted.
    StageContext context() { return {&kernels_, &buffers_, nullptr}; }

    WorkBuffers buffers_{};
    KernelTables kernels_ = kernelTablesFor(kernelTier(detectCpuLevel()));
    NrStrengths strengths_{};
};

}  // namespace q5test
