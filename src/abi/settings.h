// The six sliders and five check boxes by name: their places in the host's track
// and check arrays, in the order the descriptor lists them.
#pragma once

#include "abi/host_api.h"

enum class Slider : int {
    Tarnel = 0,    // temporal threshold
    W2dnrL = 1,    // wavelet coring, low end
    W2dnrH = 2,    // wavelet coring, high end
    MosqNr = 3,    // mosquito pre-pass strength
    BlockNr = 4,   // block pre-pass strength
    Rounding = 5,  // rounding correction strength
};

enum class CheckBox : int {
    Fields = 0,      // per-field processing
    Anime = 1,       // full strength for animation (off halves every threshold)
    MosquitoNr = 2,  // mosquito pre-pass
    BlockNr = 3,     // block pre-pass
    Rounding = 4,    // rounding correction
};

inline int sliderValue(const FILTER *fp, Slider s) noexcept { return fp->track[static_cast<int>(s)]; }

/// A check box counts as on only when its value is exactly 1.
inline bool checkOn(const FILTER *fp, CheckBox c) noexcept { return fp->check[static_cast<int>(c)] == 1; }
