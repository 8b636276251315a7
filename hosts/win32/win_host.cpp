// Loading quorvane5.auf as the editor does.
#include "win32/win_host.h"

#include <stdexcept>

namespace q5win {

FilterModule::FilterModule(const std::string &path) {
    module_ = LoadLibraryA(path.c_str());
    if (!module_) {
        error_ = path + ": LoadLibraryA failed, error " + std::to_string(GetLastError());
        return;
    }
    auto entry = reinterpret_cast<GetFilterTableFn>(
        reinterpret_cast<void *>(GetProcAddress(module_, "GetFilterTable")));
    if (!entry) {
        error_ = path + ": no GetFilterTable export";
        return;
    }
    // The host checks the descriptor again; here its faults become a message.
    try {
        q5host::Host probe(entry, 1);
    } catch (const std::exception &e) {
        error_ = path + ": " + e.what();
        return;
    }
    entry_ = entry;
}

FilterModule::~FilterModule() {
    if (module_) FreeLibrary(module_);
}

std::unique_ptr<q5host::Host> FilterModule::host(int threads) const {
    auto host = std::make_unique<q5host::Host>(entry_, threads);
    host->filter()->dll_hinst = module_;
    host->filter()->hwnd = nullptr;
    return host;
}

}  // namespace q5win
