// libFuzzer target for what the command does with untrusted input:
// - the bytes as a y4m stream through the reader and, for every frame it accepts,
//   through the conversion to YC48 and back, which must give every code back;
// - the bytes as a command line (one argument a line) through the option parser and
//   the settings' ranges;
// - the stream's frames around a frame number taken from its last four bytes, as
//   the preview reads them: read through as from a pipe and seeked over as in a file,
//   which must agree, at frame numbers up to the largest int.
#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "cli/command/options.h"
#include "cli/command/strength.h"
#include "cli/io/output_file.h"
#include "cli/io/y4m.h"
#include "cli/picture/convert.h"
#include "cli/picture/preview_window.h"

namespace {

void readAndConvert(const std::uint8_t *data, std::size_t size) {
    q5cli::MemorySource source(data, size);
    q5cli::Y4mReader reader(source, "fuzz");
    q5cli::Y4mFormat format;
    std::string error;
    if (!reader.readHeader(&format, &error)) return;
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
}

void parseCommandLine(const std::uint8_t *data, std::size_t size) {
    if (size == 0) return;
    std::vector<std::string> args;
    const char *text = reinterpret_cast<const char *>(data);
    for (std::size_t at = 0; at <= size && args.size() < 24;) {
        const void *nl = std::memchr(text + at, '\n', size - at);
        const std::size_t end = nl ? static_cast<const char *>(nl) - text : size;
        args.emplace_back(text + at, end - at);
        at = end + 1;
    }
    q5cli::Options options;
    std::string error;
    if (!q5cli::parseOptions(args, &options, &error)) {
        if (error.empty()) __builtin_trap();  // a refusal always says why
        return;
    }
    if (options.threads < 0 || options.threads > 16 || options.frame < 0) __builtin_trap();
    // The ranges as shipped: a value given is refused or kept, never bent.
    SettingColumns columns = settingColumns();
    const int *low = columns.sliderMinimums, *high = columns.sliderMaximums;
    FILTER descriptor{};
    describeSettings(descriptor, columns);
    if (!q5cli::checkSettings(options, descriptor, &error)) {
        if (error.empty()) __builtin_trap();
        return;
    }
    q5cli::Y4mFormat format;
    if (!q5cli::parseY4mHeader(data[0] & 1 ? "YUV4MPEG2 W8 H8 It C420p10" : "YUV4MPEG2 W8 H8 Ip C420jpeg", &format,
                               &error))
        __builtin_trap();
    const q5cli::DenoiseSettings settings = q5cli::resolveSettings(options, descriptor, format);
    // The command's own bound, past the editor's slider for the strengths.
    int most[kSliderCount];
    for (const SliderSetting &s : kSliders)
        most[indexOf(s.slider)] = q5cli::commandMaximum(s.slider, high[indexOf(s.slider)]);
    for (int i = 0; i < kSliderCount; ++i)
        if (settings.track[i] < low[i] || settings.track[i] > most[i] ||
            (options.sliders[i].given && settings.track[i] != options.sliders[i].value))
            __builtin_trap();
    for (int i = 0; i < kCheckBoxCount; ++i)
        if (settings.check[i] != 0 && settings.check[i] != 1) __builtin_trap();
}

struct Window {
    bool ok = false;
    q5cli::PreviewFrames frames;
    std::string error;
};

// The preview's frames from a source whose header `reader` reads first.
Window previewFrames(q5cli::ByteSource &source, int n, int reach) {
    Window w;
    q5cli::Y4mReader reader(source, "clip");
    q5cli::Y4mFormat format;
    if (!reader.readHeader(&format, &w.error)) return w;
    w.ok = q5cli::readPreviewFrames(source, reader, format, n, reach, "clip", &w.frames, &w.error);
    if (w.ok != w.error.empty() && w.ok) __builtin_trap();
    if (!w.ok) {
        if (w.error.compare(0, 4, "clip") != 0 && w.error.find("clip") == std::string::npos) __builtin_trap();
        return w;
    }
    // Frame n and its neighbours that the clip has, in order, each whole.
    const auto &held = w.frames.held;
    if (!held.count(n)) __builtin_trap();
    const long long first = n - reach < 0 ? 0 : static_cast<long long>(n) - reach;
    long long last = static_cast<long long>(n) + reach;
    if (last > INT_MAX) last = INT_MAX;
    if (w.frames.count >= 0 && last > w.frames.count - 1) last = w.frames.count - 1;
    if (static_cast<long long>(held.size()) != last - first + 1 || held.begin()->first != first) __builtin_trap();
    for (const auto &[k, frame] : held)
        if (frame.data.size() != format.frameBytes()) __builtin_trap();
    return w;
}

void readAroundAFrame(const std::uint8_t *data, std::size_t size) {
    if (size < 4) return;
    std::uint32_t raw;
    std::memcpy(&raw, data + size - 4, 4);
    // Small numbers mostly, and the top of the int range.
    const int n = raw & 0x80000000u ? static_cast<int>(raw & 0x7FFFFFFFu) : static_cast<int>(raw % 16);
    const int reach = 1 + (raw >> 4 & 1);
    {
        // Frames of a megabyte at most: the rest is the reader's business above.
        q5cli::MemorySource probe(data, size);
        q5cli::Y4mReader reader(probe, "clip");
        q5cli::Y4mFormat format;
        std::string error;
        if (!reader.readHeader(&format, &error) || format.frameBytes() > (1u << 20)) return;
    }
    q5cli::MemorySource pipe(data, size);
    const Window read = previewFrames(pipe, n, reach);
    static const int fd = memfd_create("clip", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size) ||
        lseek(fd, 0, SEEK_SET) != 0)
        __builtin_trap();
    q5cli::FdSource file(fd);
    const Window seeked = previewFrames(file, n, reach);
    // Seeking over frames by their markers finds what reading through them finds.
    if (read.ok != seeked.ok) __builtin_trap();
    if (!read.ok) return;
    if (read.frames.held.size() != seeked.frames.held.size()) __builtin_trap();
    for (auto a = read.frames.held.begin(), b = seeked.frames.held.begin(); a != read.frames.held.end(); ++a, ++b)
        if (a->first != b->first || a->second.data != b->second.data || a->second.params != b->second.params)
            __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    readAndConvert(data, size);
    parseCommandLine(data, size);
    readAroundAFrame(data, size);
    return 0;
}
