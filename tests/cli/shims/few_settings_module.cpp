// A filter module of an older, smaller kind: one slider and one check box where the
// command expects the whole set. The command must call it a bad module, not a bad
// command line.
#include "abi/host_api.h"

namespace {

char sliderName[] = "only";
char *sliderNames[] = {sliderName};
int sliderDefault[] = {0}, sliderLow[] = {0}, sliderHigh[] = {1};
char boxName[] = "only";
char *boxNames[] = {boxName};
int boxDefault[] = {0};
char information[] = "a module with one slider";

FILTER_DLL descriptor = [] {
    FILTER_DLL f {};
    f.name = information;
    f.track_n = 1;
    f.track_name = sliderNames;
    f.track_default = sliderDefault;
    f.track_s = sliderLow;
    f.track_e = sliderHigh;
    f.check_n = 1;
    f.check_name = boxNames;
    f.check_default = boxDefault;
    f.information = information;
    return f;
}();

}  // namespace

extern "C" __attribute__((visibility("default"))) FILTER_DLL *GetFilterTable() { return &descriptor; }
