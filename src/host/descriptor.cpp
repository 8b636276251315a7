// The filter descriptor the host builds its settings window from: name, six
// sliders, five check boxes and the callbacks. Strings are Shift_JIS bytes on
// every build, as the host reads them.
#include "host/callbacks.h"

namespace {

// "Tarnel", "W2DNRL", "W2DNRH", "MosqNR", "BlockNR", "丸め補正"
char kTrackTarnel[] = "Tarnel";
char kTrackW2dnrl[] = "W2DNRL";
char kTrackW2dnrh[] = "W2DNRH";
char kTrackMosqnr[] = "MosqNR";
char kTrackBlocknr[] = "BlockNR";
char kTrackRounding[] = "\x8A\xDB\x82\xDF\x95\xE2\x90\xB3";
char *trackNames[] = {kTrackTarnel, kTrackW2dnrl, kTrackW2dnrh,
                      kTrackMosqnr, kTrackBlocknr, kTrackRounding};
int trackDefaults[] = {10, 10, 16, 5, 5, 16};
int trackMins[] = {0, 0, 0, 0, 0, 0};
int trackMaxs[] = {20, 20, 20, 20, 20, 32};

// "フィールド別処理", "アニメ", "モスキートNR", "ブロックNR", "丸め補正"
char kCheckField[] = "\x83t\x83" "B\x81[\x83\x8B\x83h\x95\xCA\x8F\x88\x97\x9D";
char kCheckAnime[] = "\x83" "A\x83j\x83\x81";
char kCheckMosquito[] = "\x83\x82\x83X\x83L\x81[\x83gNR";
char kCheckBlock[] = "\x83u\x83\x8D\x83" "b\x83NNR";
char kCheckRounding[] = "\x8A\xDB\x82\xDF\x95\xE2\x90\xB3";
char *checkNames[] = {kCheckField, kCheckAnime, kCheckMosquito, kCheckBlock, kCheckRounding};
int checkDefaults[] = {1, 1, 0, 0, 1};

char kName[] = "Quorvane5";
char kInformation[] = "Quorvane5 version 0.1.0";

FILTER_DLL descriptor = {
    0x00080000,  // flag
    0, 0,        // x, y: the host's default window size
    kName,
    6, trackNames, trackDefaults, trackMins, trackMaxs,
    5, checkNames, checkDefaults,
    func_proc, func_init, func_exit, func_update, func_WndProc,
    nullptr, nullptr,  // track, check: the host's
    nullptr, 0,        // no extra saved data
    kInformation,
    func_save_start,
    nullptr,  // func_save_end
    nullptr, nullptr, nullptr,  // exfunc, hwnd, dll_hinst: the host's
    nullptr,                    // ex_data_def
    nullptr, nullptr, nullptr, nullptr,
    nullptr,  // dll_path
    {0, 0},
};

}  // namespace

FILTER_DLL *filterDescriptor() noexcept { return &descriptor; }
