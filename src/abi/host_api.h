// The host editor's plug-in records, callbacks and services, declared from the
// host's binary layout. One header serves the module and every host of ours, so
// both sides of the boundary agree on every offset.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#else
using BOOL = int;
using UINT = unsigned int;
using HWND = void *;
using HINSTANCE = void *;
using HFONT = void *;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
#endif

struct PIXEL_YC {
    std::int16_t y;
    std::int16_t cb;
    std::int16_t cr;
};
static_assert(sizeof(PIXEL_YC) == 6, "PIXEL_YC is three packed 16-bit values");

struct FILTER;
struct FILTER_PROC_INFO;
struct EXFUNC;

using MULTI_THREAD_FUNC = void (*)(int thread_id, int thread_num, void *param1, void *param2);

struct FILTER_PROC_INFO {
    int flag;
    PIXEL_YC *ycp_edit;
    PIXEL_YC *ycp_temp;
    int w, h;
    int max_w, max_h;
    int frame;
    int frame_n;
    int org_w, org_h;
    std::int16_t *audiop;
    int audio_n, audio_ch;
    void *pixelp;
    void *editp;
    int yc_size, line_size;
    int reserve[8];
};

struct FILTER {
    int flag;
    int x, y;
    char *name;
    int track_n;
    char **track_name;
    int *track_default;
    int *track_s, *track_e;
    int check_n;
    char **check_name;
    int *check_default;
    BOOL (*func_proc)(FILTER *fp, FILTER_PROC_INFO *fpip);
    BOOL (*func_init)(FILTER *fp);
    BOOL (*func_exit)(FILTER *fp);
    BOOL (*func_update)(FILTER *fp, int status);
    BOOL (*func_WndProc)(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, void *editp,
                         FILTER *fp);
    int *track, *check;
    void *ex_data_ptr;
    int ex_data_size;
    char *information;
    BOOL (*func_save_start)(FILTER *fp, int s, int e, void *editp);
    BOOL (*func_save_end)(FILTER *fp, void *editp);
    EXFUNC *exfunc;
    HWND hwnd;
    HINSTANCE dll_hinst;
    void *ex_data_def;
    BOOL (*func_is_saveframe)(FILTER *fp, void *editp, int saveno, int frame, int fps,
                              int edit_flag, int inter);
    BOOL (*func_project_load)(FILTER *fp, void *editp, void *data, int size);
    BOOL (*func_project_save)(FILTER *fp, void *editp, void *data, int *size);
    BOOL (*func_modify_title)(FILTER *fp, void *editp, int frame, char *title, int max_title);
    char *dll_path;
    int reserve[2];
};
using FILTER_DLL = FILTER;

// The service table: 73 entries, of which the filter calls five. The others are
// kept as untyped slots so that the offsets of the five hold.
using HostService = void (*)();
struct EXFUNC {
    HostService slot0_20[21];                                              // 0..20
    BOOL (*filter_window_update)(FILTER *fp);                              // 21
    HostService slot22_24[3];                                              // 22..24
    BOOL (*is_filter_active)(FILTER *fp);                                  // 25
    HostService slot26_43[18];                                             // 26..43
    BOOL (*set_ycp_filtering_cache_size)(FILTER *fp, int w, int h, int d, int flag);  // 44
    HostService slot45_49[5];                                              // 45..49
    PIXEL_YC *(*get_ycp_filtering_cache_ex)(FILTER *fp, void *editp, int n, int *w,
                                            int *h);                      // 50
    BOOL (*exec_multi_thread_func)(MULTI_THREAD_FUNC func, void *param1, void *param2);  // 51
    HostService slot52_72[21];                                             // 52..72
    int reserve[7];
};
static_assert(offsetof(EXFUNC, get_ycp_filtering_cache_ex) == 50 * sizeof(void *) &&
                  offsetof(EXFUNC, reserve) == 73 * sizeof(void *),
              "EXFUNC keeps all 73 service slots");

// Window messages exchanged with the host.
constexpr UINT kWmFilterInit = 0x467;  // WM_USER + 103
constexpr UINT kWmFilterExit = 0x468;  // WM_USER + 104

// The one exported entry point.
#ifdef _WIN32
#define Q5_EXPORT_CALL __stdcall
#else
#define Q5_EXPORT_CALL
#endif
using GetFilterTableFn = FILTER_DLL *(Q5_EXPORT_CALL *)();
