// Preloaded into the command by the tests (LD_PRELOAD) to make the system calls it
// cannot provoke otherwise fail or answer on cue:
//   Q5_FAIL_RENAME=N      the Nth rename() fails with EIO (counted from 1)
//   Q5_FREE_BYTES=N       statvfs() and fstatvfs() report N bytes free
#include <dlfcn.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstdlib>

namespace {

template <typename Fn>
Fn next(const char *name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

long long fromEnvironment(const char *name) {
    const char *text = std::getenv(name);
    return text && *text ? std::atoll(text) : -1;
}

void reportFree(struct statvfs *st) {
    const long long free = fromEnvironment("Q5_FREE_BYTES");
    if (free < 0) return;
    st->f_frsize = 4096;
    st->f_bsize = 4096;
    st->f_bavail = st->f_bfree = static_cast<fsblkcnt_t>(free / 4096);
}

}  // namespace

extern "C" int rename(const char *from, const char *to) {
    static int calls = 0;
    if (++calls == fromEnvironment("Q5_FAIL_RENAME")) {
        errno = EIO;
        return -1;
    }
    return next<int (*)(const char *, const char *)>("rename")(from, to);
}

extern "C" int statvfs(const char *path, struct statvfs *st) {
    const int r = next<int (*)(const char *, struct statvfs *)>("statvfs")(path, st);
    if (r == 0) reportFree(st);
    return r;
}

extern "C" int fstatvfs(int fd, struct statvfs *st) {
    const int r = next<int (*)(int, struct statvfs *)>("fstatvfs")(fd, st);
    if (r == 0) reportFree(st);
    return r;
}
