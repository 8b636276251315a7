// Finding and loading the filter module.
#include "cli/session/filter_module.h"

#include <climits>
#include <cstdlib>

#include <unistd.h>

namespace q5cli {

std::string findModule(const std::string &given) {
    // A bare file name means the current folder, not the loader's library path.
    if (!given.empty()) return given.find('/') == std::string::npos ? "./" + given : given;
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return q5host::defaultModulePath();
    const std::string program(exe, static_cast<std::size_t>(n));
    const std::string dir = program.substr(0, program.rfind('/'));
    // Relative to the program, so that an installed tree still works once moved.
    const std::string beside = dir + "/quorvane5.so";
    const std::string installed = dir.substr(0, dir.rfind('/')) + "/lib/quorvane5/quorvane5.so";
    for (const std::string &path : {beside, installed})
        if (access(path.c_str(), R_OK) == 0) return path;
    // The module built along serves only programs run from the build tree: an installed
    // command that lost its module says so rather than quietly running another one.
#ifdef Q5_BUILD_TREE
    char tree[PATH_MAX];
    if (realpath(Q5_BUILD_TREE, tree) && (dir + "/").rfind(std::string(tree) + "/", 0) == 0)
        return q5host::defaultModulePath();
#endif
    return installed;
}

bool loadModule(const std::string &given, LoadedFilter *filter, std::string *error) {
    filter->path = findModule(given);
    filter->module = q5host::Module::open(filter->path, error);
    if (!filter->module) return false;
    filter->descriptor = filter->entry()();
    if (!filter->descriptor) {
        *error = "the filter module " + filter->path + " gave no filter";
        return false;
    }
    return true;
}

}  // namespace q5cli
