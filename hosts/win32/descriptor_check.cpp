// Checks what the editor sees when it loads the module: the one undecorated
// export and the descriptor it returns, with every label in Shift_JIS bytes.
#include <cstring>
#include <string>

#include "abi/host_api.h"
#include "abi/settings.h"
#include "win32/checks.h"
#include "win32/commands.h"

namespace q5win {

namespace {

std::string str(const char *s) { return s ? std::string(s) : std::string("(null)"); }

// Built by appending: GCC 12 warns falsely about literal + std::string at -O3.
std::string numbered(const char *prefix, int i) {
    std::string s(prefix);
    s += std::to_string(i);
    return s;
}

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
    // The settings table's labels (Shift_JIS bytes), defaults and ranges.
    if (checks.expectEq(fp->track_n, kSliderCount, "track_n") && fp->track_name && fp->track_default &&
        fp->track_s && fp->track_e) {
        for (int i = 0; i < kSliderCount; ++i) {
            const std::string which = numbered("slider ", i);
            checks.expectEq(str(fp->track_name[i]), std::string(kSliders[i].label), which + " label");
            checks.expectEq(fp->track_default[i], kSliders[i].defaultValue, which + " default");
            checks.expectEq(fp->track_s[i], kSliders[i].minimum, which + " minimum");
            checks.expectEq(fp->track_e[i], kSliders[i].maximum, which + " maximum");
        }
    } else {
        checks.expect(false, "slider tables present");
    }
    if (checks.expectEq(fp->check_n, kCheckBoxCount, "check_n") && fp->check_name && fp->check_default) {
        for (int i = 0; i < kCheckBoxCount; ++i) {
            const std::string which = numbered("check box ", i);
            checks.expectEq(str(fp->check_name[i]), std::string(kCheckBoxes[i].label), which + " label");
            checks.expectEq(fp->check_default[i], kCheckBoxes[i].defaultValue, which + " default");
        }
    } else {
        checks.expect(false, "check-box tables present");
    }
    checks.expect(fp->func_proc != nullptr, "func_proc present");
    checks.expect(fp->func_init != nullptr, "func_init present");
    checks.expect(fp->func_exit != nullptr, "func_exit present");
    checks.expect(fp->func_update != nullptr, "func_update present");
    checks.expect(fp->func_WndProc != nullptr, "func_WndProc present");
    checks.expect(fp->func_save_start != nullptr, "func_save_start present");
    checks.expect(fp->func_save_end == nullptr, "func_save_end absent");
    checks.expect(fp->func_is_saveframe == nullptr, "func_is_saveframe absent");
    checks.expect(fp->func_project_load == nullptr, "func_project_load absent");
    checks.expect(fp->func_project_save == nullptr, "func_project_save absent");
    checks.expect(fp->func_modify_title == nullptr, "func_modify_title absent");
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
