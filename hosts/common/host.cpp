// The editor's side of the plug-in interface: frame cache, worker threads and
// service table behind the filter's callbacks.
#include "common/host.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <list>
#include <map>
#include <cstdint>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/thread_pool.h"

namespace q5host {

namespace {

// The services are plain function pointers without a context argument, so they
// find their host here: the one whose callback is running.
Host *activeHost = nullptr;

struct ActiveScope {
    explicit ActiveScope(Host *h) : saved(activeHost) { activeHost = h; }
    ~ActiveScope() { activeHost = saved; }
    Host *saved;
};

char editHandle;  // the edit handle the filter passes back; never dereferenced

// The current frame into ycp_edit, shared between the calling thread and the pool's:
// one thread alone does not reach the memory's bandwidth. Chunks go to whichever thread
// asks first, so a thread the system runs late finds less or nothing left. The image is out of the
// caches long before the filter writes its result there, so it goes out with
// streaming stores and is not read for ownership first.
struct ImageCopy {
    const PIXEL_YC *from;
    PIXEL_YC *to;
    std::size_t bytes;
    std::atomic<std::size_t> next{0};
};

constexpr std::size_t kCopyChunk = 256 * 1024;  // a multiple of the cache line

void copyRange(const unsigned char *from, unsigned char *to, std::size_t bytes) {
#if defined(__SSE2__)
    // Up to a 16-byte boundary of the destination by plain copy, then whole vectors.
    const std::size_t head = std::min(bytes, (16 - (reinterpret_cast<std::uintptr_t>(to) & 15)) & 15);
    std::memcpy(to, from, head);
    std::size_t at = head;
    for (; at + 64 <= bytes; at += 64) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + at));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + at + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + at + 32));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + at + 48));
        _mm_stream_si128(reinterpret_cast<__m128i *>(to + at), a);
        _mm_stream_si128(reinterpret_cast<__m128i *>(to + at + 16), b);
        _mm_stream_si128(reinterpret_cast<__m128i *>(to + at + 32), c);
        _mm_stream_si128(reinterpret_cast<__m128i *>(to + at + 48), d);
    }
    std::memcpy(to + at, from + at, bytes - at);
#else
    std::memcpy(to, from, bytes);
#endif
}

void copyShare(int, int, void *param1, void *) {
    ImageCopy &copy = *static_cast<ImageCopy *>(param1);
    const auto *from = reinterpret_cast<const unsigned char *>(copy.from);
    auto *to = reinterpret_cast<unsigned char *>(copy.to);
    for (;;) {
        const std::size_t at = copy.next.fetch_add(kCopyChunk, std::memory_order_relaxed);
        if (at >= copy.bytes) break;
        copyRange(from + at, to + at, std::min(kCopyChunk, copy.bytes - at));
    }
#if defined(__SSE2__)
    _mm_sfence();  // the streamed lines are out before the pool reports the copy done
#endif
}

}  // namespace

struct Host::Impl {
    EXFUNC exfunc{};
    std::unique_ptr<ThreadPool> pool;
    std::map<int, std::vector<PIXEL_YC>> cache;
    std::list<int> lru;  // most recently used first
    int cacheCapacity = 5;
    // Images of frames dropped from the cache, reused for the next ones instead of
    // allocating and clearing a whole image per frame.
    std::vector<std::vector<PIXEL_YC>> spare;

    // The first failure of a service during the current callback, for the host to
    // rethrow once the filter has returned: the services are called from noexcept
    // code, where an exception would end the process.
    std::exception_ptr failure;

    // Runs a service's body; if it throws, keeps the failure and gives the filter
    // `fallback`, as for a frame or a call the host could not serve.
    template <typename Result, typename Body>
    static Result guarded(Result fallback, Body body) noexcept {
        try {
            return body();
        } catch (...) {
            if (!activeHost->impl_->failure) activeHost->impl_->failure = std::current_exception();
            return fallback;
        }
    }

