// libFuzzer target: arbitrary bytes through the y4m reader and, for every frame it
// accepts, through the conversion to YC48 and back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/convert.h"
#include "cli/y4m.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    q5cli::MemorySource source(data, size);
    q5cli::Y4mReader reader(source, "fuzz");
    q5cli::Y4mFormat format;
    std::string error;
    if (!reader.readHeader(&format, &error)) return 0;
    const bool processable = q5cli::checkProcessable(format, &error);
    const q5cli::FrameConverter converter(format);
    q5cli::Y4mFrame frame;
    std::vector<PIXEL_YC> image;
    std::vector<std::uint8_t> out;
    for (int n = 0; n < 8; ++n) {
        if (reader.readFrame(format, &frame, &error) != q5cli::Y4mReader::Frame) break;
        if (!processable) continue;  // read on, as far as the reader takes it; the command stops at the header
        image.assign(static_cast<std::size_t>(format.width) * format.height, PIXEL_YC{0, 0, 0});
        converter.toYc48(frame.data.data(), frame.params, image.data(), format.width);
        out.assign(format.frameBytes(), 0);
        converter.fromYc48(image.data(), format.width, frame.params, out.data());
        // 8-bit codes come back as they were read.
        if (format.bits == 8 && out != frame.data) __builtin_trap();
    }
    return 0;
}
