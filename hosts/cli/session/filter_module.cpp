// Finding and loading the filter module.
#include "cli/session/filter_module.h"

#include <unistd.h>

namespace q5cli {

std::string findModule(const std::string &given) {
    if (!given.empty()) return given;
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        std::string path(exe, static_cast<std::size_t>(n));
        path = path.substr(0, path.rfind('/') + 1) + "quorvane5.so";
        if (access(path.c_str(), R_OK) == 0) return path;
    }
    return q5host::defaultModulePath();
}

bool loadModule(const std::string &given, LoadedFilter *filter, std::string *error) {
    filter->path = findModule(given);
    std::string why;
    filter->module = q5host::Module::open(filter->path, &why);
    if (!filter->module) {
        *error = "cannot load the filter module: " + why;
        return false;
    }
    filter->descriptor = filter->entry()();
    if (!filter->descriptor) {
        *error = "the filter module " + filter->path + " gave no filter";
        return false;
    }
    return true;
}

}  // namespace q5cli
