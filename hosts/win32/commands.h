// The Windows test host's commands; each returns the process exit status.
#pragma once

#include <string>
#include <vector>

namespace q5win {

/// Loads the module and checks its export and descriptor.
int describeCommand(const std::string &modulePath);
/// Checks the structured-exception guard behind the processor check.
int guardCommand();
/// Runs a clip file through the module once per settings string
/// ("t0,t1,t2,t3,t4,t5/c0,c1,c2,c3,c4") and writes every output frame.
int runCommand(const std::string &modulePath, const std::string &clipPath,
               const std::string &outPath, int threads, const std::vector<std::string> &settings);
/// Times the module per frame with its AVX2 kernels and kept to SSE2 ones, in turn,
/// and checks that both ways give the same frames: the default settings, with
/// both pre-passes switched on if asked.
int fpsCommand(const std::string &modulePath, int threads, int width, int height, bool prepasses);
/// Builds a real settings window with an owner and checks the filter's part of it.
int windowCommand(const std::string &modulePath);

}  // namespace q5win
