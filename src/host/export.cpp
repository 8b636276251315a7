// The module's only export: the host finds the filter through it.
#include "host/pipeline.h"

#ifdef _WIN32
extern "C" __declspec(dllexport) FILTER_DLL *__stdcall GetFilterTable() { return filterDescriptor(); }
#else
extern "C" __attribute__((visibility("default"))) FILTER_DLL *GetFilterTable() {
    return filterDescriptor();
}
#endif
