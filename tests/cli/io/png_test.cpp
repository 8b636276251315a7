// The PNG writer, checked by decoding with Python's zlib and undoing the row filters
// there: every pixel must come back.
#include <gtest/gtest.h>

#include <cstdlib>

#include "cli/cli_support.h"
#include "cli/io/png.h"
#include "support/support.h"

namespace {

TEST(EncodePng, DecodesToTheSamePixelsWithAnIndependentDecoder) {
    if (std::system("command -v python3 >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3 is not installed";
    // Flat areas and repeats, gradients (the predicting filters) and noise, in a picture
    // whose rows are long.
    const int width = 3000, height = 40;
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    std::uint32_t state = q5test::testSeed() | 1;
    SCOPED_TRACE(testing::Message() << "seed=" << q5test::testSeed());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                state ^= state << 13, state ^= state >> 17, state ^= state << 5;
                const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3 + c;
                rgb[i] = x < 700    ? static_cast<std::uint8_t>(40 * c + 7)
                         : x < 1400 ? static_cast<std::uint8_t>(x / 3 + y * 2 + c)
                         : x < 2200 ? static_cast<std::uint8_t>(state >> 24)
                                    : static_cast<std::uint8_t>((x % 37) * 5 + (y % 3) + c);
            }
    q5clitest::ScratchDir dir;
    q5clitest::writeBytes(dir.file("p.png"), q5cli::encodePng(width, height, rgb));
    const q5clitest::CliRun run = q5clitest::runShell(
        "python3 - '" + dir.file("p.png") + "' '" + dir.file("p.rgb") + "' >&2 <<'EOF'\n" R"(import struct, sys, zlib
data = open(sys.argv[1], 'rb').read()
pos, idat = 8, b''
while pos < len(data):
    length, = struct.unpack('>I', data[pos:pos + 4])
    kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + length]
    assert zlib.crc32(kind + body) == struct.unpack('>I', data[pos + 8 + length:pos + 12 + length])[0], kind
    if kind == b'IHDR': width, height = struct.unpack('>II', body[:8])
    if kind == b'IDAT': idat += body
    pos += 12 + length
raw, row, out, up = zlib.decompress(idat), 3 * width, bytearray(), bytearray(3 * width)
for y in range(height):
    kind, line = raw[y * (row + 1)], bytearray(raw[y * (row + 1) + 1:(y + 1) * (row + 1)])
    for i in range(row):
        a, b, c = (line[i - 3] if i >= 3 else 0), up[i], (up[i - 3] if i >= 3 else 0)
        p = a + b - c
        pred = [0, a, b, (a + b) // 2, a if abs(p - a) <= abs(p - b) and abs(p - a) <= abs(p - c) else b if abs(p - b) <= abs(p - c) else c][kind]
        line[i] = (line[i] + pred) & 255
    out += line
    up = line
open(sys.argv[2], 'wb').write(out)
)" "EOF\n");
    ASSERT_EQ(run.status, 0) << run.errText;
    EXPECT_TRUE(q5clitest::readBytes(dir.file("p.rgb")) == rgb);
}

}  // namespace