    static void observe(const ServiceCall &call) {
        if (HostObserver *observer = activeHost->observer_) observer->serviceCalled(call);
    }
    static BOOL windowUpdate(FILTER *) {
        return guarded<BOOL>(FALSE, [] {
            observe({ServiceCall::WindowUpdate});
            return TRUE;
        });
    }
    static BOOL isActive(FILTER *) {
        const bool active = activeHost->filterActive_;
        return guarded<BOOL>(active ? TRUE : FALSE, [active] {
            ServiceCall call{ServiceCall::IsActive};
            call.result = active;
            observe(call);
            return active ? TRUE : FALSE;
        });
    }
    static BOOL setCacheSize(FILTER *, int w, int h, int d, int flag) {
        Host *host = activeHost;
        // Never fewer than the five frames the filter may hold at once.
        host->impl_->cacheCapacity = std::max(d, 5);
        return guarded<BOOL>(TRUE, [&] {
            observe({ServiceCall::CacheSize, w, h, d, flag});
            return TRUE;
        });
    }
    static PIXEL_YC *fetch(FILTER *, void *, int n, int *w, int *h) {
        Host *host = activeHost;
        return guarded<PIXEL_YC *>(nullptr, [&]() -> PIXEL_YC * {
            PIXEL_YC *image = host->impl_->fetchImage(host, n);
            ServiceCall call{ServiceCall::Fetch, n};
            call.result = image != nullptr;
            observe(call);
            if (image) {
                if (w) *w = host->clip_.width;
                if (h) *h = host->clip_.height;
            }
            return image;
        });
    }
    static BOOL exec(MULTI_THREAD_FUNC func, void *param1, void *param2) {
        Host *host = activeHost;
        ++host->dispatches_;
        return guarded<BOOL>(FALSE, [&] {
            if (!host->observer_) {
                host->impl_->pool->exec(func, param1, param2);
                return TRUE;
            }
            const auto start = std::chrono::steady_clock::now();
            host->impl_->pool->exec(func, param1, param2);
            ServiceCall call{ServiceCall::Exec};
            call.worker = func;
            call.nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now() - start)
                                   .count();
            observe(call);
            return TRUE;
        });
    }

    // An image as a new one would be: zero wherever the source does not write (all
    // but the picture); a reused one may hold rows the filter padded below it.
    std::vector<PIXEL_YC> freshImage(const ClipInfo &clip) {
        const std::size_t size = static_cast<std::size_t>(clip.maxW) * clip.maxH;
        if (spare.empty() || spare.back().size() != size) {
            spare.clear();
            return std::vector<PIXEL_YC>(size, PIXEL_YC{0, 0, 0});
        }
        std::vector<PIXEL_YC> image = std::move(spare.back());
        spare.pop_back();
        for (int y = 0; y < clip.maxH; ++y) {
            PIXEL_YC *row = image.data() + static_cast<std::size_t>(y) * clip.maxW;
            std::fill(row + (y < clip.height ? clip.width : 0), row + clip.maxW, PIXEL_YC{0, 0, 0});
        }
        return image;
    }

    // A cached frame is a whole image of the editor's maximum size, zero outside the
    // picture, kept until evicted least-recently-used first: the filter writes the
    // rows below the picture, so which frames stay cached is part of its input.
    PIXEL_YC *fetchImage(Host *host, int n) {
        const ClipInfo &clip = host->clip_;
        if (n < 0 || n >= clip.frameCount || !host->source_) return nullptr;
        auto it = cache.find(n);
        if (it == cache.end()) {
            std::vector<PIXEL_YC> image = freshImage(clip);
            if (!host->source_(n, image.data(), clip.maxW)) {
                spare.push_back(std::move(image));
                return nullptr;
            }
            while (static_cast<int>(cache.size()) >= cacheCapacity && !lru.empty()) {
                auto dropped = cache.find(lru.back());
                spare.push_back(std::move(dropped->second));
                cache.erase(dropped);
                lru.pop_back();
            }
            it = cache.emplace(n, std::move(image)).first;
        } else {
            lru.remove(n);
        }
        lru.push_front(n);
        return it->second.data();
    }
};

Host::Host(GetFilterTableFn getFilterTable, int threads) : impl_(std::make_unique<Impl>()) {
    if (!getFilterTable) throw std::invalid_argument("no GetFilterTable");
    fp_ = getFilterTable();
    if (!fp_) throw std::runtime_error("GetFilterTable returned no descriptor");
    if (fp_->track_n < 0 || fp_->track_n > 64 || fp_->check_n < 0 || fp_->check_n > 64)
        throw std::runtime_error("implausible slider or check-box count");
    track_.assign(fp_->track_default, fp_->track_default + fp_->track_n);
    check_.assign(fp_->check_default, fp_->check_default + fp_->check_n);
    fp_->track = track_.data();
    fp_->check = check_.data();
    EXFUNC &ex = impl_->exfunc;
    ex.filter_window_update = &Impl::windowUpdate;
    ex.is_filter_active = &Impl::isActive;
    ex.set_ycp_filtering_cache_size = &Impl::setCacheSize;
    ex.get_ycp_filtering_cache_ex = &Impl::fetch;
    ex.exec_multi_thread_func = &Impl::exec;
    fp_->exfunc = &ex;
    fp_->hwnd = reinterpret_cast<HWND>(0x20000);
    fp_->dll_hinst = reinterpret_cast<HINSTANCE>(0x30000);
    setThreads(threads);
}

Host::~Host() {
    if (initialised_) {
        try {
            exit();
        } catch (...) {
            // A service's failure during func_exit: nothing is left to report it to.
        }
    }
    if (fp_ && fp_->exfunc == &impl_->exfunc) {
        fp_->exfunc = nullptr;
        fp_->track = nullptr;
        fp_->check = nullptr;
    }
}

void Host::setThreads(int threads) {
    if (threads < 1 || threads > 16) throw std::invalid_argument("threads must be 1 to 16");
    threads_ = threads;
    impl_->pool = std::make_unique<ThreadPool>(threads);
}

