// libFuzzer target: arbitrary bytes through the y4m reader and, for every frame it
// accepts, through the conversion to YC48 and back, which must give every code back.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/picture/convert.h"
#include "cli/io/y4m.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    q5cli::MemorySource source(data, size);
    q5cli::Y4mReader reader(source, "fuzz");
    q5cli::Y4mFormat format;
    std::string error;
    if (!reader.readHeader(&format, &error)) return 0;
    // The command converts only what the filter can carry, and so does this.
    std::optional<q5cli::FrameConverter> converter;
    if (q5cli::checkProcessable(format, &error)) converter.emplace(format);
    q5cli::Y4mFrame frame;
    std::vector<PIXEL_YC> image;
    std::vector<std::uint8_t> out;
    for (int n = 0; n < 8; ++n) {
        if (reader.readFrame(format, &frame, &error) != q5cli::Y4mReader::Frame) break;
        if (!converter) continue;  // read on, as far as the reader takes it
        image.assign(static_cast<std::size_t>(format.width) * format.height, PIXEL_YC{0, 0, 0});
        converter->toYc48(frame.data.data(), frame.params, image.data(), format.width);
        out.assign(format.frameBytes(), 0);
        converter->fromYc48(image.data(), format.width, frame.params, out.data(), frame.data.data());
        // Every code comes back as it was read (clamped to the depth's largest).
        std::vector<std::uint8_t> expected = frame.data;
        for (std::size_t i = 0; format.bits > 8 && i + 1 < expected.size(); i += 2)
            if ((expected[i] | expected[i + 1] << 8) > format.maxCode()) {
                expected[i] = static_cast<std::uint8_t>(format.maxCode());
                expected[i + 1] = static_cast<std::uint8_t>(format.maxCode() >> 8);
            }
        if (out != expected) __builtin_trap();
    }
    return 0;
}
