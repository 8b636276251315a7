// The calls the filter made to the platform layer, as the tests' recording version
// of it keeps them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

/// One recorded call: its name, its integer and handle arguments in order, and its
/// text arguments converted to UTF-8.
struct PlatformCall {
    std::string name;
    std::vector<std::intptr_t> args;
    std::vector<std::string> texts;
};
std::vector<PlatformCall> &platformCalls() noexcept;
