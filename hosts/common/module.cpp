// Loading the filter module on Linux.
#include "common/module.h"

#include <dlfcn.h>

namespace q5host {

// ---- Module ------------------------------------------------------------------

std::unique_ptr<Module> Module::open(const std::string &path, std::string *error, bool apart) {
    void *handle = apart ? dlmopen(LM_ID_NEWLM, path.c_str(), RTLD_NOW | RTLD_LOCAL)
                         : dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        if (error) *error = dlerror();
        return nullptr;
    }
    void *entry = dlsym(handle, "GetFilterTable");
    if (!entry) {
        if (error) *error = path + ": no GetFilterTable export";
        dlclose(handle);
        return nullptr;
    }
    std::unique_ptr<Module> m(new Module());
    m->handle_ = handle;
    m->getFilterTable_ = reinterpret_cast<GetFilterTableFn>(entry);
    return m;
}

Module::~Module() {
    if (handle_) dlclose(handle_);
}

std::string defaultModulePath() {
#ifdef Q5_DEFAULT_MODULE_PATH
    return Q5_DEFAULT_MODULE_PATH;
#else
    return "quorvane5.so";
#endif
}

}  // namespace q5host
