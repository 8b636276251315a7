// Text on the pictures, drawn by cairo in a sans-serif face that fontconfig finds
// ("DejaVu Sans" where installed, else its nearest match), so the command works
// with whatever fonts the system has.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace q5cli {

struct TextStyle {
    double size = 14;  // pixels
    bool bold = false;
};

/// How wide a line of text (UTF-8) comes out, in whole pixels.
int textWidth(const std::string &text, const TextStyle &style);
/// The height of a line of text: ascent plus descent, in whole pixels.
int lineHeight(const TextStyle &style);

struct Label {
    std::string text;
    int centreX = 0, top = 0;  // the line's horizontal centre and its top edge
    TextStyle style;
};

/// Draws the labels in dark grey onto an RGB picture (3 bytes a pixel, packed rows).
/// False, with the picture untouched, when cairo cannot draw.
bool drawLabels(std::vector<std::uint8_t> &rgb, int width, int height, const std::vector<Label> &labels);

}  // namespace q5cli
