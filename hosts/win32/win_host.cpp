// The Windows test host's module loading, services, worker threads and cache.
#include "win32/win_host.h"

#include <algorithm>

// Calls call->func(id, count, param1, param2) with the stack pointer moved down to a
// 32-byte boundary and then call->offset bytes further, so that the worker enters
// at the alignment the offset picks (cdecl: the callee finds its return address
// at esp and the arguments above it).
struct StackOffsetCall {
    MULTI_THREAD_FUNC func;  // 0
    int id, count;           // 4, 8
    void *param1, *param2;   // 12, 16
    unsigned offset;         // 20, a multiple of 4 below 32
};
extern "C" void q5winCallAtStackOffset(const StackOffsetCall *call);
__asm__(
    ".text\n"
    "_q5winCallAtStackOffset:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  pushl %ebx\n"
    "  movl 8(%ebp), %ebx\n"
    "  andl $-32, %esp\n"
    "  subl 20(%ebx), %esp\n"
    "  subl $16, %esp\n"
    "  movl 4(%ebx), %eax\n"
    "  movl %eax, 0(%esp)\n"
    "  movl 8(%ebx), %eax\n"
    "  movl %eax, 4(%esp)\n"
    "  movl 12(%ebx), %eax\n"
    "  movl %eax, 8(%esp)\n"
    "  movl 16(%ebx), %eax\n"
    "  movl %eax, 12(%esp)\n"
    "  call *(%ebx)\n"
    "  movl -4(%ebp), %ebx\n"
    "  movl %ebp, %esp\n"
    "  popl %ebp\n"
    "  ret\n");

