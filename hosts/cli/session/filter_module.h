// The filter module the command drives: found beside the program or given, loaded,
// and its descriptor taken.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/module.h"

namespace q5cli {

/// The places the module is looked for, in order: `given` alone (--module; a bare
/// name in the current folder); else quorvane5.so beside the program, then
/// ../lib/quorvane5/quorvane5.so from it as installed, then, for a program in the
/// build tree, the module built with it.
std::vector<std::string> modulePlaces(const std::string &given);

/// The first of modulePlaces(given) that exists, else the last of them.
std::string findModule(const std::string &given);

/// Whether the file is a whole ELF object: its header and every segment and section
/// table it declares lie within the file. A damaged one would be mapped and fault
/// (SIGBUS) when run, rather than refused by the loader. False with a message.
bool isWholeElfFile(const std::string &path, std::string *error);

struct LoadedFilter {
    std::string path;
    std::unique_ptr<q5host::Module> module;
    const FILTER *descriptor = nullptr;
    GetFilterTableFn entry() const { return module->getFilterTable(); }
};

/// Loads the module findModule(given) names; false with the loader's message if it
/// cannot be loaded (naming every place looked in when none holds one), or with one
/// of ours if it is damaged or gives no filter.
bool loadModule(const std::string &given, LoadedFilter *filter, std::string *error);

}  // namespace q5cli
