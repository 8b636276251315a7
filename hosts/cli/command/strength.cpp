// The command's range for the strength sliders and how a run names values past the
// editor's.
#include "cli/command/strength.h"

#include <algorithm>

namespace q5cli {

bool extendsPastEditor(Slider s) { return s != Slider::Rounding; }

int commandMaximum(Slider s, int editorMaximum) {
    return extendsPastEditor(s) ? std::max(editorMaximum, kCommandStrengthMaximum) : editorMaximum;
}

std::string pastEditorRange(const DenoiseSettings &settings, const FILTER &descriptor) {
    std::string text;
    for (const SliderSetting &s : kSliders) {
        const int value = settings.slider(s.slider);
        if (value <= descriptor.track_e[indexOf(s.slider)]) continue;
        text += (text.empty() ? "--" : ", --") + std::string(s.name) + " " + std::to_string(value);
    }
    return text;
}



}  // namespace q5cli
