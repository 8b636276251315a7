// `quorvane5 preview`: one frame of the user's clip before and after, as a picture,
// so settings can be judged without denoising the whole clip.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/command/options.h"
#include "cli/io/y4m.h"
#include "cli/session/filter_session.h"

namespace q5cli {

/// Frame n of a stream whose header has been read, and the filter's output for it.
/// Reads only the frames the filter needs around n: from a regular file it seeks over
/// the earlier ones, from a pipe it reads through them; either way it stops after the
/// last one needed (n + 1, or n + 2 with the mosquito pass, whose neighbours reach one
/// further). `frameCount` is the clip's length when its end was reached, else -1.
/// Messages begin with `name`, the input's name. A chooser gets the frames read (n + 2
/// is then read, whatever the settings) and may change the settings first.
struct PreviewResult {
    Y4mFrame before;
    std::vector<std::uint8_t> after;
    int frameCount = -1;
};
bool previewFrame(GetFilterTableFn entry, const DenoiseSettings &settings, ByteSource &source,
                  Y4mReader &reader, const Y4mFormat &format, int n, PreviewResult *result,
                  const std::string &name, std::string *error, const SettingsChooser &choose = {});

/// The preview command; the exit status.
int runPreview(const Options &options);

}  // namespace q5cli
