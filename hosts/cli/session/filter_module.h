// The filter module the command drives: found beside the program or given, loaded,
// and its descriptor taken.
#pragma once

#include <memory>
#include <string>

#include "common/module.h"

namespace q5cli {

/// The module to load: `given` (--module; a bare name in the current folder), else
/// quorvane5.so beside the program, else ../lib/quorvane5/quorvane5.so from it as
/// installed, else, for a program in the build tree, the module built with it.
std::string findModule(const std::string &given);

struct LoadedFilter {
    std::string path;
    std::unique_ptr<q5host::Module> module;
    const FILTER *descriptor = nullptr;
    GetFilterTableFn entry() const { return module->getFilterTable(); }
};

/// Loads the module findModule(given) names; false with the loader's message if it
/// cannot be loaded, or with one of ours if it gives no filter.
bool loadModule(const std::string &given, LoadedFilter *filter, std::string *error);

}  // namespace q5cli
