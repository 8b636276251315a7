// The module's only export: the host finds the filter through it.
#include "host/callbacks.h"

#ifdef _WIN32
// Exported through quorvane5.def alone, under the undecorated name the editor asks
// for: marking it dllexport as well would add a second, decorated "GetFilterTable@0".
extern "C" FILTER_DLL *__stdcall GetFilterTable() { return filterDescriptor(); }
#else
extern "C" __attribute__((visibility("default"))) FILTER_DLL *GetFilterTable() {
    return filterDescriptor();
}
#endif
