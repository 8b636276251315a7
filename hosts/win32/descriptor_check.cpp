// Checks what only the Windows module can show: the editor finds the one
// undecorated export through GetProcAddress, and the descriptor it returns reads
// right through the 32-bit record (its counts, name and information, every pointer
// where the host looks). The record's contents, from the same sources in both
// builds, are the descriptor tests' (tests/host/descriptor_test.cpp).
#include <cstring>
#include <string>

#include "abi/host_api.h"
#include "abi/settings.h"
#include "win32/checks.h"
#include "win32/commands.h"

namespace q5win {

namespace {

std::string str(const char *s) { return s ? std::string(s) : std::string("(null)"); }

}  // namespace

int describeCommand(const std::string &modulePath) {
    Checks checks("descriptor");
    HMODULE module = LoadLibraryA(modulePath.c_str());
    if (!checks.expect(module != nullptr, "LoadLibraryA(" + modulePath + ")")) return checks.finish();

    auto entry = reinterpret_cast<GetFilterTableFn>(
        reinterpret_cast<void *>(GetProcAddress(module, "GetFilterTable")));
    checks.expect(entry != nullptr, "GetProcAddress(\"GetFilterTable\")");
    // The stdcall decorations must not be exported beside the plain name.
    checks.expect(GetProcAddress(module, "GetFilterTable@0") == nullptr, "no export GetFilterTable@0");
    checks.expect(GetProcAddress(module, "_GetFilterTable@0") == nullptr,
                  "no export _GetFilterTable@0");
    if (!entry) {
        FreeLibrary(module);
        return checks.finish();
    }

    FILTER_DLL *fp = entry();
    if (!checks.expect(fp != nullptr, "GetFilterTable returns a descriptor")) {
        FreeLibrary(module);
        return checks.finish();
    }
    checks.expect(entry() == fp, "GetFilterTable returns the same descriptor every time");
    checks.expectEq(fp->flag, 0x00080000, "flag");
    checks.expectEq(fp->x, 0, "x");
    checks.expectEq(fp->y, 0, "y");
    checks.expectEq(str(fp->name), std::string("Quorvane5"), "name");
    checks.expectEq(fp->track_n, kSliderCount, "track_n");
    checks.expectEq(fp->check_n, kCheckBoxCount, "check_n");
    checks.expect(fp->track_name && fp->track_default && fp->track_s && fp->track_e, "slider tables present");
    checks.expect(fp->check_name && fp->check_default, "check-box tables present");
    checks.expect(fp->func_proc && fp->func_init && fp->func_exit && fp->func_update && fp->func_WndProc &&
                      fp->func_save_start,
                  "the callbacks present");
    checks.expect(fp->track == nullptr && fp->check == nullptr, "track and check left to the host");
    checks.expect(fp->ex_data_ptr == nullptr && fp->ex_data_size == 0, "no extra saved data");
    checks.expect(fp->exfunc == nullptr && fp->hwnd == nullptr && fp->dll_hinst == nullptr,
                  "exfunc, hwnd and dll_hinst left to the host");
    checks.expect(fp->ex_data_def == nullptr && fp->dll_path == nullptr, "ex_data_def and dll_path null");
    checks.expect(fp->reserve[0] == 0 && fp->reserve[1] == 0, "reserved words zero");
    checks.expect(fp->information && std::strncmp(fp->information, "Quorvane5", 9) == 0,
                  "information names the filter: " + str(fp->information));
    FreeLibrary(module);
    return checks.finish();
}

}  // namespace q5win