BOOL Host::init() {
    ActiveScope scope(this);
    initialised_ = true;
    return afterCallback(fp_->func_init ? fp_->func_init(fp_) : TRUE);
}

BOOL Host::exit() {
    ActiveScope scope(this);
    initialised_ = false;
    return afterCallback(fp_->func_exit ? fp_->func_exit(fp_) : TRUE);
}

void Host::setTrack(int index, int value) { track_.at(index) = value; }
void Host::setCheck(int index, int value) { check_.at(index) = value; }

BOOL Host::update(int status) {
    ActiveScope scope(this);
    return afterCallback(fp_->func_update ? fp_->func_update(fp_, status) : TRUE);
}

BOOL Host::saveStart(int s, int e) {
    ActiveScope scope(this);
    return afterCallback(fp_->func_save_start ? fp_->func_save_start(fp_, s, e, &editHandle) : TRUE);
}

BOOL Host::windowMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    ActiveScope scope(this);
    if (!fp_->func_WndProc) return FALSE;
    return afterCallback(fp_->func_WndProc(fp_->hwnd, message, wparam, lparam, &editHandle, fp_));
}

void Host::setClip(const ClipInfo &clip, FrameSource source) {
    // The editor never shows a picture larger than its image capacity.
    if (clip.width < 0 || clip.height < 0 || clip.width > clip.maxW || clip.height > clip.maxH ||
        clip.maxW <= 0 || clip.maxH <= 0)
        throw std::invalid_argument("picture larger than the host's image size");
    clip_ = clip;
    source_ = std::move(source);
    dropCache();
    const std::size_t size = static_cast<std::size_t>(clip.maxW) * clip.maxH;
    edit_.assign(size, PIXEL_YC{0, 0, 0});
    temp_.assign(size, PIXEL_YC{0, 0, 0});
}

void Host::dropCache() {
    impl_->cache.clear();
    impl_->lru.clear();
    impl_->spare.clear();
}

BOOL Host::dispatch(MULTI_THREAD_FUNC func, void *param1, void *param2) {
    ActiveScope scope(this);
    return afterCallback(impl_->exfunc.exec_multi_thread_func(func, param1, param2));
}

const PIXEL_YC *Host::cachedImage(int n) const {
    auto it = impl_->cache.find(n);
    return it == impl_->cache.end() ? nullptr : it->second.data();
}

BOOL Host::process(int frame) {
    ActiveScope scope(this);
    fpip_ = FILTER_PROC_INFO{};
    fpip_.ycp_edit = edit_.data();
    fpip_.ycp_temp = temp_.data();
    fpip_.w = clip_.width;
    fpip_.h = clip_.height;
    fpip_.max_w = clip_.maxW;
    fpip_.max_h = clip_.maxH;
    fpip_.frame = frame;
    fpip_.frame_n = clip_.frameCount;
    fpip_.org_w = clip_.width;
    fpip_.org_h = clip_.height;
    fpip_.editp = &editHandle;
    fpip_.yc_size = sizeof(PIXEL_YC);
    fpip_.line_size = clip_.maxW * static_cast<int>(sizeof(PIXEL_YC));
    // The editor hands the filter the current frame as it stands in ycp_edit.
    if (PIXEL_YC *current = impl_->fetchImage(this, frame)) {
        ImageCopy copy{current, edit_.data(),
                       static_cast<std::size_t>(clip_.maxW) * clip_.height * sizeof(PIXEL_YC), {}};
        // Not a service call: the filter neither sees nor is told of this one.
        impl_->pool->share(&copyShare, &copy, nullptr);
    }
    dispatches_ = 0;
    if (observer_) observer_->procStarted();
    const BOOL result = fp_->func_proc(fp_, &fpip_);
    if (observer_) observer_->procEnded();
    return afterCallback(result);
}

BOOL Host::afterCallback(BOOL result) {
    if (std::exception_ptr failure = std::exchange(impl_->failure, nullptr)) std::rethrow_exception(failure);
    return result;
}

std::vector<PIXEL_YC> Host::outputPicture() const {
    std::vector<PIXEL_YC> picture;
    picture.reserve(static_cast<std::size_t>(clip_.width) * clip_.height);
    for (int y = 0; y < clip_.height; ++y) {
        const PIXEL_YC *row = edit_.data() + static_cast<std::size_t>(y) * clip_.maxW;
        picture.insert(picture.end(), row, row + clip_.width);
    }
    return picture;
}

FrameSource packedFrames(const std::vector<std::vector<PIXEL_YC>> &frames, int width, int height) {
    return [&frames, width, height](int n, PIXEL_YC *image, int pitch) {
        if (n < 0 || n >= static_cast<int>(frames.size())) return false;
        const PIXEL_YC *frame = frames[n].data();
        for (int y = 0; y < height; ++y)
            std::copy(frame + static_cast<std::size_t>(y) * width,
                      frame + static_cast<std::size_t>(y + 1) * width,
                      image + static_cast<std::size_t>(y) * pitch);
        return true;
    };
}

}  // namespace q5host
