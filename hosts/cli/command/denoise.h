// The denoise command: INPUT OUTPUT, with --reference, --stats and the rest.
#pragma once

#include "cli/command/options.h"

namespace q5cli {

/// Input, reference and settings checked and the filter loaded before the output is
/// opened; then every frame through the filter, with progress, a summary and metrics.
/// Returns the exit status.
int runDenoiseCommand(const Options &options);

}  // namespace q5cli
