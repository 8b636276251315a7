// The 32-bit Windows test host's module loading: quorvane5.auf opened as the editor
// opens it (LoadLibraryA, GetProcAddress "GetFilterTable"), then driven by the same
// host as the Linux tests' (common/host.h, Win32 worker threads behind
// exec_multi_thread_func), so that the two give the module the same input.
#pragma once

#include <memory>
#include <string>

#include "common/host.h"

namespace q5win {

class FilterModule {
public:
    /// Loads the module; check ok() and error() afterwards.
    explicit FilterModule(const std::string &path);
    ~FilterModule();
    FilterModule(const FilterModule &) = delete;
    FilterModule &operator=(const FilterModule &) = delete;

    bool ok() const { return entry_ != nullptr; }
    const std::string &error() const { return error_; }
    HMODULE handle() const { return module_; }

    /// A host driving the module, its descriptor filled in as the editor fills it:
    /// the module's instance, no window until the settings window exists. It must
    /// be destroyed before this object.
    std::unique_ptr<q5host::Host> host(int threads) const;

private:
    HMODULE module_ = nullptr;
    GetFilterTableFn entry_ = nullptr;
    std::string error_;
};

}  // namespace q5win
