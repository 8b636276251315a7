// Loading the filter module on Linux (dlopen), for the tests, the benchmarks and the
// command, which then drive it through the editor's side of the interface
// (common/host.h). The Windows test host loads it its own way (LoadLibraryA).
#pragma once

#include <memory>
#include <string>

#include "common/host.h"

namespace q5host {

/// Opens a module file (dlopen) and returns its GetFilterTable, or null with a message.
/// `apart`: in a link namespace of its own (dlmopen), so that a module already loaded
/// from the same file gets a second instance with globals of its own.
class Module {
public:
    static std::unique_ptr<Module> open(const std::string &path, std::string *error, bool apart = false);
    ~Module();
    GetFilterTableFn getFilterTable() const { return getFilterTable_; }

private:
    Module() = default;
    void *handle_ = nullptr;
    GetFilterTableFn getFilterTable_ = nullptr;
};

/// Path of the module built beside the tests and the command-line program.
std::string defaultModulePath();

}  // namespace q5host