namespace q5win {

// ---- Worker threads ----------------------------------------------------------

ThreadPool::ThreadPool(int threads) {
    done_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    for (int i = 0; i < threads; ++i) start_.push_back(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    for (int i = 0; i < threads; ++i)
        threads_.push_back(CreateThread(nullptr, 0, &ThreadPool::threadMain, this, 0, nullptr));
}

ThreadPool::~ThreadPool() {
    stopping_ = true;
    for (HANDLE e : start_) SetEvent(e);
    WaitForMultipleObjects(static_cast<DWORD>(threads_.size()), threads_.data(), TRUE, INFINITE);
    for (HANDLE t : threads_) CloseHandle(t);
    for (HANDLE e : start_) CloseHandle(e);
    CloseHandle(done_);
}

DWORD WINAPI ThreadPool::threadMain(LPVOID self) {
    auto *pool = static_cast<ThreadPool *>(self);
    pool->run(static_cast<int>(InterlockedIncrement(&pool->nextId_) - 1));
    return 0;
}

// Setting and waiting on an event are full memory barriers, so the worker and
// its parameters written before SetEvent are seen by every thread.
// The editor's threads promise the plug-in no more than 4-byte stack alignment:
// each call enters the worker at the next of the eight 4-byte steps below a 32-byte
// boundary, so a kernel that keeps 16- or 32-byte values on an unaligned stack
// faults here within a few calls instead of on some user's machine.
void ThreadPool::run(int id) {
    for (unsigned calls = static_cast<unsigned>(id);; ++calls) {
        WaitForSingleObject(start_[id], INFINITE);
        if (stopping_) return;
        const StackOffsetCall call{func_, id, size(), param1_, param2_, calls % 8 * 4};
        q5winCallAtStackOffset(&call);
        if (InterlockedDecrement(&pending_) == 0) SetEvent(done_);
    }
}

void ThreadPool::exec(MULTI_THREAD_FUNC func, void *param1, void *param2) {
    func_ = func;
    param1_ = param1;
    param2_ = param2;
    pending_ = size();
    for (HANDLE e : start_) SetEvent(e);
    WaitForSingleObject(done_, INFINITE);
}

// ---- Host --------------------------------------------------------------------

namespace {

// The services carry no context, so they find their host here.
Host *activeHost = nullptr;
char editHandle;  // the edit handle handed back by the filter; never dereferenced

struct ActiveScope {
    explicit ActiveScope(Host *h) : saved(activeHost) { activeHost = h; }
    ~ActiveScope() { activeHost = saved; }
    Host *saved;
};

}  // namespace

Host::Host(const std::string &modulePath, int threads) {
    module_ = LoadLibraryA(modulePath.c_str());
    if (!module_) {
        error_ = modulePath + ": LoadLibraryA failed, error " + std::to_string(GetLastError());
        return;
    }
    auto entry = reinterpret_cast<GetFilterTableFn>(
        reinterpret_cast<void *>(GetProcAddress(module_, "GetFilterTable")));
    if (!entry) {
        error_ = modulePath + ": no GetFilterTable export";
        return;
    }
    FILTER *fp = entry();
    if (!fp) {
        error_ = modulePath + ": GetFilterTable returned no descriptor";
        return;
    }
    if (fp->track_n < 0 || fp->track_n > 64 || fp->check_n < 0 || fp->check_n > 64) {
        error_ = modulePath + ": implausible slider or check-box count";
        return;
    }
    track_.assign(fp->track_default, fp->track_default + fp->track_n);
    check_.assign(fp->check_default, fp->check_default + fp->check_n);
    exfunc_.filter_window_update = &Host::windowUpdate;
    exfunc_.is_filter_active = &Host::isActive;
    exfunc_.set_ycp_filtering_cache_size = &Host::setCacheSize;
    exfunc_.get_ycp_filtering_cache_ex = &Host::fetch;
    exfunc_.exec_multi_thread_func = &Host::exec;
    // The editor fills its members of the record before the first callback.
    fp->track = track_.data();
    fp->check = check_.data();
    fp->exfunc = &exfunc_;
    fp->dll_hinst = module_;
    pool_ = std::make_unique<ThreadPool>(threads);
    fp_ = fp;
}

Host::~Host() {
    if (initialised_) exit();
    pool_.reset();
    if (module_) FreeLibrary(module_);
}

BOOL Host::init() {
    ActiveScope scope(this);
    initialised_ = true;
    return fp_->func_init ? fp_->func_init(fp_) : TRUE;
}

BOOL Host::exit() {
    ActiveScope scope(this);
    initialised_ = false;
    return fp_->func_exit ? fp_->func_exit(fp_) : TRUE;
}

BOOL Host::update(int status) {
    ActiveScope scope(this);
    return fp_->func_update ? fp_->func_update(fp_, status) : TRUE;
}

BOOL Host::windowMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    ActiveScope scope(this);
    return fp_->func_WndProc ? fp_->func_WndProc(hwnd, message, wparam, lparam, &editHandle, fp_)
                             : FALSE;
}

BOOL Host::windowUpdate(FILTER *) {
    activeHost->log_.push_back({ServiceCall::WindowUpdate});
    return TRUE;
}

BOOL Host::isActive(FILTER *) {
    const bool active = activeHost->filterActive_;
    activeHost->log_.push_back({ServiceCall::IsActive, 0, active});
    return active ? TRUE : FALSE;
}

BOOL Host::setCacheSize(FILTER *, int, int, int d, int) {
    activeHost->log_.push_back({ServiceCall::CacheSize});
    activeHost->cacheCapacity_ = std::max(d, 5);
    return TRUE;
}

PIXEL_YC *Host::fetch(FILTER *, void *, int n, int *w, int *h) {
    Host *host = activeHost;
    PIXEL_YC *image = host->fetchImage(n);
    host->log_.push_back({ServiceCall::Fetch, n, image != nullptr});
    if (image) {
        if (w) *w = host->clip_->width;
        if (h) *h = host->clip_->height;
    }
    return image;
}

BOOL Host::exec(MULTI_THREAD_FUNC func, void *param1, void *param2) {
    activeHost->pool_->exec(func, param1, param2);
    activeHost->log_.push_back({ServiceCall::Exec});
    return TRUE;
}

// A cached frame is a whole image of the editor's maximum size, zero outside the
// picture, kept until evicted least-recently-used first: the filter writes the
// rows below the picture, so which frames stay cached is part of its input.
PIXEL_YC *Host::fetchImage(int n) {
    if (!clip_ || n < 0 || n >= static_cast<int>(clip_->frames.size())) return nullptr;
    auto it = cache_.find(n);
    if (it == cache_.end()) {
        std::vector<PIXEL_YC> image(static_cast<std::size_t>(maxW_) * maxH_, PIXEL_YC{0, 0, 0});
        const std::vector<PIXEL_YC> &frame = clip_->frames[n];
        for (int y = 0; y < clip_->height; ++y)
            std::copy(frame.begin() + static_cast<std::ptrdiff_t>(y) * clip_->width,
                      frame.begin() + static_cast<std::ptrdiff_t>(y + 1) * clip_->width,
                      image.begin() + static_cast<std::ptrdiff_t>(y) * maxW_);
        while (static_cast<int>(cache_.size()) >= cacheCapacity_ && !lru_.empty()) {
            cache_.erase(lru_.back());
            lru_.pop_back();
        }
        it = cache_.emplace(n, std::move(image)).first;
    } else {
        lru_.remove(n);
    }
    lru_.push_front(n);
    return it->second.data();
}

void Host::setClip(const Clip *clip, int maxW, int maxH) {
    clip_ = clip;
    maxW_ = maxW;
    maxH_ = maxH;
    cache_.clear();
    lru_.clear();
    const std::size_t size = static_cast<std::size_t>(maxW) * maxH;
    edit_.assign(size, PIXEL_YC{0, 0, 0});
    temp_.assign(size, PIXEL_YC{0, 0, 0});
}

BOOL Host::process(int frame) {
    ActiveScope scope(this);
    fpip_ = FILTER_PROC_INFO{};
    fpip_.ycp_edit = edit_.data();
    fpip_.ycp_temp = temp_.data();
    fpip_.w = clip_->width;
    fpip_.h = clip_->height;
    fpip_.max_w = maxW_;
    fpip_.max_h = maxH_;
    fpip_.frame = frame;
    fpip_.frame_n = static_cast<int>(clip_->frames.size());
    fpip_.org_w = clip_->width;
    fpip_.org_h = clip_->height;
    fpip_.editp = &editHandle;
    fpip_.yc_size = sizeof(PIXEL_YC);
    fpip_.line_size = maxW_ * static_cast<int>(sizeof(PIXEL_YC));
    // The editor hands the filter the current frame as it stands in ycp_edit.
    if (PIXEL_YC *current = fetchImage(frame))
        std::copy(current, current + static_cast<std::size_t>(maxW_) * clip_->height, edit_.begin());
    return fp_->func_proc(fp_, &fpip_);
}

std::vector<PIXEL_YC> Host::outputPicture() const {
    std::vector<PIXEL_YC> picture;
    picture.reserve(static_cast<std::size_t>(clip_->width) * clip_->height);
    for (int y = 0; y < clip_->height; ++y) {
        const PIXEL_YC *row = edit_.data() + static_cast<std::size_t>(y) * maxW_;
        picture.insert(picture.end(), row, row + clip_->width);
    }
    return picture;
}

std::vector<int> Host::fetchedFrames() const {
    std::vector<int> frames;
    for (const ServiceCall &call : log_)
        if (call.kind == ServiceCall::Fetch) frames.push_back(call.frame);
    return frames;
}

}  // namespace q5win
