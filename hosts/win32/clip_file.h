// A plain file of YC48 frames, shared by the Windows test host and the Linux
// tests that compare with it: the magic "Q5YC", then width, height and frame
// count as little-endian 32-bit integers, then the frames, each width x height
// pixels of y, cb, cr as little-endian 16-bit integers, rows packed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "abi/host_api.h"

namespace q5clip {

struct ClipFile {
    int width = 0, height = 0;
    std::vector<std::vector<PIXEL_YC>> frames;
};

namespace detail {

inline void putInt(std::vector<unsigned char> &out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

inline std::uint32_t getInt(const unsigned char *p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace detail

/// Writes the clip; false if the file cannot be written or a frame has the wrong size.
inline bool writeClipFile(const std::string &path, const ClipFile &clip) {
    const std::size_t pixels = static_cast<std::size_t>(clip.width) * clip.height;
    std::vector<unsigned char> bytes = {'Q', '5', 'Y', 'C'};
    detail::putInt(bytes, static_cast<std::uint32_t>(clip.width));
    detail::putInt(bytes, static_cast<std::uint32_t>(clip.height));
    detail::putInt(bytes, static_cast<std::uint32_t>(clip.frames.size()));
    bytes.reserve(bytes.size() + clip.frames.size() * pixels * 6);
    for (const auto &frame : clip.frames) {
        if (frame.size() != pixels) return false;
        for (const PIXEL_YC &p : frame)
            for (std::int16_t v : {p.y, p.cb, p.cr}) {
                bytes.push_back(static_cast<unsigned char>(v & 0xFF));
                bytes.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
            }
    }
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

/// Reads a clip; false (and the reason in error) if the file is missing or malformed.
inline bool readClipFile(const std::string &path, ClipFile &clip, std::string *error = nullptr) {
    auto fail = [&](const char *why) {
        if (error) *error = path + ": " + why;
        return false;
    };
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return fail("cannot open");
    std::vector<unsigned char> bytes;
    unsigned char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
        bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(f);
    if (bytes.size() < 16 || bytes[0] != 'Q' || bytes[1] != '5' || bytes[2] != 'Y' || bytes[3] != 'C')
        return fail("not a Q5YC clip");
    const std::uint32_t w = detail::getInt(&bytes[4]), h = detail::getInt(&bytes[8]),
                        n = detail::getInt(&bytes[12]);
    if (w == 0 || h == 0 || w > 8192 || h > 8192 || n > 100000) return fail("bad header");
    const std::size_t pixels = static_cast<std::size_t>(w) * h;
    if (bytes.size() != 16 + pixels * 6 * n) return fail("size does not match the header");
    clip.width = static_cast<int>(w);
    clip.height = static_cast<int>(h);
    clip.frames.assign(n, std::vector<PIXEL_YC>(pixels));
    const unsigned char *p = bytes.data() + 16;
    for (auto &frame : clip.frames)
        for (PIXEL_YC &px : frame) {
            std::int16_t v[3];
            for (std::int16_t &c : v) {
                c = static_cast<std::int16_t>(p[0] | p[1] << 8);
                p += 2;
            }
            px = {v[0], v[1], v[2]};
        }
    return true;
}

}  // namespace q5clip
