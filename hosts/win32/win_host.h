// The 32-bit Windows test host: loads quorvane5.auf as the editor does
// (LoadLibraryA, GetProcAddress "GetFilterTable") and drives it through the
// descriptor's callbacks with the five services, Win32 worker threads behind
// exec_multi_thread_func. Its frame cache, images and call order follow our
// Linux host exactly, so the two give the module the same input.
#pragma once

#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "abi/host_api.h"

namespace q5win {

/// Runs one worker on every thread and returns when all have finished.
class ThreadPool {
public:
    explicit ThreadPool(int threads);
    ~ThreadPool();
    ThreadPool(const ThreadPool &) = delete;
    ThreadPool &operator=(const ThreadPool &) = delete;
    int size() const { return static_cast<int>(threads_.size()); }
    void exec(MULTI_THREAD_FUNC func, void *param1, void *param2);

private:
    static DWORD WINAPI threadMain(LPVOID self);
    void run(int id);

    std::vector<HANDLE> threads_;
    std::vector<HANDLE> start_;  // one auto-reset event per thread
    HANDLE done_ = nullptr;
    volatile LONG pending_ = 0;
    volatile LONG nextId_ = 0;
    bool stopping_ = false;
    MULTI_THREAD_FUNC func_ = nullptr;
    void *param1_ = nullptr;
    void *param2_ = nullptr;
};

struct ServiceCall {
    enum Kind { CacheSize, Fetch, Exec, IsActive, WindowUpdate } kind;
    int frame = 0;        // Fetch: frame number asked for
    bool result = false;  // Fetch: an image was returned; IsActive: the answer
};

struct Clip {
    int width = 0, height = 0;
    std::vector<std::vector<PIXEL_YC>> frames;  // packed rows
};

class Host {
public:
    /// Loads the module; check ok() and error() afterwards.
    Host(const std::string &modulePath, int threads);
    ~Host();
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;

    bool ok() const { return fp_ != nullptr; }
    const std::string &error() const { return error_; }
    HMODULE module() const { return module_; }
    FILTER *filter() const { return fp_; }

    BOOL init();
    BOOL exit();
    void setTrack(int index, int value) { track_.at(index) = value; }
    void setCheck(int index, int value) { check_.at(index) = value; }
    BOOL update(int status = 0);
    void setFilterActive(bool active) { filterActive_ = active; }
    /// Passes a message of the settings window to func_WndProc.
    BOOL windowMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

    /// A new clip (capacity maxW x maxH, as the editor's maximum image size).
    void setClip(const Clip *clip, int maxW = 1920, int maxH = 1088);
    BOOL process(int frame);
    /// The picture of the last output, packed rows.
    std::vector<PIXEL_YC> outputPicture() const;

    const std::vector<ServiceCall> &log() const { return log_; }
    void clearLog() { log_.clear(); }
    std::vector<int> fetchedFrames() const;

private:
    static BOOL windowUpdate(FILTER *fp);
    static BOOL isActive(FILTER *fp);
    static BOOL setCacheSize(FILTER *fp, int w, int h, int d, int flag);
    static PIXEL_YC *fetch(FILTER *fp, void *editp, int n, int *w, int *h);
    static BOOL exec(MULTI_THREAD_FUNC func, void *param1, void *param2);
    PIXEL_YC *fetchImage(int n);

    HMODULE module_ = nullptr;
    FILTER *fp_ = nullptr;
    std::string error_;
    EXFUNC exfunc_{};
    std::unique_ptr<ThreadPool> pool_;
    bool initialised_ = false;
    bool filterActive_ = true;
    std::vector<int> track_, check_;
    const Clip *clip_ = nullptr;
    int maxW_ = 1920, maxH_ = 1088;
    std::vector<PIXEL_YC> edit_, temp_;
    FILTER_PROC_INFO fpip_{};
    std::map<int, std::vector<PIXEL_YC>> cache_;
    std::list<int> lru_;  // most recently used first
    int cacheCapacity_ = 5;
    std::vector<ServiceCall> log_;
};

}  // namespace q5win
